// SPDX-License-Identifier: GPL-3.0-or-later
// The names that the display's set-up frame (STX ENQ group argument ETX)
// chooses among, each with the argument that chooses it: the command sets,
// the display's own speeds, the international sets and the code pages. The
// display reads the frames by these lists, the ranking tries each command set
// of the first, and the panel's option boxes are labelled from them. A new
// command set is a row here beside its command table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vantrel {

struct SetupName {
    std::uint8_t argument;
    const char* name;
};

// Group 'C'. No command set takes '3'.
inline constexpr std::array<SetupName, 10> CommandSetNames{{
    {'0', "DSP800"}, {'1', "ESCPOS"}, {'2', "ADM787"}, {'4', "AEDEX"}, {'5', "UTC_S"},
    {'6', "UTC_E"},  {'7', "CD5220"}, {'8', "NCR"},    {'9', "PD6000"}, {':', "ICD2002"},
}};

// Group 'B', rising: 300..9600 count down from '5'; 19200 is '7', 38400 is '6'.
inline constexpr std::array<SetupName, 8> SpeedNames{{
    {'5', "300"}, {'4', "600"}, {'3', "1200"}, {'2', "2400"},
    {'1', "4800"}, {'0', "9600"}, {'7', "19200"}, {'6', "38400"},
}};

// Group 'S', numbered as ESC R n. Two keep the space their boxes have always had.
inline constexpr std::array<SetupName, 16> InternationalSetNames{{
    {'0', "USA"},    {'1', "France"},   {'2', "Germany"}, {'3', "U.K"},     {'4', "Denmark1"}, {'5', "Sweden"},
    {'6', "Italy"},  {'7', "Spain1 "},  {'8', "Japan"},   {'9', "Norway"},  {':', "Denmark2"}, {';', "Spain2"},
    {'<', "LatinAm"}, {'=', "KOREA "},  {'>', "SlovCro"}, {'?', "China"},
}};

// Group 'F': '0'..'@' in order (W1257 after W1254), then '!', '$', 'D'.
inline constexpr std::array<SetupName, 20> CodePageNames{{
    {'0', "PC437"}, {'1', "JIS"},   {'2', "PC850"}, {'3', "PC860"}, {'4', "PC863"}, {'5', "PC865"}, {'6', "PC737"},
    {'7', "W1250"}, {'8', "W1251"}, {'9', "W1252"}, {':', "PC866"}, {';', "PC852"}, {'<', "PC858"}, {'=', "PC775"},
    {'>', "W1253"}, {'?', "W1254"}, {'@', "W1257"}, {'!', "PC864"}, {'$', "Farsi"}, {'D', "W1255"},
}};

// A group's names by its letter; none for another letter.
constexpr std::span<const SetupName> SetupGroup(char group) {
    switch (group) {
    case 'C': return CommandSetNames;
    case 'B': return SpeedNames;
    case 'S': return InternationalSetNames;
    case 'F': return CodePageNames;
    }
    return {};
}

// The name that `argument` chooses in `group`; null for an argument the group has not.
constexpr const char* SetupNameOf(char group, std::uint8_t argument) {
    for (const SetupName& n : SetupGroup(group))
        if (n.argument == argument) return n.name;
    return nullptr;
}

// The group's own copy of `name`; null for a name it has not.
constexpr const char* SetupNameIn(char group, std::string_view name) {
    for (const SetupName& n : SetupGroup(group))
        if (name == n.name) return n.name;
    return nullptr;
}

}  // namespace vantrel
