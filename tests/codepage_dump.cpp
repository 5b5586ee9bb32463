// SPDX-License-Identifier: GPL-3.0-or-later
// The glyphs and encodings that every platform must share, as text: the
// display reader's glyph for every byte of every code page and for every
// ASCII position of every international set, and the panel's bytes for every
// character of the Basic Multilingual Plane and one beyond it, in both of its
// code pages. The Linux build's dump and the Windows build's, run under Wine,
// must be the same (tests/windows/codepage_check.sh).
//   codepage_dump             the dump
//   codepage_dump --language  the panel's code page for the user's language
#include "common/CodePages.h"
#include "content/TextEncoding.h"
#include "display/DisplayModel.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace vantrel;

namespace {

// The bytes the panel sends for `text`, in hexadecimal.
std::string Encoded(std::u16string_view text, PanelCodePage codePage) {
    std::uint8_t bytes[8];
    const std::size_t n = EncodeText(text, codePage, bytes, sizeof bytes);
    std::string out;
    char hex[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        out += hex;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--language") == 0) {
        std::puts(CodePageFromLocale() == PanelCodePage::Gbk ? "GBK" : "W1252");
        return 0;
    }
    for (const CodePage& page : CodePages()) {
        std::printf("%s", page.label);
        for (int b = 0; b < 256; ++b)
            std::printf(" %04X", static_cast<unsigned>(display::CodePageGlyph(page.label, static_cast<std::uint8_t>(b))));
        std::printf("\n");
    }
    for (int set = 0; set < 16; ++set) {
        std::printf("set%d", set);
        for (int b = 0x20; b < 0x80; ++b)
            std::printf(" %04X", static_cast<unsigned>(display::InternationalGlyph(set, static_cast<std::uint8_t>(b))));
        std::printf("\n");
    }
    for (const auto& [name, codePage] : {std::pair{"W1252", PanelCodePage::Windows1252}, std::pair{"GBK", PanelCodePage::Gbk}}) {
        for (unsigned block = 0; block < 0x10000; block += 0x100) {
            std::string line = std::string(name) + " " + std::to_string(block >> 8);
            for (unsigned c = block; c < block + 0x100; ++c) line += " " + Encoded(std::u16string(1, static_cast<char16_t>(c)), codePage);
            std::printf("%s\n", line.c_str());
        }
        std::printf("%s astral %s\n", name, Encoded(u"\U0001F600", codePage).c_str());
    }
    return 0;
}
