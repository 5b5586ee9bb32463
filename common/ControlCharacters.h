// SPDX-License-Identifier: GPL-3.0-or-later
// Control characters in text that a user or a device gave: one rule for the
// port mappings, the messages that quote such text and the display's lines.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace vantrel {

// C0 (tab, line feed and escape among them), DEL and C1 (U+0080 to U+009F).
constexpr bool IsControlCharacter(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The UTF-8 sequence at `text[at]`: its length, and its code point in `c`.
// What is no UTF-8 (a stray byte, a cut sequence, an overlong form such as C0
// 9B for ESC, an encoded surrogate, a value past U+10FFFF) is one U+FFFD with
// `valid` false, as long as the lead byte and the continuation bytes read.
struct Utf8Step {
    char32_t c;
    std::size_t length;
    bool valid;
};
constexpr Utf8Step NextUtf8(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char b = byte(0);
    const std::size_t length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    std::size_t i = 1;
    for (; i < length && at + i < text.size() && (byte(i) & 0xC0) == 0x80; ++i) c = (c << 6) | (byte(i) & 0x3F);
    constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};  // the least value of each length
    if (length == 0 || i < length || c < shortest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return {0xFFFD, i, false};
    return {c, length, true};
}

// The marks and embeddings that turn the direction of the text after them,
// every character of Unicode's Bidi_Control property (U+061C, U+200E, U+200F,
// U+202A to U+202E, U+2066 to U+2069): shown raw, a quoted name could turn
// the rest of a terminal's line around.
constexpr bool IsBidiControl(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Whether UTF-8 text holds a control character: one that decodes to one, or a
// byte 80 to 9F outside any valid sequence (C1 as an 8-bit terminal reads it).
inline bool HasControlCharacter(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Step step = NextUtf8(text, at);
        const std::string_view bytes = text.substr(at, step.length);
        if (step.valid ? IsControlCharacter(step.c)
                       : std::any_of(bytes.begin(), bytes.end(), [](char b) { return IsControlCharacter(static_cast<unsigned char>(b)); }))
            return true;
        at += step.length;
    }
    return false;
}

// Text for a message of one line: each control character, each control of
// the text's direction and each byte outside a valid UTF-8 sequence escaped
// ("\n", "\t", "\x1B", "\u0085", "\u202E", "\xC0"); the rest as it stands.
inline std::string Escaped(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Step step = NextUtf8(text, at);
        const std::string_view bytes = text.substr(at, step.length);
        at += step.length;
        char escape[12];
        if (step.valid && !IsControlCharacter(step.c) && !IsBidiControl(step.c)) {
            out += bytes;
        } else if (step.valid && (step.c == '\n' || step.c == '\t' || step.c == '\r')) {
            out += step.c == '\n' ? "\\n" : step.c == '\t' ? "\\t" : "\\r";
        } else if (step.valid && step.c >= 0x80) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(step.c));
            out += escape;
        } else {
            for (const char b : bytes) {
                std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(b));
                out += escape;
            }
        }
    }
    return out;
}

// A name or an argument (a path, a port, an option) as a message shows it:
// escaped as above, and a long one (a path of 100 KB) by its beginning, cut
// where a character ends, and its length: "/tmp/AAAA... (102400 bytes)".
// Quoted puts it in quotes: "'/tmp/AAAA'... (102400 bytes)".
struct ShownName {
    std::string head;  // escaped
    std::string rest;  // "... (N bytes)" for a long one
};
inline ShownName ShowName(std::string_view text) {
    constexpr std::size_t Longest = 60, Kept = 50;
    if (text.size() <= Longest) return {Escaped(text), {}};
    std::size_t cut = Kept;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return {Escaped(text.substr(0, cut)), "... (" + std::to_string(text.size()) + " bytes)"};
}
inline std::string Shortened(std::string_view text) {
    const ShownName shown = ShowName(text);
    return shown.head + shown.rest;
}
inline std::string Quoted(std::string_view text) {
    const ShownName shown = ShowName(text);
    return "'" + shown.head + "'" + shown.rest;
}

}  // namespace vantrel
