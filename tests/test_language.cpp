// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelFixture.h"
#include "app/PanelTables.h"
#include "content/AutoSend.h"
#include "content/CharTest.h"
#include "content/LineMessage.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

struct Row {
    int id;
    const char* english;
    const char* chinese;
};

// The switched labels with the port closed and no cycle running, written out.
const Row Rows[] = {
    {1003, "Open COM", "打开串口"},     {1006, "Send", "发送数据"},
    {1087, "Full Light", "全屏点亮"},   {1007, "Auto Send", "自动发送"},
    {1095, "LanguageTest80H", "语言测试80H"}, {1114, "String 1", "字符串1"},
    {1115, "To Chinese", "To English"}, {1067, "Send Command", "发送指令"},
    {1005, "Clean", "清屏"},            {1060, "Reset", "复位"},
    {1061, "Demo", "演示"},             {1062, "ClearDemo", "取消演示"},
    {-1, "Port:", "串口:"},             {1116, "Baudrate:", "  波特率:"},
    {1117, "Command Style", "指令格式"}, {1118, "Set BaudRate", "设置波特率"},
    {1119, "Select International Fonts", "选择国际拓展字符"}, {1120, "Set Language Fonts", "选择语言"},
    {1121, "Line log", "线路日志"},
};

class Language : public PanelTest {
protected:
    QString Text(int id) const {
        QWidget* w = Item(id);
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
        return qobject_cast<QGroupBox*>(w)->title();
    }
    void Switch() { Click(1115); }
};

}  // namespace

TEST_F(Language, EveryLabelSwitchesToChineseAndBack) {
    Switch();
    EXPECT_EQ(UiLanguage, 1);
    for (const Row& r : Rows) EXPECT_EQ(Text(r.id), QString::fromUtf8(r.chinese)) << r.id;
    Switch();
    EXPECT_EQ(UiLanguage, 0);
    for (const Row& r : Rows) EXPECT_EQ(Text(r.id), QString::fromUtf8(r.english)) << r.id;
    EXPECT_EQ(Text(1115), "To Chinese") << "not the layout's \"TO Chinese\"";
    // Not switched: the caption and the option boxes.
    EXPECT_EQ(panel->windowTitle(), "Vantrel V2.0");
    EXPECT_EQ(Box(1092)->text(), "KOREA ");
}

TEST_F(Language, ClosedPortControlsAreRelabelledAndStayDisabled) {
    Switch();
    for (int id : PortDependentControls) EXPECT_FALSE(Item(id)->isEnabled()) << id;
    EXPECT_EQ(Text(1006), "发送数据");
    EXPECT_TRUE(pty.ReadUntilQuiet(50ms).empty()) << "the switch sends nothing";
}

TEST_F(Language, PortButtonFollowsThePortState) {
    Open();
    Switch();
    EXPECT_EQ(Text(1003), "关闭串口");
    for (int id : PortDependentControls) EXPECT_TRUE(Item(id)->isEnabled()) << id;
    Click(1003);
    EXPECT_EQ(Text(1003), "打开串口");
    EXPECT_EQ(Text(1007), "自动发送");
    Open();
    EXPECT_EQ(Text(1003), "关闭串口");
    Switch();
    EXPECT_EQ(Text(1003), "Close COM");
}

TEST_F(Language, SwitchDuringACycleLeavesItRunningAndAPressStillStopsIt) {
    Open();
    LineRecorder line(pty.Master());
    Click(1007);
    EXPECT_EQ(Text(1007), "Stop Auto");
    Switch();
    EXPECT_EQ(Text(1007), "停止发送");
    EXPECT_EQ(panel->AutoIdle, 0);
    Switch();
    EXPECT_EQ(Text(1007), "Stop Send");
    for (int id : SendingControls) EXPECT_FALSE(Item(id)->isEnabled()) << id;
    ASSERT_TRUE(line.WaitFor(81, 2s)) << "the cycle runs on";
    Click(1007);
    EXPECT_EQ(panel->AutoIdle, 1);
    EXPECT_EQ(Text(1007), "Auto Send");
    Switch();
    Click(1007);
    EXPECT_EQ(Text(1007), "停止发送");
    Click(1007);
    EXPECT_EQ(Text(1007), "自动发送");
}

TEST_F(Language, SwitchRestartsSamplesAndTestPages) {
    Open();
    Click(1114);
    Click(1095);
    Click(1095);
    pty.ReadUntilQuiet(50ms);
    Edit(1000)->setText("typed");
    Switch();
    EXPECT_EQ(Edit(1000)->text(), "     THANK YOU      ");
    EXPECT_EQ(Edit(1004)->text(), "  HAVE A NICE DAY   ");
    EXPECT_EQ(Edit(1000)->font().pixelSize(), 45);
    EXPECT_EQ(SampleTextIndex, 0);
    EXPECT_EQ(CharTestPage, 0);
    Click(1114);
    EXPECT_EQ(Edit(1000)->text(), "Customer Display!");
    EXPECT_EQ(Text(1114), "字符串2");
    Click(1095);
    EXPECT_EQ(pty.ReadUntilQuiet(50ms).at(1), 0x80);
    EXPECT_EQ(Text(1095), "语言测试90H");
}

TEST_F(Language, MessagesFollowTheLanguage) {
    Switch();
    panel->OnAutoSend();
    {
        PortMapping missing(1, "/nonexistent/ttyVANTREL");
        testing::internal::CaptureStderr();
        Click(1003);
        testing::internal::GetCapturedStderr();
    }
    Open();
    pty.CloseMaster();
    Click(1005);
    EXPECT_EQ(messages, QStringList({QString::fromUtf8("只有串口打开时才有效！"), QString::fromUtf8("串口打开失败!"),
                                     QString::fromUtf8("只有串口打开时才有效！")}));
    Switch();
    Click(1005);
    EXPECT_EQ(messages.last(), "Operation valid only when the port is open!");
}

// Qt's own texts follow the switch too: a message box's OK, the Save
// dialog's button (the same button box as the dialog's; a file dialog itself
// starts Qt's file-gathering thread, which ThreadSanitizer cannot see into).
TEST_F(Language, QtsOwnDialogsFollowTheLanguage) {
    const auto texts = [] {
        QMessageBox box(QMessageBox::NoIcon, {}, {}, QMessageBox::Ok);
        QDialogButtonBox save(QDialogButtonBox::Save);
        return QStringList{box.button(QMessageBox::Ok)->text(), save.button(QDialogButtonBox::Save)->text()};
    };
    EXPECT_EQ(texts(), QStringList({"OK", "Save"}));
    Switch();
    EXPECT_EQ(texts(), QStringList({QString::fromUtf8("确定"), QString::fromUtf8("保存")}));
    Switch();
    EXPECT_EQ(texts(), QStringList({"OK", "Save"}));
}
