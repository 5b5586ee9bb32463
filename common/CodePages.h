// SPDX-License-Identifier: GPL-3.0-or-later
// The single-byte code pages of the display and the panel: the character of
// each of a page's 256 bytes, read both ways (byte to glyph for the display,
// glyph to byte for an encoder). The glyphs come from one table made once from
// glibc's converter (CodePageTable.h, by scripts/codepage-table) and checked
// against it by the tests, so that every platform shows the same characters,
// whether it has such a converter or not. Double-byte sets (GBK) are not here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vantrel {

// The glyph of a byte that a page leaves undefined.
inline constexpr char32_t NoGlyph = U'\uFFFD';

struct CodePage {
    const char* label;      // the panel's label: "PC437", "W1252", ...
    const char* converter;  // the converter's name the table was made from: "CP437", ...
    std::array<char16_t, 256> glyphs;  // every one in the Basic Multilingual Plane

    char32_t Glyph(std::uint8_t byte) const { return glyphs[byte]; }
    // The byte that shows `glyph`; none for a character the page lacks.
    std::optional<std::uint8_t> Byte(char32_t glyph) const;
};

std::span<const CodePage> CodePages();
// A page by its label; null for a label that no page has.
const CodePage* FindCodePage(std::string_view label);

}  // namespace vantrel
