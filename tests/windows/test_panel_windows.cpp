// SPDX-License-Identifier: GPL-3.0-or-later
// The panel on Windows, offscreen under Wine. PanelOnDisplay runs from
// wine_e2e_check.sh, with Wine's COM1 on the virtual display, which then
// shows what the panel sent.
#include "app/Messages.h"
#include "app/PanelDlg.h"
#include "serial/SerialLink.h"
#include "windows/Wide.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

class WindowsPanel : public ::testing::Test {
protected:
    void SetUp() override {
        previous = vantrel::SetMessageFunction([this](const QString& text, const QString& informative) {
            messages << text;
            informatives << informative;
            // What the panel shows behind the box.
            openLabels << static_cast<QPushButton*>(panel->GetDlgItem(1003))->text();
        });
        panel = std::make_unique<vantrel::CPanelDlg>();
        panel->show();
    }
    void TearDown() override {
        panel.reset();
        vantrel::ClosePort();
        vantrel::SetMessageFunction(previous);
        _wputenv(L"VANTREL_COM1=");
    }
    void Click(int id) { QTest::mouseClick(panel->GetDlgItem(id), Qt::LeftButton); }
    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(panel->GetDlgItem(id)); }

    std::unique_ptr<vantrel::CPanelDlg> panel;
    QStringList messages, informatives, openLabels;
    vantrel::MessageFunction previous;
};

TEST_F(WindowsPanel, FailedOpenSaysWhyUnderTheMessage) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "vantrel-not-a-port.txt";
    std::ofstream(file) << "text\n";
    const struct { std::wstring device; QString reason; } cases[] = {
        {L"COM7", "No such device: COM7."},
        {file.wstring(), QString::fromStdWString(file.wstring()) + " is not a serial device."},
    };
    for (const auto& c : cases) {
        _wputenv((L"VANTREL_COM1=" + c.device).c_str());
        messages.clear();
        informatives.clear();
        openLabels.clear();
        Click(1003);
        EXPECT_EQ(messages, QStringList{"The port is already open!"});
        EXPECT_EQ(openLabels, QStringList{"Open COM"}) << "the box shows over a closed panel";
        ASSERT_EQ(informatives.size(), 1);
        EXPECT_TRUE(informatives[0].startsWith(c.reason)) << qPrintable(informatives[0]);
        EXPECT_EQ(panel->PortOpen, 0);
    }
    std::filesystem::remove(file);
}

// A drop-down list takes the wheel only while it has the focus, as a Win32 one.
TEST_F(WindowsPanel, TheWheelLeavesAListWithoutFocusAlone) {
    QApplication::setActiveWindow(panel.get());
    auto* baud = qobject_cast<QComboBox*>(panel->GetDlgItem(1002));
    Edit(1000)->setFocus();
    const int before = baud->currentIndex();
    const QPointF at(baud->width() / 2, baud->height() / 2);
    QWheelEvent notch(at, baud->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(baud, &notch);
    EXPECT_EQ(baud->currentIndex(), before);
}

// With Wine's COM12 mapped (wine_e2e_check.sh), a missing port's box tells
// how to reach COM12 through a name that has no device, as --list-ports does.
TEST_F(WindowsPanel, PanelOnDisplayMissingPortSuggestsAFreeName) {
    auto* ports = qobject_cast<QComboBox*>(panel->GetDlgItem(1001));
    ports->setCurrentIndex(6);  // COM7, which Wine does not have
    emit ports->activated(6);
    Click(1003);
    ASSERT_EQ(informatives.size(), 1);
    const QRegularExpression line(QStringLiteral("add the line COM([1-9])=COM12 to "));
    const QRegularExpressionMatch match = line.match(informatives[0]);
    ASSERT_TRUE(match.hasMatch()) << qPrintable(informatives[0]);
    EXPECT_FALSE(QStringList({"1", "2"}).contains(match.captured(1))) << "COM1 and COM2 are taken: " << qPrintable(informatives[0]);
}

// Qt's own texts follow the panel's language, from the translations folder
// beside the program, as the installer lays it out.
TEST_F(WindowsPanel, QtsOwnTextsFollowTheLanguage) {
    const auto ok = [] {
        QMessageBox box(QMessageBox::NoIcon, {}, {}, QMessageBox::Ok);
        return box.button(QMessageBox::Ok)->text();
    };
    EXPECT_EQ(ok(), "OK");
    Click(1115);
    EXPECT_EQ(ok(), QString::fromUtf8("确定"));
    Click(1115);
    EXPECT_EQ(ok(), "OK");
}

TEST_F(WindowsPanel, PanelOnDisplaySendsTwoLines) {
    Click(1003);
    ASSERT_EQ(panel->PortOpen, 1) << qPrintable(informatives.join(' '));
    Edit(1000)->setText("PANEL ON WINDOWS");
    Edit(1004)->setText("CLICKED SEND");
    Click(1006);
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(' '));
    EXPECT_EQ(vantrel::LastWriteResult(), vantrel::WriteResult::Ok);
}

}  // namespace

int main(int argc, char** argv) {
    // The environment does not reach a program under Wine for Qt's own
    // variables: the platform and the plugins are set here.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::addLibraryPath(QString::fromUtf8(VANTREL_QT_PLUGINS));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
