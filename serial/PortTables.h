// SPDX-License-Identifier: GPL-3.0-or-later
// The port and line-speed choices of the panel's two lists, by list index.
#pragma once

#include <array>
#include <cstddef>

namespace vantrel {

inline constexpr std::array<const char*, 9> PortNames{
    "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"};

inline constexpr std::array<int, 8> BaudRates{300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

// Every standard rate a line may run at (a till's, a pseudo-terminal writer's),
// the list's and more: what a recording may say a chunk came at, and what
// vantrel-display listens at.
inline constexpr std::array<int, 30> LineRates{
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

// A line speed that is not a standard rate.
inline constexpr int UnknownBaud = -1;

inline constexpr int DefaultPortIndex = 0;  // "COM1"
inline constexpr int DefaultBaudIndex = 5;  // 9600

// A list with no selection (index -1) or any other out-of-table index
// falls back to the defaults.
constexpr const char* PortNameForIndex(int index) {
    return index >= 0 && static_cast<std::size_t>(index) < PortNames.size() ? PortNames[index]
                                                                             : PortNames[DefaultPortIndex];
}

constexpr int BaudValueForIndex(int index) {
    return index >= 0 && static_cast<std::size_t>(index) < BaudRates.size() ? BaudRates[index]
                                                                             : BaudRates[DefaultBaudIndex];
}

static_assert(BaudRates[DefaultBaudIndex] == 9600);

}  // namespace vantrel
