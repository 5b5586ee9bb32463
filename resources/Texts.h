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
    NoDeviceReason, PortsFound, ReachHint, NoPortsFound, BusyReason, AccessDeniedReason, NotSerialReason, OtherOpenReason,
    NoDevice, StateAccessDenied, StateNotSerial, StateCannotOpen,
    // What assistive technology calls the two edit lines.
    UpperLineName, LowerLineName,
    // Why a write failed, under the port-closed message.
    WriteGoneReason, WriteStalledReason, WriteDroppedReason, WriteNotOpenReason, WriteNotTakenReason,
    // The line log window.
    LineLog, LogTime, LogControl, LogBytes, LogText, LogReading, LogResult, LogSave, LogCopy, LogClear,
    LogEmulation, LogExpected, LogScreenUnknown, LogDropped, LogOk, LogTakenByServer, LogHandedToNetwork, LogFailed, LogOpened, LogPattern,
    LogPrinter,
    LogClosed, LogDiscarded, EarlierRowsDiscarded, EarlierRunsDiscarded, EarlierRunsOnlyDiscarded,
    LogSaveFailed,
    LogNotOpened, LogOpenFailed, LogUnread,
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
    {Text::ReachHint, "To choose %1 in the panel, add the line %2=%1 to %3, then choose %2.",
     "要在面板中选择 %1，请在 %3 中加入一行 %2=%1，然后选择 %2。"},
    {Text::NoPortsFound, "No serial port was found on this computer.", "本机未发现串口。"},
    {Text::BusyReason, "%1 is busy: another program holds it.", "%1 正被其他程序占用。"},
    {Text::AccessDeniedReason,
     "Permission denied on %1. Add yourself to the dialout group and log in again:\nsudo adduser $USER dialout",
     "无权访问 %1。请将用户加入 dialout 组后重新登录：\nsudo adduser $USER dialout"},
    {Text::NotSerialReason, "%1 is not a serial device.", "%1 不是串口设备。"},
    {Text::OtherOpenReason, "%1 cannot be opened.", "无法打开 %1。"},
    {Text::NoDevice, "no device", "无设备"},
    {Text::StateAccessDenied, "access denied", "无权访问"},
    {Text::StateNotSerial, "not serial", "不是串口"},
    {Text::StateCannotOpen, "cannot open", "无法打开"},
    {Text::UpperLineName, "Display line 1", "显示第一行"},
    {Text::LowerLineName, "Display line 2", "显示第二行"},
    {Text::WriteGoneReason, "The device is gone (unplugged?). Reconnect it, then close and open the port.",
     "设备已断开（被拔出？）。请重新连接，然后关闭并重新打开串口。"},
    {Text::WriteStalledReason,
     "The line took nothing within the write's time limit: the far end holds it with flow control, or the cable is wrong.",
     "线路在写入时限内没有接收数据：对端用流控制占住了线路，或电缆接错。"},
    {Text::WriteDroppedReason, "The network connection dropped.", "网络连接已断开。"},
    {Text::WriteNotOpenReason, "The port is not open.", "串口未打开。"},
    {Text::WriteNotTakenReason, "The server did not take at least the last %1 bytes.", "服务器至少有最后 %1 个字节未接收。"},
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
    {Text::LogTakenByServer, "taken by the server (%1 ms)", "服务器已接收（%1 毫秒）"},
    {Text::LogHandedToNetwork, "handed to the network (%1 ms)", "已交给网络（%1 毫秒）"},
    {Text::LogFailed, "failed: %1", "失败：%1"},
    {Text::LogOpened, "port opened at %1 bit/s", "串口已打开，%1 bit/s"},
    {Text::LogPattern, "%1 pattern %2", "%1 图案 %2"},
    {Text::LogPrinter, "%1 bytes passed the display to the printer (ESC = n).", "%1 字节经显示器转给打印机（ESC = n）。"},
    {Text::LogClosed, "port closed", "串口已关闭"},
    {Text::LogDiscarded, "ok (%1 ms), but a later write's discard of the output queue may have taken it",
     "成功（%1 毫秒），但之后一次写入清空输出队列时可能将其丢弃"},
    {Text::EarlierRowsDiscarded, "the %1 writes before it may have been discarded with it from the output queue",
     "之前的 %1 次写入可能已随之从输出队列中被丢弃"},
    {Text::EarlierRunsDiscarded,
     "bytes queued by earlier writes (the %1 before it in this run, or of earlier runs) may have been discarded with "
     "it from the output queue",
     "之前写入排队的字节（本次运行中之前的 %1 次写入，或之前运行的写入）可能已随之从输出队列中被丢弃"},
    {Text::EarlierRunsOnlyDiscarded,
     "bytes queued by earlier writes (of earlier runs) may have been discarded with it from the output queue",
     "之前写入排队的字节（之前运行的写入）可能已随之从输出队列中被丢弃"},
    {Text::LogSaveFailed, "Cannot save the line log in %1: %2", "无法将线路日志保存到 %1：%2"},
    {Text::LogNotOpened, "No port opened yet: what the display shows is not known.",
     "尚未打开串口：不知道显示器现在显示什么。"},
    {Text::LogOpenFailed, "port not opened at %1 bit/s: %2", "串口未能以 %1 bit/s 打开：%2"},
    {Text::LogUnread, "[unread %1]", "[未能解读 %1]"},
}};

