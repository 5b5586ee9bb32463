// SPDX-License-Identifier: GPL-3.0-or-later
// A chunk of a line as a recording keeps it: which way it went, its bytes at
// the line's speed, and what came with them. The display's own chunks
// (VirtualDisplay::Chunk) carry more, and give this view of themselves.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vantrel::display {

// Which way a chunk went on a line: from the till to the display (and read
// by the display), from the display back to the till (a tap's other side),
// or out to the printer behind the display.
enum class Direction : char { TillToDisplay = 'T', DisplayToTill = 'D', ToPrinter = 'P' };

// Views of the bytes and the notice of a chunk held elsewhere.
struct LineChunk {
    Direction direction = Direction::TillToDisplay;
    std::span<const std::uint8_t> bytes;
    int lineBaud = 0;
    bool framingErrors = false;              // then every one of the bytes is garbage
    std::string_view notice;                 // a notice of the line itself ("COM1 (/dev/ttyS0) is gone ...")
    int ownBaud = 0;                         // with a notice: the display took this speed as its own
    std::span<const std::uint8_t> printer;  // the bytes the display passed to its printer
};

}  // namespace vantrel::display
