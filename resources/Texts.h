// SPDX-License-Identifier: GPL-3.0-or-later
// Every text that the panel shows in both languages, and the labels that the
// language button sets. Nothing else spells a bilingual label or message.
#pragma once

#include <array>
#include <cstddef>

namespace vantrel {

enum class Text {
    OpenCom, CloseCom, Send, FullLight, AutoSend, StopSend, StopAuto,
    CharTest80, CharTest90, CharTestA0, CharTestB0, CharTestC0, CharTestD0, CharTestE0, CharTestF0,
    String1, String2, String3,
    ToOtherLanguage, SendCommand, Clean, Reset, Demo, ClearDemo,
    PortCaption, BaudCaption, CommandStyle, SetBaudRate, SelectInternational, SetLanguage,
    PortClosedMessage, OpenFailedMessage,
    // Why an open failed, under the open-failure message; and the port list's details.
    NoDeviceReason, PortsFound, NoPortsFound, BusyReason, AccessDeniedReason, NotSerialReason, OtherOpenReason,
    NoDevice,
    // What assistive technology calls the two edit lines.
    UpperLineName, LowerLineName,
    // Why a write failed, under the port-closed message.
    WriteGoneReason, WriteStalledReason, WriteDroppedReason, WriteNotOpenReason, WriteNotTakenReason,
    // The line log window.
    LineLog, LogTime, LogControl, LogBytes, LogText, LogReading, LogResult, LogSave, LogCopy, LogClear,
    LogEmulation, LogExpected, LogScreenUnknown, LogDropped, LogOk, LogFailed, LogOpened, LogPattern,
    LogPrinter,
    LogClosed, LogDiscarded, LogEarlierDiscarded, LogSaveFailed,
    Count
};

struct Bilingual {
    Text id;
    const char* english;
    const char* chinese;
};

// UTF-8, in the order of the enum (checked below).
inline constexpr std::array<Bilingual, static_cast<std::size_t>(Text::Count)> Texts{{
    {Text::OpenCom, "Open COM", "打开串口"},
    {Text::CloseCom, "Close COM", "关闭串口"},
    {Text::Send, "Send", "发送数据"},
    {Text::FullLight, "Full Light", "全屏点亮"},
    {Text::AutoSend, "Auto Send", "自动发送"},
    {Text::StopSend, "Stop Send", "停止发送"},   // a running cycle, relabelled by the language switch
    {Text::StopAuto, "Stop Auto", "停止发送"},   // a running cycle, labelled when it starts
    {Text::CharTest80, "LanguageTest80H", "语言测试80H"},
    {Text::CharTest90, "LanguageTest90H", "语言测试90H"},
    {Text::CharTestA0, "LanguageTestA0H", "语言测试A0H"},
    {Text::CharTestB0, "LanguageTestB0H", "语言测试B0H"},
    {Text::CharTestC0, "LanguageTestC0H", "语言测试C0H"},
    {Text::CharTestD0, "LanguageTestD0H", "语言测试D0H"},
    {Text::CharTestE0, "LanguageTestE0H", "语言测试E0H"},
    {Text::CharTestF0, "LanguageTestF0H", "语言测试F0H"},
    {Text::String1, "String 1", "字符串1"},
    {Text::String2, "String 2", "字符串2"},
    {Text::String3, "String 3", "字符串3"},
    {Text::ToOtherLanguage, "To Chinese", "To English"},
    {Text::SendCommand, "Send Command", "发送指令"},
    {Text::Clean, "Clean", "清屏"},
    {Text::Reset, "Reset", "复位"},
    {Text::Demo, "Demo", "演示"},
    {Text::ClearDemo, "ClearDemo", "取消演示"},
    {Text::PortCaption, "Port:", "串口:"},
    {Text::BaudCaption, "Baudrate:", "  波特率:"},
    {Text::CommandStyle, "Command Style", "指令格式"},
    {Text::SetBaudRate, "Set BaudRate", "设置波特率"},
    {Text::SelectInternational, "Select International Fonts", "选择国际拓展字符"},
    {Text::SetLanguage, "Set Language Fonts", "选择语言"},
    {Text::PortClosedMessage, "Operation valid only when the port is open!", "只有串口打开时才有效！"},
    {Text::OpenFailedMessage, "The port is already open!", "串口打开失败!"},
    {Text::NoDeviceReason, "No such device: %1.", "设备不存在：%1。"},
    {Text::PortsFound, "Serial ports on this computer: %1.", "本机的串口：%1。"},
    {Text::NoPortsFound, "No serial port was found on this computer.", "本机未发现串口。"},
    {Text::BusyReason, "%1 is busy: another program holds it.", "%1 正被其他程序占用。"},
    {Text::AccessDeniedReason,
     "Permission denied on %1. Add yourself to the dialout group and log in again:\nsudo adduser $USER dialout",
     "无权访问 %1。请将用户加入 dialout 组后重新登录：\nsudo adduser $USER dialout"},
    {Text::NotSerialReason, "%1 is not a serial device.", "%1 不是串口设备。"},
    {Text::OtherOpenReason, "%1 cannot be opened.", "无法打开 %1。"},
    {Text::NoDevice, "no device", "无设备"},
    {Text::UpperLineName, "Display line 1", "显示第一行"},
    {Text::LowerLineName, "Display line 2", "显示第二行"},
    {Text::WriteGoneReason, "The device is gone (unplugged?). Reconnect it, then close and open the port.",
     "设备已断开（被拔出？）。请重新连接，然后关闭并重新打开串口。"},
    {Text::WriteStalledReason,
     "The line took nothing within the write's time limit: the far end holds it with flow control, or the cable is wrong.",
     "线路在写入时限内没有接收数据：对端用流控制占住了线路，或电缆接错。"},
    {Text::WriteDroppedReason, "The network connection dropped.", "网络连接已断开。"},
    {Text::WriteNotOpenReason, "The port is not open.", "串口未打开。"},
    {Text::WriteNotTakenReason, "The server did not take %1 bytes.", "服务器未接收 %1 个字节。"},
    {Text::LineLog, "Line log", "线路日志"},
    {Text::LogTime, "Time", "时间"},
    {Text::LogControl, "Control", "控件"},
    {Text::LogBytes, "Bytes", "字节"},
    {Text::LogText, "Text", "文本"},
    {Text::LogReading, "The display reads", "显示器解读"},
    {Text::LogResult, "Result", "结果"},
    {Text::LogSave, "Save...", "保存..."},
    {Text::LogCopy, "Copy", "复制"},
    {Text::LogClear, "Clear", "清除"},
    {Text::LogEmulation, "Display set up as:", "显示器设置为："},
    {Text::LogExpected, "The display should show:", "显示器应显示："},
    {Text::LogScreenUnknown, "Not cleared since the port was opened: the display may also show older text.",
     "自串口打开后尚未清屏：显示器可能还显示较早的内容。"},
    {Text::LogDropped, "%1 older rows dropped", "已丢弃 %1 条较早的记录"},
    {Text::LogOk, "ok (%1 ms)", "成功（%1 毫秒）"},
    {Text::LogFailed, "failed: %1", "失败：%1"},
    {Text::LogOpened, "port opened at %1 bit/s", "串口已打开，%1 bit/s"},
    {Text::LogPattern, "%1 pattern %2", "%1 图案 %2"},
    {Text::LogPrinter, "%1 bytes passed the display to the printer (ESC = n).", "%1 字节经显示器转给打印机（ESC = n）。"},
    {Text::LogClosed, "port closed", "串口已关闭"},
    {Text::LogDiscarded, "ok (%1 ms), but a later write's discard of the output queue may have taken it",
     "成功（%1 毫秒），但之后一次写入清空输出队列时可能将其丢弃"},
    {Text::LogEarlierDiscarded, "%1; the %2 writes before it may have been discarded with it",
     "%1；之前的 %2 次写入可能已随之被丢弃"},
    {Text::LogSaveFailed, "Cannot save the line log in %1: %2", "无法将线路日志保存到 %1：%2"},
}};

constexpr bool TextsInEnumOrder() {
    for (std::size_t i = 0; i < Texts.size(); ++i)
        if (static_cast<std::size_t>(Texts[i].id) != i) return false;
    return true;
}
static_assert(TextsInEnumOrder());

constexpr const char* TextIn(Text t, int language) {
    const Bilingual& row = Texts[static_cast<std::size_t>(t)];
    return language == 1 ? row.chinese : row.english;
}

// The test-page button's label for page 0..7.
constexpr Text CharTestLabel(int page) {
    return static_cast<Text>(static_cast<int>(Text::CharTest80) + (page & 7));
}

// The labels that the language switch sets, in the order it sets them. Two rows
// depend on state: `whenSet` replaces `text` while the row's flag is set
// (the port button while the port is open, the auto-send toggle while a cycle runs).
enum class LabelState { None, PortOpen, CycleRunning };

struct LabelRow {
    int controlId;
    Text text;
    LabelState state = LabelState::None;
    Text whenSet = Text::Count;
};

inline constexpr std::array<LabelRow, 18> LabelTable{{
    {1003, Text::OpenCom, LabelState::PortOpen, Text::CloseCom},
    {1006, Text::Send},
    {1087, Text::FullLight},
    {1007, Text::AutoSend, LabelState::CycleRunning, Text::StopSend},
    {1095, Text::CharTest80},
    {1114, Text::String1},
    {1115, Text::ToOtherLanguage},
    {1067, Text::SendCommand},
    {1005, Text::Clean},
    {1060, Text::Reset},
    {1061, Text::Demo},
    {1062, Text::ClearDemo},
    {-1, Text::PortCaption},
    {1116, Text::BaudCaption},
    {1117, Text::CommandStyle},
    {1118, Text::SetBaudRate},
    {1119, Text::SelectInternational},
    {1120, Text::SetLanguage},
}};

}  // namespace vantrel
