// SPDX-License-Identifier: GPL-3.0-or-later
// The character-set test pages: 0x0C and sixteen codes of 0x80..0xFF a press.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

inline constexpr std::size_t CharTestFrameLength = 17;
inline constexpr int CharTestPages = 8;

// The page that the next press shows, 0..7. Interface thread only.
extern unsigned char CharTestPage;

// 0x0C, then the codes 0x80 + 16 * page .. 0x8F + 16 * page.
void BuildCharTestFrame(int page, std::uint8_t* out);

// Sends the page `CharTestPage` names (failures are silent) and advances it.
void SendCharTestPage();

}  // namespace vantrel
