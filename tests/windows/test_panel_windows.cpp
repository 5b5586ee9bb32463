// SPDX-License-Identifier: GPL-3.0-or-later
// The panel on Windows, offscreen under Wine. PanelOnDisplay runs from
// wine_e2e_check.sh, with Wine's COM1 on the virtual display, which then
// shows what the panel sent.
#include "app/Messages.h"
#include "app/PanelDlg.h"
#include "serial/SerialLink.h"
#include "windows/Wide.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
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
    QStringList messages, informatives;
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
        Click(1003);
        EXPECT_EQ(messages, QStringList{"The port is already open!"});
        ASSERT_EQ(informatives.size(), 1);
        EXPECT_TRUE(informatives[0].startsWith(c.reason)) << qPrintable(informatives[0]);
        EXPECT_EQ(panel->PortOpen, 0);
    }
    std::filesystem::remove(file);
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
