// SPDX-License-Identifier: GPL-3.0-or-later
// The display's size and what one of its positions holds: a character, and
// the dots of a user-defined one. The screen keeps these; the glyphs make them.
#pragma once

#include <array>
#include <cstdint>

namespace vantrel::display {

inline constexpr int Rows = 2;
inline constexpr int Columns = 20;
// The mark that the headless output prints for a user-defined character:
// no code page has it, so it is never text.
inline constexpr char32_t UserCharacterMark = U'\u25A9';

using Pattern = std::array<std::uint8_t, 5>;  // five columns, bit 0 the top row of seven

// What a cell shows, decided when the byte came: its character, and the dots
// of a user-defined one (UserCharacterMark). A character converts: `= ' '`
// blanks a cell.
struct Cell {
    char32_t glyph = U' ';
    Pattern dots{};
    Cell() = default;
    Cell(char32_t g, const Pattern& p = {}) : glyph(g), dots(p) {}
};

}  // namespace vantrel::display
