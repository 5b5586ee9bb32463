// SPDX-License-Identifier: GPL-3.0-or-later
// Which controls the port state and the auto-send cycle enable, and the four
// option groups.
#pragma once

#include <array>
#include <span>

namespace vantrel {

// Enabled only while the port is open: nine buttons and the 54 option boxes.
inline constexpr std::array<int, 63> PortDependentControls{
    1006, 1007, 1005, 1060, 1061, 1062, 1087, 1095, 1067,
    // "Command Style"
    1010, 1011, 1012, 1071, 1015, 1016, 1025, 1063, 1064, 1065,
    // "Set BaudRate"
    1069, 1070, 1073, 1074, 1072, 1075, 1076, 1077,
    // "Select International Fonts"
    1026, 1079, 1028, 1029, 1082, 1083, 1084, 1085, 1033, 1088, 1089, 1090, 1091, 1092, 1093, 1094,
    // "Set Language Fonts"
    1042, 1097, 1098, 1099, 1100, 1101, 1102, 1103, 1104, 1049, 1106, 1107, 1108, 1109, 1110, 1111,
    1096, 1112, 1113, 1105};

// Disabled while an auto-send cycle runs, in this order.
inline constexpr std::array<int, 8> SendingControls{1006, 1005, 1060, 1061, 1062, 1087, 1095, 1067};

// The option groups, each in on-screen order (column by column, top to bottom).
inline constexpr std::array<int, 10> CommandStyleBoxes{1010, 1011, 1012, 1071, 1015, 1016, 1025, 1063, 1064, 1065};
inline constexpr std::array<int, 8> BaudRateBoxes{1069, 1070, 1073, 1074, 1072, 1075, 1076, 1077};
inline constexpr std::array<int, 16> InternationalBoxes{1026, 1079, 1028, 1029, 1082, 1083, 1084, 1085,
                                                        1033, 1088, 1089, 1090, 1091, 1092, 1093, 1094};
inline constexpr std::array<int, 20> CodePageBoxes{1042, 1097, 1098, 1099, 1100, 1101, 1102, 1103, 1104, 1096,
                                                   1049, 1106, 1107, 1108, 1109, 1110, 1111, 1112, 1113, 1105};

inline constexpr std::array<std::span<const int>, 4> OptionGroups{
    std::span<const int>(CommandStyleBoxes), std::span<const int>(BaudRateBoxes),
    std::span<const int>(InternationalBoxes), std::span<const int>(CodePageBoxes)};

// The group that holds a box; empty for any other id.
constexpr std::span<const int> GroupOf(int boxId) {
    for (std::span<const int> group : OptionGroups)
        for (int id : group)
            if (id == boxId) return group;
    return {};
}

}  // namespace vantrel
