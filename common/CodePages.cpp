// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/CodePages.h"
#include "common/CodePageTable.h"

namespace vantrel {

std::optional<std::uint8_t> CodePage::Byte(char32_t glyph) const {
    if (glyph == NoGlyph) return std::nullopt;
    for (std::size_t b = 0; b < glyphs.size(); ++b)
        if (glyphs[b] == glyph) return static_cast<std::uint8_t>(b);
    return std::nullopt;
}

std::span<const CodePage> CodePages() { return CodePageTable; }

const CodePage* FindCodePage(std::string_view label) {
    for (const CodePage& page : CodePageTable)
        if (label == page.label) return &page;
    return nullptr;
}

}  // namespace vantrel
