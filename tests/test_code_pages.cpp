// SPDX-License-Identifier: GPL-3.0-or-later
// The code pages' table against glibc's converter, both ways, every page and byte.
#include "commands/CommandFrames.h"
#include "common/CodePages.h"
#include "display/DisplayModel.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <optional>

using namespace vantrel;

namespace {

// One byte alone, converted and then flushed: a converter may hold a letter
// back for a point that may follow it.
char32_t ConverterGlyph(iconv_t cd, std::uint8_t byte) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in = static_cast<char>(byte);
    wchar_t out[4];
    char *from = &in, *to = reinterpret_cast<char*>(out);
    std::size_t fromLeft = 1, toLeft = sizeof out;
    if (iconv(cd, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1)) return NoGlyph;
    iconv(cd, nullptr, nullptr, &to, &toLeft);
    return sizeof out - toLeft == sizeof(wchar_t) ? static_cast<char32_t>(out[0]) : NoGlyph;
}

std::optional<std::uint8_t> ConverterByte(iconv_t cd, char32_t glyph) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    wchar_t in = static_cast<wchar_t>(glyph);
    char out[4];
    char *from = reinterpret_cast<char*>(&in), *to = out;
    std::size_t fromLeft = sizeof in, toLeft = sizeof out;
    if (iconv(cd, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1) || sizeof out - toLeft != 1) return std::nullopt;
    return static_cast<std::uint8_t>(out[0]);
}

TEST(CodePages, EveryByteOfEveryPageIsTheConvertersBothWays) {
    for (const CodePage& page : CodePages()) {
        const iconv_t toGlyph = iconv_open("WCHAR_T", page.converter), toByte = iconv_open(page.converter, "WCHAR_T");
        ASSERT_NE(toGlyph, reinterpret_cast<iconv_t>(-1)) << page.converter;
        ASSERT_NE(toByte, reinterpret_cast<iconv_t>(-1)) << page.converter;
        for (int b = 0; b < 256; ++b) {
            const auto byte = static_cast<std::uint8_t>(b);
            const char32_t glyph = page.Glyph(byte);
            EXPECT_EQ(glyph, ConverterGlyph(toGlyph, byte)) << page.label << " byte " << b;
            EXPECT_NE(glyph, display::UserCharacterMark) << page.label << ": the mark must never be text";
            if (glyph != NoGlyph) {
                EXPECT_EQ(page.Byte(glyph), ConverterByte(toByte, glyph)) << page.label << " byte " << b;
            }
        }
        iconv_close(toGlyph);
        iconv_close(toByte);
    }
    for (const OptionFrame& option : OptionFrameTable)
        if (option.group == 'F') {
            EXPECT_NE(FindCodePage(option.label), nullptr) << "no glyphs for " << option.label;
        }
    EXPECT_EQ(FindCodePage("W1252")->Byte(U'\u05D0'), std::nullopt) << "a character the page lacks";
}

}  // namespace
