// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's resources: the dialog templates, the window-menu string, and the
// items of the two lists. The control table lists the 77 controls of the panel
// in template order, which is also the Tab order; rectangles are dialog units.
#pragma once

#include "common/SetupNames.h"
#include "resources/Texts.h"

#include <array>
#include <cstddef>

namespace vantrel {

enum class Kind { Edit, Label, List, Button, Group, Check };

// A template label is either fixed text (the same in both languages) or a
// bilingual text shown in English until the language is switched.
struct TemplateLabel {
    const char* fixed = nullptr;
    Text text = Text::Count;
    constexpr TemplateLabel(std::nullptr_t) {}
    constexpr TemplateLabel(const char* s) : fixed(s) {}
    constexpr TemplateLabel(Text t) : text(t) {}
    constexpr const char* English() const { return fixed ? fixed : text == Text::Count ? "" : TextIn(text, 0); }
};

struct Control {
    int id;
    Kind kind;
    TemplateLabel label;
    int x, y, width, height;
};

inline constexpr const char* PanelCaption = "Vantrel V2.0";
inline constexpr int PanelWidth = 426;
inline constexpr int PanelHeight = 356;
inline constexpr const char* MenuAboutString = "&About Vantrel...";  // string 101
inline constexpr int AboutCommandId = 16;

inline constexpr int DialogFontPoints = 8;

// The ids of the controls that code reaches by id; the option boxes are
// reached through their frames' table (commands/CommandFrames.h).
inline constexpr int UpperLineId = 1000, LowerLineId = 1004;  // the two edit lines
inline constexpr int PortListId = 1001, BaudListId = 1002, BaudCaptionId = 1116;
inline constexpr int OpenComId = 1003, SendId = 1006, AutoSendId = 1007, FullLightId = 1087;
inline constexpr int CleanId = 1005, ResetId = 1060, DemoId = 1061, ClearDemoId = 1062, SendCommandId = 1067;
inline constexpr int CharTestId = 1095, SampleTextId = 1114, LanguageId = 1115, LineLogId = 1121;

inline constexpr std::array<Control, 77> PanelControls{{
    {UpperLineId, Kind::Edit, nullptr, 89, 39, 313, 35},
    {-1, Kind::Label, Text::PortCaption, 17, 17, 21, 8},
    {PortListId, Kind::List, nullptr, 39, 14, 34, 61},
    {BaudCaptionId, Kind::Label, Text::BaudCaption, 84, 17, 36, 8},
    {BaudListId, Kind::List, nullptr, 120, 14, 36, 65},
    {OpenComId, Kind::Button, Text::OpenCom, 23, 43, 50, 14},
    {CleanId, Kind::Button, Text::Clean, 89, 114, 50, 14},
    {SendId, Kind::Button, Text::Send, 23, 67, 50, 14},
    {AutoSendId, Kind::Button, Text::AutoSend, 23, 115, 50, 14},
    {1117, Kind::Group, Text::CommandStyle, 13, 135, 71, 214},
    {1118, Kind::Group, Text::SetBaudRate, 83, 135, 73, 214},
    {1119, Kind::Group, Text::SelectInternational, 155, 135, 129, 214},
    {1120, Kind::Group, Text::SetLanguage, 283, 135, 131, 214},
    {ResetId, Kind::Button, Text::Reset, 150, 114, 50, 14},
    {LowerLineId, Kind::Edit, nullptr, 89, 73, 313, 35},
    {DemoId, Kind::Button, Text::Demo, 211, 114, 50, 14},
    {ClearDemoId, Kind::Button, Text::ClearDemo, 272, 114, 50, 14},
    {1010, Kind::Check, SetupNameOf('C', '0'), 24, 156, 40, 10},
    {SendCommandId, Kind::Button, Text::SendCommand, 343, 114, 58, 14},
    {1011, Kind::Check, SetupNameOf('C', '1'), 24, 175, 40, 10},
    {1012, Kind::Check, SetupNameOf('C', '2'), 24, 194, 40, 10},
    {1064, Kind::Check, SetupNameOf('C', '9'), 24, 308, 40, 10},
    {1071, Kind::Check, SetupNameOf('C', '4'), 24, 213, 36, 10},
    {1072, Kind::Check, SetupNameOf('B', '1'), 95, 232, 32, 10},
    {1015, Kind::Check, SetupNameOf('C', '5'), 24, 232, 36, 10},
    {1016, Kind::Check, SetupNameOf('C', '6'), 24, 251, 36, 10},
    {1025, Kind::Check, SetupNameOf('C', '7'), 24, 271, 40, 10},
    {1076, Kind::Check, SetupNameOf('B', '7'), 95, 271, 36, 10},
    {1065, Kind::Check, SetupNameOf('C', ':'), 24, 327, 44, 10},
    {1063, Kind::Check, SetupNameOf('C', '8'), 24, 289, 28, 10},
    {1069, Kind::Check, SetupNameOf('B', '5'), 95, 156, 28, 10},
    {1070, Kind::Check, SetupNameOf('B', '4'), 95, 175, 28, 10},
    {1073, Kind::Check, SetupNameOf('B', '3'), 95, 194, 32, 10},
    {1074, Kind::Check, SetupNameOf('B', '2'), 95, 213, 32, 10},
    {1075, Kind::Check, SetupNameOf('B', '0'), 95, 251, 32, 10},
    {1077, Kind::Check, SetupNameOf('B', '6'), 95, 289, 36, 10},
    {1026, Kind::Check, SetupNameOf('S', '0'), 172, 156, 28, 10},
    {1079, Kind::Check, SetupNameOf('S', '1'), 172, 175, 40, 10},
    {1028, Kind::Check, SetupNameOf('S', '2'), 172, 194, 44, 10},
    {1029, Kind::Check, SetupNameOf('S', '3'), 172, 213, 28, 10},
    {1082, Kind::Check, SetupNameOf('S', '4'), 172, 232, 48, 10},
    {1083, Kind::Check, SetupNameOf('S', '5'), 172, 251, 40, 10},
    {1084, Kind::Check, SetupNameOf('S', '6'), 172, 271, 36, 10},
    {1085, Kind::Check, SetupNameOf('S', '7'), 172, 289, 40, 10},
    {1033, Kind::Check, SetupNameOf('S', '8'), 229, 156, 36, 10},
    {1088, Kind::Check, SetupNameOf('S', '9'), 229, 175, 40, 10},
    {1089, Kind::Check, SetupNameOf('S', ':'), 228, 194, 48, 10},
    {1090, Kind::Check, SetupNameOf('S', ';'), 229, 213, 40, 10},
    {1091, Kind::Check, SetupNameOf('S', '<'), 229, 232, 44, 10},
    {1092, Kind::Check, SetupNameOf('S', '='), 229, 251, 36, 10},
    {1093, Kind::Check, SetupNameOf('S', '>'), 229, 271, 44, 10},
    {1094, Kind::Check, SetupNameOf('S', '?'), 229, 289, 36, 10},
    {1042, Kind::Check, SetupNameOf('F', '0'), 306, 156, 36, 10},
    {1097, Kind::Check, SetupNameOf('F', '1'), 306, 175, 28, 10},
    {1098, Kind::Check, SetupNameOf('F', '2'), 306, 194, 36, 10},
    {1099, Kind::Check, SetupNameOf('F', '3'), 306, 213, 36, 10},
    {1100, Kind::Check, SetupNameOf('F', '4'), 306, 232, 36, 10},
    {1101, Kind::Check, SetupNameOf('F', '5'), 306, 251, 36, 10},
    {1102, Kind::Check, SetupNameOf('F', '6'), 306, 271, 36, 10},
    {1103, Kind::Check, SetupNameOf('F', '7'), 306, 289, 36, 10},
    {1104, Kind::Check, SetupNameOf('F', '8'), 306, 308, 36, 10},
    {1049, Kind::Check, SetupNameOf('F', '9'), 357, 156, 36, 10},
    {1106, Kind::Check, SetupNameOf('F', ':'), 357, 175, 36, 10},
    {1107, Kind::Check, SetupNameOf('F', ';'), 357, 194, 36, 10},
    {1108, Kind::Check, SetupNameOf('F', '<'), 357, 213, 36, 10},
    {1109, Kind::Check, SetupNameOf('F', '='), 357, 232, 36, 10},
    {1110, Kind::Check, SetupNameOf('F', '>'), 357, 251, 36, 10},
    {1111, Kind::Check, SetupNameOf('F', '?'), 357, 271, 36, 10},
    {1112, Kind::Check, SetupNameOf('F', '!'), 357, 289, 36, 10},
    {1113, Kind::Check, SetupNameOf('F', '$'), 357, 308, 36, 10},
    {FullLightId, Kind::Button, Text::FullLight, 23, 91, 50, 14},
    {CharTestId, Kind::Button, Text::CharTest80, 306, 13, 67, 14},
    {1096, Kind::Check, SetupNameOf('F', '@'), 306, 325, 36, 10},
    {1105, Kind::Check, SetupNameOf('F', 'D'), 357, 325, 36, 10},
    {SampleTextId, Kind::Button, Text::String1, 236, 14, 57, 13},
    {LanguageId, Kind::Button, "TO Chinese", 168, 13, 55, 14},
    {LineLogId, Kind::Button, Text::LineLog, 378, 13, 36, 14},  // the line log's window (also Ctrl+L)
}};

// The group frame whose rectangle holds a control; -1 when none does. The
// option boxes are the groups' children, also for assistive technology.
constexpr int GroupFrameOf(const Control& c) {
    for (const Control& g : PanelControls)
        if (g.kind == Kind::Group && c.x >= g.x && c.y >= g.y && c.x + c.width <= g.x + g.width &&
            c.y + c.height <= g.y + g.height)
            return g.id;
    return -1;
}

constexpr bool EveryBoxInAGroupAfterIt() {
    for (std::size_t i = 0; i < PanelControls.size(); ++i) {
        if (PanelControls[i].kind != Kind::Check) continue;
        const int group = GroupFrameOf(PanelControls[i]);
        if (group < 0) return false;
        for (std::size_t j = i; j < PanelControls.size(); ++j)
            if (PanelControls[j].id == group) return false;  // a parent is made before its children
    }
    return true;
}
static_assert(EveryBoxInAGroupAfterIt());

// The names under which assistive technology presents the controls that have
// no text of their own: a list's caption (less its colon), an edit line's name.
struct AccessibleName {
    int controlId;
    Text text;
};
inline constexpr std::array<AccessibleName, 4> AccessibleNames{{
    {UpperLineId, Text::UpperLineName},
    {LowerLineId, Text::LowerLineName},
    {PortListId, Text::PortCaption},
    {BaudListId, Text::BaudCaption},
}};

// The About box (template 100).
inline constexpr const char* AboutCaption = "About Vantrel";
inline constexpr int AboutWidth = 235;
inline constexpr int AboutHeight = 55;
inline constexpr Control AboutIcon{-1, Kind::Label, nullptr, 11, 17, 21, 20};
inline constexpr Control AboutText{-1, Kind::Label, "Vantrel Version 1.0", 40, 10, 119, 8};
inline constexpr Control AboutOk{1, Kind::Button, "OK", 178, 7, 50, 14};

// The control's place in the table; -1 for an unknown id.
constexpr int ControlIndex(int id) {
    for (std::size_t i = 0; i < PanelControls.size(); ++i)
        if (PanelControls[i].id == id) return static_cast<int>(i);
    return -1;
}

constexpr const char* TemplateLabelOf(int id) {
    const int i = ControlIndex(id);
    return i < 0 ? "" : PanelControls[static_cast<std::size_t>(i)].label.English();
}

constexpr std::size_t CountKind(Kind kind) {
    std::size_t n = 0;
    for (const Control& c : PanelControls) n += c.kind == kind;
    return n;
}
static_assert(CountKind(Kind::Check) == 54);
static_assert(CountKind(Kind::Button) == 13);
static_assert(CountKind(Kind::Group) == 4);

}  // namespace vantrel
