// SPDX-License-Identifier: GPL-3.0-or-later
// A real panel, offscreen, with COM1 on a pseudo-terminal and every message
// recorded instead of shown.
#pragma once

#include "Pty.h"
#include "app/Messages.h"
#include "app/PanelDlg.h"
#include "serial/SerialLink.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousMessages = vantrel::SetMessageFunction([this](const QString& text, const QString& informative) {
            messages << text;
            informatives << informative;
        });
        panel = std::make_unique<vantrel::CPanelDlg>();
        panel->show();
    }
    void TearDown() override {
        panel.reset();
        vantrel::ClosePort();
        vantrel::SetMessageFunction(previousMessages);
    }

    QWidget* Item(int id) const { return panel->GetDlgItem(id); }
    QAbstractButton* Button(int id) const { return qobject_cast<QAbstractButton*>(Item(id)); }
    QCheckBox* Box(int id) const { return qobject_cast<QCheckBox*>(Item(id)); }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(Item(id)); }
    QComboBox* List(int id) const { return qobject_cast<QComboBox*>(Item(id)); }
    QString Label(int id) const { return Button(id)->text(); }

    void Click(int id) { QTest::mouseClick(Item(id), Qt::LeftButton); }
    // A user's choice in a list: selection change, then the notification.
    void Choose(int listId, int index) {
        List(listId)->setCurrentIndex(index);
        emit List(listId)->activated(index);
    }
    // Before a test runs a modal loop (a box, a menu): the loop would paint the
    // whole panel, and Qt spreads large fills over a thread pool that
    // ThreadSanitizer cannot see into. The small popup itself paints on one thread.
    void HidePanelForModalLoop() { panel->hide(); }
    // How long `f` took.
    template <typename F>
    static std::chrono::steady_clock::duration Timed(F&& f) {
        const auto start = std::chrono::steady_clock::now();
        f();
        return std::chrono::steady_clock::now() - start;
    }
    void Open() {
        Click(1003);
        ASSERT_EQ(panel->PortOpen, 1);
    }

    Pty pty;
    PortMapping mapping{1, pty.Path()};
    QStringList messages;
    QStringList informatives;  // the text under each message
    vantrel::MessageFunction previousMessages;
    std::unique_ptr<vantrel::CPanelDlg> panel;
};
