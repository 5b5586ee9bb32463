// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's double-byte set (GBK, code page 936) through the platform's own
// converter: iconv (posix/TextEncoding.cpp) or WideCharToMultiByte
// (windows/TextEncoding.cpp). The single-byte pages need none: their table
// (common/CodePages.h) is the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

// The bytes of one character of the Basic Multilingual Plane (at most two),
// and how many; 0 when the set lacks it.
std::size_t EncodeGbk(char16_t c, std::uint8_t out[2]);

}  // namespace vantrel
