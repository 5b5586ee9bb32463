// SPDX-License-Identifier: GPL-3.0-or-later
// The constant frames of the display's commands: the five panel buttons and the
// 54 option frames, in the order in which "Send Command" sends them.
#pragma once

#include "common/SetupNames.h"
#include "resources/ControlTable.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vantrel {

inline constexpr std::uint8_t STX = 0x02, ENQ = 0x05, ETX = 0x03, ClearByte = 0x0C;

inline constexpr std::array<std::uint8_t, 1> CleanFrame{ClearByte};
inline constexpr std::array<std::uint8_t, 2> ResetFrame{0x1B, '@'};
inline constexpr std::array<std::uint8_t, 4> DemoFrame{STX, ENQ, 'D', ETX};
inline constexpr std::array<std::uint8_t, 4> ClearDemoFrame{STX, ENQ, 0x07, ETX};
inline constexpr std::size_t FullLightLength = 40;  // one for each of the 2 x 20 positions
inline constexpr std::uint8_t FullLightByte = 0xB2;

inline constexpr std::size_t OptionFrameLength = 5;

struct OptionFrame {
    int boxId;
    const char* label;
    char group;             // 'C' command style, 'B' the display's rate, 'S' international set, 'F' code page
    std::uint8_t argument;  // '0' + choice number, with the departures of each group

    constexpr std::array<std::uint8_t, OptionFrameLength> Bytes() const {
        return {STX, ENQ, static_cast<std::uint8_t>(group), argument, ETX};
    }
};

// The label is the name that the frame chooses (common/SetupNames.h), which its box shows too.
constexpr OptionFrame Option(int id, char group, std::uint8_t argument) {
    return {id, SetupNameOf(group, argument), group, argument};
}

// Dispatch order: command style, the display's rate (rising), international set, code page.
inline constexpr std::array<OptionFrame, 54> OptionFrameTable{{
    // Command style: no style takes '3'.
    Option(1010, 'C', '0'), Option(1011, 'C', '1'), Option(1012, 'C', '2'), Option(1071, 'C', '4'),
    Option(1015, 'C', '5'), Option(1016, 'C', '6'), Option(1025, 'C', '7'), Option(1063, 'C', '8'),
    Option(1064, 'C', '9'), Option(1065, 'C', ':'),
    // The display's own rate: 300..9600 count down from '5'; 19200 is '7', 38400 is '6'.
    Option(1069, 'B', '5'), Option(1070, 'B', '4'), Option(1073, 'B', '3'), Option(1074, 'B', '2'),
    Option(1072, 'B', '1'), Option(1075, 'B', '0'), Option(1076, 'B', '7'), Option(1077, 'B', '6'),
    // International sets, numbered as ESC R n.
    Option(1026, 'S', '0'), Option(1079, 'S', '1'), Option(1028, 'S', '2'), Option(1029, 'S', '3'),
    Option(1082, 'S', '4'), Option(1083, 'S', '5'), Option(1084, 'S', '6'), Option(1085, 'S', '7'),
    Option(1033, 'S', '8'), Option(1088, 'S', '9'), Option(1089, 'S', ':'), Option(1090, 'S', ';'),
    Option(1091, 'S', '<'), Option(1092, 'S', '='), Option(1093, 'S', '>'), Option(1094, 'S', '?'),
    // Code pages: '0'..'@' in order (W1257 after W1254), then '!', '$', 'D'.
    Option(1042, 'F', '0'), Option(1097, 'F', '1'), Option(1098, 'F', '2'), Option(1099, 'F', '3'),
    Option(1100, 'F', '4'), Option(1101, 'F', '5'), Option(1102, 'F', '6'), Option(1103, 'F', '7'),
    Option(1104, 'F', '8'), Option(1049, 'F', '9'), Option(1106, 'F', ':'), Option(1107, 'F', ';'),
    Option(1108, 'F', '<'), Option(1109, 'F', '='), Option(1110, 'F', '>'), Option(1111, 'F', '?'),
    Option(1096, 'F', '@'), Option(1112, 'F', '!'), Option(1113, 'F', '$'), Option(1105, 'F', 'D'),
}};

// Each frame's box is a check box labelled with the name that the frame chooses.
constexpr bool EveryOptionIsItsCheckBox() {
    for (const OptionFrame& f : OptionFrameTable) {
        const int i = ControlIndex(f.boxId);
        if (i < 0 || !f.label || PanelControls[static_cast<std::size_t>(i)].kind != Kind::Check ||
            std::string_view(TemplateLabelOf(f.boxId)) != f.label)
            return false;
    }
    return true;
}
static_assert(EveryOptionIsItsCheckBox());

// Every name of the set-up lists has its frame, once.
constexpr bool EveryNameHasOneFrame() {
    for (const char group : {'C', 'B', 'S', 'F'})
        for (const SetupName& n : SetupGroup(group)) {
            int frames = 0;
            for (const OptionFrame& f : OptionFrameTable) frames += f.group == group && f.argument == n.argument;
            if (frames != 1) return false;
        }
    return true;
}
static_assert(EveryNameHasOneFrame());

// The senders. Each assembles its frame at the start of TxBuffer and writes
// exactly its length. All but Full Light report a failed write.
void SendCleanFrame();
void SendResetFrame();
void SendDemoFrame();
void SendClearDemoFrame();
void SendFullLightFrame();
void SendOptionFrame(const OptionFrame& frame);

}  // namespace vantrel
