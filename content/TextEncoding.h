// SPDX-License-Identifier: GPL-3.0-or-later
// Typed text -> bytes in the panel's 8-bit code page: Windows-1252, or GBK
// (code page 936) when the locale's language is Chinese. One byte is one
// display position; a character the code page lacks, and a control character
// (C0, tab and line feed among them, DEL, C1), becomes '?'. A letter followed
// by a combining accent is sent as the one character they compose (NFC) where
// the code page has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel {

enum class PanelCodePage { Windows1252, Gbk };

// Chinese as the user's language means GBK: from LC_ALL, else LC_CTYPE, else
// LANG ("zh...") on POSIX systems; from the user's UI language on Windows.
PanelCodePage CodePageFromLocale();

// Encodes UTF-16 text into at most `capacity` bytes and returns how many were
// written. The text ends at the first character that does not fit whole (a
// double-byte one with one byte left), so no character is ever cut. Interface
// thread only; no heap use after the first call per code page.
std::size_t EncodeText(std::u16string_view text, PanelCodePage codePage, std::uint8_t* out, std::size_t capacity);

}  // namespace vantrel