// The line log's Chinese for the display's own words: what it read (the
// words of its command tables, display/Commands.cpp, and what their actions
// add) and its set-up (the country names among it). "%1" to "%3" stand for
// words of their own, which are looked up in turn. A phrase the table lacks
// stays English.
struct Phrase {
    const char* english;
    const char* chinese;
};

inline constexpr Phrase DisplayPhrases[] = {
    // What the display read.
    {"text", "文本"},
    {"to printer", "转给打印机"},
    {"ignored in string mode", "字符串模式下忽略"},
    {"macro: cut off inside a command (dropped)", "宏：在命令中途截断（已丢弃）"},
    {"not read", "未能解读"},
    {"set-up: emulation", "设置：指令格式"},
    {"set-up: own speed", "设置：自身波特率"},
    {"set-up: international set", "设置：国际字符集"},
    {"set-up: code page", "设置：代码页"},
    {"demonstration on", "演示开"},
    {"demonstration off", "演示关"},
    {"initialise", "初始化"},
    {"back", "退格"},
    {"back, erasing", "退格并擦除"},
    {"forward", "前进一格"},
    {"line feed", "换行"},
    {"home", "光标归位"},
    {"clear", "清屏"},
    {"carriage return", "回车"},
    {"cursor to position", "光标移至位置"},
    {"clear positions", "清除位置"},
    {"show the saved message", "显示保存的信息"},
    {"save the shown message", "保存所显示的信息"},
    {"international set", "国际字符集"},
    {"clear cursor line", "清除光标所在行"},
    {"cursor up", "光标上移"},
    {"cursor down", "光标下移"},
    {"cursor left", "光标左移"},
    {"cursor right", "光标右移"},
    {"left-most position", "最左位置"},
    {"right-most position", "最右位置"},
    {"bottom position", "最下位置"},
    {"overwrite mode", "覆盖模式"},
    {"vertical scroll mode", "垂直滚动模式"},
    {"horizontal scroll mode", "水平滚动模式"},
    {"cursor", "光标"},
    {"cursor on", "光标开"},
    {"cursor off", "光标关"},
    {"blink", "闪烁"},
    {"blinking", "闪烁"},
    {"blinking off", "闪烁关"},
    {"blinking characters on", "字符闪烁开"},
    {"blinking characters off", "字符闪烁关"},
    {"time counter set", "设置时间计数"},
    {"time counter shown", "显示时间计数"},
    {"time display", "时间显示"},
    {"brightness", "亮度"},
    {"reverse characters", "反白字符"},
    {"DTR signal", "DTR 信号"},
    {"self-test", "自检"},
    {"diagnostic", "诊断"},
    {"macro definition", "宏定义"},
    {"macro run", "运行宏"},
    {"period display (not drawn)", "句点显示（未绘出）"},
    {"comma display (not drawn)", "逗号显示（未绘出）"},
    {"semicolon display (not drawn)", "分号显示（未绘出）"},
    {"annunciator (not drawn)", "指示符（未绘出）"},
    {"period (not drawn)", "句点（未绘出）"},
    {"extended command", "扩展命令"},
    {"window (read, not drawn)", "窗口（已读取，未绘出）"},
    {"scroll window", "滚动窗口"},
    {"code table", "代码表"},
    {"character set", "字符集"},
    {"character set (external memory, not fitted: ignored)", "字符集（外部存储器未安装：忽略）"},
    {"characters", "字符"},
    {"select peripheral:", "选择外设："},
    {"printer", "打印机"},
    {"display", "显示器"},
    {"printer and display", "打印机和显示器"},
    {"user-defined characters", "自定义字符"},
    {"user-defined character deleted", "删除自定义字符"},
    {"user-defined characters kept", "保存自定义字符"},
    {"user-defined characters restored", "恢复自定义字符"},
    {"demonstration message stored", "保存演示信息"},
    {"command type", "指令格式"},
    {"reset", "复位"},
    {"to the enhanced set:", "转到增强指令集："},
    {"to the standard set:", "转到标准指令集："},
    {"upper line", "上行"},
    {"lower line", "下行"},
    {"both lines", "两行"},
    {"upper row", "上行"},
    {"lower row", "下行"},
    {"both rows", "两行"},
    {"upper line scrolls", "上行滚动"},
    {"upper line scrolls once", "上行滚动一次"},
    {"attention code now", "引导码改为"},
    {"stop trapping", "停止捕获"},
    {"end of line", "行尾"},
    {"clear upper line", "清除上行"},
    {"clear lower line", "清除下行"},
    {"clear field 1", "清除字段 1"},
    {"clear field 2", "清除字段 2"},
    {"row effect:", "行效果："},
    {"shift mode", "移位模式"},
    {"rotation", "旋转"},
    {"cleared, shift mode", "已清除，移位模式"},
    {"erase display", "擦除显示"},
    {"screen save on (not drawn)", "屏幕保护开（未绘出）"},
    {"screen save off", "屏幕保护关"},
    {"read display ID byte (no answer here)", "读取显示器 ID 字节（此处无应答）"},
    {"read display ID (no answer here)", "读取显示器 ID（此处无应答）"},
    {"ESC shown", "显示 ESC"},
    {"on", "开"},
    {"off", "关"},
    {"steady", "常亮"},
    {"display off", "显示关闭"},
    {"deleted", "已删除"},
    {"(out of range: ignored)", "（超出范围：忽略）"},
    {"(in a macro: ignored)", "（在宏中：忽略）"},
    {"(no ETX: ignored)", "（缺少 ETX：忽略）"},
    {"(no such option: ignored)", "（无此选项：忽略）"},
    {"(no macro: ignored)", "（无宏：忽略）"},
    {"(only in overwrite mode: ignored)", "（仅在覆盖模式下有效：忽略）"},
    {"(US ^ inside: not defined)", "（含 US ^：未定义）"},
    {"(longer than 80 bytes: not defined; the rest is read as normal data)", "（超过 80 字节：未定义；其余按普通数据读取）"},
    {"(string mode ends)", "（字符串模式结束）"},
    {"macro: %1", "宏：%1"},
    {"every %1 ms", "每 %1 毫秒"},
    {"columns %1 to %2", "第 %1 至 %2 列"},
    {"%1 to %2 (%3 defined)", "%1 至 %2（已定义 %3 个）"},
    {"%1 to %2", "%1 至 %2"},
    {"US ( %1, %2 bytes (read, not drawn)", "US ( %1，%2 字节（已读取，未绘出）"},
    {"%1 bytes", "%1 字节"},
    {"Russia (%1)", "俄罗斯（%1）"},
    {"at the upper line's last %1", "在上行倒数第 %1 位"},
    // Its set-up.
    {"demo on", "演示开"},
    {"demo off", "演示关"},
    {"printer selected", "已选择打印机"},
    {"printer and display selected", "已选择打印机和显示器"},
    {"macro running", "宏运行中"},
    {"line at %1, display expects %2", "线路速率 %1，显示器需要 %2"},
    {"an unknown speed", "未知速率"},
    {"%1 ms", "%1 毫秒"},
    // The international sets.
    {"USA", "美国"},
    {"France", "法国"},
    {"Germany", "德国"},
    {"U.K", "英国"},
    {"Denmark1", "丹麦1"},
    {"Denmark2", "丹麦2"},
    {"Sweden", "瑞典"},
    {"Italy", "意大利"},
    {"Spain1", "西班牙1"},
    {"Spain2", "西班牙2"},
    {"Japan", "日本"},
    {"Norway", "挪威"},
    {"LatinAm", "拉丁美洲"},
    {"KOREA", "韩国"},
    {"SlovCro", "斯洛文尼亚/克罗地亚"},
    {"China", "中国"},
};

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

inline constexpr std::array<LabelRow, 19> LabelTable{{
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
    {1121, Text::LineLog},
}};

}  // namespace vantrel
