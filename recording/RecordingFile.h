// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings of a line: every chunk with its time and direction, in a text
// file that a person can read and a bug report can carry. The format:
//
//   vantrel-display recording 1
//   program: vantrel-display 1.0.0.1
//   port: COM1 (/dev/ttyS0)
//   speed: 9600
//   emulation: CD5220
//   started: 2026-12-08 09:30:00 UTC
//
//   0.000 T 9600 0C 48 45 4C 4C 4F
//   12.125 D 9600 06
//   # COM1 (/dev/ttyS0) is gone (a pulled adapter?): waiting for it to come back
//
// The first line names the format and its version. Header lines
// "key: value" follow up to an empty line; program, port, speed and
// emulation must be there, others are kept as they are. Then one line per
// chunk: milliseconds since the start (never going back), the direction (T
// till to display, D display to till, P display to its printer, E till to
// display with framing errors), the line's speed in bit/s ("?" when it is not
// a standard rate), and the bytes in hex. A line "MS S SPEED" with no bytes
// says that the display took SPEED as its own, or as its receiver's at a
// speed none of its own (the speed --baud auto found, measured). The header's
// "speed-measured: yes" says that the chunks' speeds were measured on the
// line, "no" (or none) that they were given.
// Lines starting with "#" are notes.
//
// The reader checks a whole file before anything is replayed: a file of
// another version, a damaged line or one too long gives one clear line and
// nothing is replayed. A last line cut short (a recording that ended with
// the power) is left out and said.
#pragma once

#include "serial/PortTables.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::display {

inline constexpr int RecordingVersion = 1;
inline constexpr std::string_view RecordingMagic = "vantrel-display recording ";
// The longest chunk a recording line may hold, and so the longest line.
inline constexpr std::size_t RecordedChunkLimit = 64 * 1024;
inline constexpr std::size_t RecordingLineLimit = 3 * RecordedChunkLimit + 64;

struct RecordedChunk {
    double ms = 0;
    char direction = 'T';  // T, D, P, E, or S (a speed taken, no bytes)
    int baud = 0;          // UnknownBaud for "?"
    std::vector<std::uint8_t> bytes;
};

// Reads a recording line by line and checks every one.
class RecordingParser {
public:
    enum class Result { Ok, Chunk, Error };
    // One line without its newline. Chunk: `chunk` holds it. Error: `error`
    // says what is wrong with line `Lines()`.
    Result Line(std::string_view line, RecordedChunk& chunk, std::string& error);
    // Whether the header is complete (the empty line after it was read).
    bool HeaderDone() const { return headerDone_; }
    const std::map<std::string, std::string>& Header() const { return header_; }
    std::size_t Lines() const { return lines_; }

private:
    std::size_t lines_ = 0;
    bool headerDone_ = false;
    double lastMs_ = 0;
    std::map<std::string, std::string> header_;
};

// A recording file, checked whole when opened, then read chunk by chunk.
class RecordingReader {
public:
    ~RecordingReader();
    // False, with one line in `error`, for a file that cannot be replayed.
    // `note` says what is left out (a last line cut short), or nothing.
    bool Open(const std::string& path, std::string& error, std::string& note);
    const std::map<std::string, std::string>& Header() const { return header_; }
    std::size_t Chunks() const { return chunks_; }
    // The next chunk, false at the end. A line that is not as it was when
    // the file was checked (the file was rewritten since) is not given: the
    // reading ends there, and Changed() says so.
    bool Next(RecordedChunk& chunk);
    // Whether the reading ended early because the file changed after its check.
    bool Changed() const { return changed_; }

private:
    // The next whole line; false at the end or for a line cut short or too long.
    bool ReadLine(std::string& line, bool& cut, bool& tooLong);
    std::FILE* file_ = nullptr;
    std::map<std::string, std::string> header_;
    std::size_t chunks_ = 0, given_ = 0;
    RecordingParser parser_;
    std::vector<std::uint64_t> lineHashes_;  // each line as checked, to tell it again
    std::size_t linesRead_ = 0;
    bool changed_ = false;
};

// A recorded line in the format above, for the tests and the fuzz target.
std::string RecordingLine(double ms, char direction, int baud, std::span<const std::uint8_t> bytes);

}  // namespace vantrel::display
