// SPDX-License-Identifier: GPL-3.0-or-later
// The glyph tables and the decoding of bytes; see Glyphs.h.
#include "display/Glyphs.h"

#include "common/CodePages.h"

#include <algorithm>
#include <cstdio>

namespace vantrel::display {

namespace {

// The glyphs of a code page by its label; PC437's for a label without a table.
const CodePage& PageOf(const char* label) {
    const CodePage* page = FindCodePage(label ? label : "");
    return page ? *page : *FindCodePage("PC437");
}

// The national characters at # $ @ [ \ ] ^ ` { | } ~ for each ESC R n set.
constexpr std::uint8_t NationalPositions[12] = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
constexpr char32_t NationalSets[16][12] = {
    {U'#', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // USA
    {U'#', U'$', U'à', U'°', U'ç', U'§', U'^', U'`', U'é', U'ù', U'è', U'¨'},       // France
    {U'#', U'$', U'§', U'Ä', U'Ö', U'Ü', U'^', U'`', U'ä', U'ö', U'ü', U'ß'},       // Germany
    {U'£', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // United Kingdom
    {U'#', U'$', U'@', U'Æ', U'Ø', U'Å', U'^', U'`', U'æ', U'ø', U'å', U'~'},       // Denmark I
    {U'#', U'¤', U'É', U'Ä', U'Ö', U'Å', U'Ü', U'é', U'ä', U'ö', U'å', U'ü'},       // Sweden
    {U'#', U'$', U'@', U'°', U'\\', U'é', U'^', U'ù', U'à', U'ò', U'è', U'ì'},      // Italy
    {U'₧', U'$', U'@', U'¡', U'Ñ', U'¿', U'^', U'`', U'¨', U'ñ', U'}', U'~'},       // Spain I
    {U'#', U'$', U'@', U'[', U'¥', U']', U'^', U'`', U'{', U'|', U'}', U'~'},       // Japan
    {U'#', U'¤', U'É', U'Æ', U'Ø', U'Å', U'Ü', U'é', U'æ', U'ø', U'å', U'ü'},       // Norway
    {U'#', U'$', U'É', U'Æ', U'Ø', U'Å', U'Ü', U'é', U'æ', U'ø', U'å', U'ü'},       // Denmark II
    {U'#', U'$', U'á', U'¡', U'Ñ', U'¿', U'é', U'`', U'í', U'ñ', U'ó', U'ú'},       // Spain II
    {U'#', U'$', U'á', U'¡', U'Ñ', U'¿', U'é', U'ü', U'í', U'ñ', U'ó', U'ú'},       // Latin America
    {U'#', U'$', U'@', U'[', U'₩', U']', U'^', U'`', U'{', U'|', U'}', U'~'},       // Korea
    {U'#', U'$', U'Ž', U'Š', U'Đ', U'Ć', U'Č', U'ž', U'š', U'đ', U'ć', U'č'},       // Slovenia/Croatia
    {U'#', U'¥', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // China
};
// The ASCII positions under each set: one look-up per byte shown.
constexpr auto AsciiGlyphs = [] {
    std::array<std::array<char32_t, 128>, 16> glyphs{};
    for (int set = 0; set < 16; ++set) {
        for (int b = 0; b < 128; ++b) glyphs[set][b] = static_cast<char32_t>(b);
        for (int i = 0; i < 12; ++i) glyphs[set][NationalPositions[i]] = NationalSets[set][i];
    }
    return glyphs;
}();

// The glyphs of PC437 at the control positions, for bytes shown as characters.
constexpr char32_t ControlGlyphs[32] = {
    U' ', U'☺', U'☻', U'♥', U'♦', U'♣', U'♠', U'•', U'◘', U'○', U'◙', U'♂', U'♀', U'♪', U'♫', U'☼',
    U'►', U'◄', U'↕', U'‼', U'¶', U'§', U'▬', U'↨', U'↑', U'↓', U'→', U'←', U'∟', U'↔', U'▲', U'▼'};

}  // namespace

std::string Utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

char32_t CodePageGlyph(const char* codePage, std::uint8_t byte) {
    return byte < 0x80 ? byte : PageOf(codePage).Glyph(byte);
}

char32_t InternationalGlyph(int set, std::uint8_t byte) {
    if (set < 0 || set > 15) set = 0;
    return byte < 0x80 ? AsciiGlyphs[set][byte] : byte;
}

// ---- Decoding ----

// A user-defined character while they are selected, else the glyph of the
// international set (below 80 hex) or of the code page in use.
Cell Glyphs::DecodeOther(std::uint8_t b) {
    if (userSelected_ && userDefined_[b]) return {UserCharacterMark, patterns_[b]};
    if (b < 0x20) return ControlGlyphs[b];  // shown by an emulation that shows every byte
    if (b == 0x7F) return U'⌂';             // the code pages' own glyph at DEL, as PC437 draws it
    if (b < 0x80) return (*ascii_)[b];
    if (decodingPage_ != codePage_) {  // another page since the last byte: its table, found once
        decodingPage_ = codePage_;
        page_ = &PageOf(codePage_);
    }
    return page_->Glyph(b);
}

void Glyphs::Decode(std::span<const std::uint8_t> bytes, Cell* cells) {
    // The set in use read once: the cells' bytes written may be any object's,
    // so the compiler would read it again for every byte.
    const std::array<char32_t, 128>& ascii = *ascii_;
    const bool user = userSelected_;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = bytes[i];
        if (b >= 0x20 && b < 0x7F && !user) {  // field by field: a Cell assigned whole is built on the stack first
            cells[i].glyph = ascii[b];
            cells[i].dots = {};
        } else {
            cells[i] = DecodeOther(b);
        }
    }
}

Glyphs::Glyphs() : ascii_(&AsciiGlyphs[0]) {}

void Glyphs::SetInternationalSet(int set) {
    internationalSet_ = set;
    ascii_ = &AsciiGlyphs[set >= 0 && set <= 15 ? set : 0];
}

void Glyphs::Initialise(const char* codePage) {
    SetInternationalSet(0);
    codePage_ = codePage;
    userDefined_.reset();
    userSelected_ = false;
}

// ---- User-defined characters ----

void Glyphs::DefineUserCharacter(std::uint8_t code, std::span<const std::uint8_t> columns) {
    Pattern p{};
    std::copy_n(columns.begin(), std::min<std::size_t>(columns.size(), p.size()), p.begin());
    patterns_[code] = p;
    userDefined_.set(code);
}

void Glyphs::Keep() {
    keptPatterns_ = patterns_;
    keptDefined_ = userDefined_;
}

void Glyphs::RestoreKept() {
    patterns_ = keptPatterns_;
    userDefined_ = keptDefined_;
}

std::string Glyphs::KeptText() const { return UserCharactersText(keptPatterns_, keptDefined_); }

void Glyphs::SetKept(const std::array<Pattern, 256>& patterns, const std::bitset<256>& defined) {
    keptPatterns_ = patterns;
    keptDefined_ = defined;
}

std::string UserCharactersText(const std::array<Pattern, 256>& patterns, const std::bitset<256>& defined) {
    std::string s;
    for (int code = 0; code < 256; ++code) {
        if (!defined[code]) continue;
        char item[16];
        const Pattern& p = patterns[code];
        std::snprintf(item, sizeof item, "%s%02X=%02X%02X%02X%02X%02X", s.empty() ? "" : " ", code, p[0], p[1], p[2], p[3], p[4]);
        s += item;
    }
    return s;
}

bool ParseUserCharacters(const std::string& text, std::array<Pattern, 256>& patterns, std::bitset<256>& defined) {
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    std::size_t at = 0;
    while (at < text.size()) {
        // "CC=P1P2P3P4P5", one space between
        if (text.size() - at < 13 || text[at + 2] != '=') return false;
        int values[6];
        for (int i = 0; i < 6; ++i) {
            const std::size_t p = at + (i == 0 ? 0 : 1 + 2 * i);
            const int high = hex(text[p]), low = hex(text[p + 1]);
            if (high < 0 || low < 0) return false;
            values[i] = high * 16 + low;
        }
        if (values[0] < 0x20 || values[0] > 0x7E) return false;  // only these codes can be defined
        for (int i = 0; i < 5; ++i) patterns[values[0]][i] = static_cast<std::uint8_t>(values[i + 1]);
        defined.set(static_cast<std::size_t>(values[0]));
        at += 13;
        if (at < text.size() && text[at++] != ' ') return false;
    }
    return true;
}

}  // namespace vantrel::display
