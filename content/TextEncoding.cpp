// SPDX-License-Identifier: GPL-3.0-or-later
#include "content/TextEncoding.h"

#include "common/CodePages.h"
#include "common/ControlCharacters.h"
#include "content/DoubleByteSet.h"

#include <algorithm>

namespace vantrel {

namespace {

// The next code point of UTF-16 text; a lone surrogate yields U+FFFD.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
    const char16_t u = text[i++];
    if (u >= 0xD800 && u <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i++] - 0xDC00);
    if (u >= 0xD800 && u <= 0xDFFF) return 0xFFFD;
    return u;
}

// The bytes of one character, at most two; 0 when the code page lacks it.
// Neither set has a character beyond the Basic Multilingual Plane. The
// Private Use Area has no agreed characters: Windows' code page 936 puts
// some of it in GBK's user-defined rows, glibc's GBK none; on both it is '?'.
std::size_t Encode(char32_t c, PanelCodePage codePage, std::uint8_t out[2]) {
    // A control character is no text: sent, it would be a command to the display.
    if (c > 0xFFFF || IsControlCharacter(c)) return 0;
    if (codePage == PanelCodePage::Gbk)
        return c >= 0xE000 && c <= 0xF8FF ? 0 : EncodeGbk(static_cast<char16_t>(c), out);
    static const CodePage* const windows1252 = FindCodePage("W1252");
    const auto byte = windows1252->Byte(c);
    if (!byte) return 0;
    out[0] = *byte;
    return 1;
}

}  // namespace

std::size_t EncodeText(std::u16string_view text, PanelCodePage codePage, std::uint8_t* out, std::size_t capacity) {
    std::size_t written = 0;
    std::size_t i = 0;
    while (written < capacity && i < text.size()) {
        std::uint8_t bytes[2];
        std::size_t n = Encode(NextCodePoint(text, i), codePage, bytes);
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
