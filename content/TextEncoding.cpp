// SPDX-License-Identifier: GPL-3.0-or-later
#include "content/TextEncoding.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iconv.h>

namespace vantrel {

namespace {

iconv_t ConverterFor(PanelCodePage codePage) {
    // Opened once each and kept for the life of the program.
    static const iconv_t windows1252 = iconv_open("WINDOWS-1252", "WCHAR_T");
    static const iconv_t gbk = iconv_open("GBK", "WCHAR_T");
    return codePage == PanelCodePage::Gbk ? gbk : windows1252;
}

// The next code point of UTF-16 text; a lone surrogate yields U+FFFD.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
    const char16_t u = text[i++];
    if (u >= 0xD800 && u <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i++] - 0xDC00);
    if (u >= 0xD800 && u <= 0xDFFF) return 0xFFFD;
    return u;
}

}  // namespace

PanelCodePage CodePageFromLocale() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return std::strncmp(value, "zh", 2) == 0 ? PanelCodePage::Gbk : PanelCodePage::Windows1252;
    }
    return PanelCodePage::Windows1252;
}

std::size_t EncodeText(std::u16string_view text, PanelCodePage codePage, std::uint8_t* out, std::size_t capacity) {
    const iconv_t cd = ConverterFor(codePage);
    std::size_t written = 0;
    std::size_t i = 0;
    while (written < capacity && i < text.size()) {
        wchar_t wide = static_cast<wchar_t>(NextCodePoint(text, i));
        char bytes[8];
        char* in = reinterpret_cast<char*>(&wide);
        std::size_t inLeft = sizeof wide;
        char* to = bytes;
        std::size_t toLeft = sizeof bytes;
        std::size_t n = 0;
        if (cd != reinterpret_cast<iconv_t>(-1) && iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1))
            n = sizeof bytes - toLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        if (n == 0) {
            bytes[0] = '?';
            n = 1;
        }
        // A character is sent whole or not at all: half of a double-byte one
        // would pair with whatever byte the display reads next.
        if (n > capacity - written) break;
        std::copy_n(bytes, n, out + written);
        written += n;
    }
    return written;
}

}  // namespace vantrel
