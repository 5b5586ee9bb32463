// SPDX-License-Identifier: GPL-3.0-or-later
// What the text asks of the platform: the panel's double-byte set (GBK, code
// page 936) through the platform's own converter, iconv
// (posix/TextEncoding.cpp) or WideCharToMultiByte (windows/TextEncoding.cpp),
// and whether the user's language is Chinese. The single-byte pages need no
// converter: their table (common/CodePages.h) is the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

// The bytes of one character of the Basic Multilingual Plane (at most two),
// and how many; 0 when the set lacks it.
std::size_t EncodeGbk(char16_t c, std::uint8_t out[2]);

// Whether the user's language is Chinese: the locale's (LC_ALL, LC_CTYPE,
// LANG) on POSIX, the user interface's on Windows.
bool UserLanguageIsChinese();

}  // namespace vantrel
