// SPDX-License-Identifier: GPL-3.0-or-later
// The readings for the monitor: how the display read the bytes it got, one
// reading for a command, a run of text, or bytes it could not read. They are
// kept compact (the row's words, what its action added, where its bytes lie)
// and made into text only when someone takes them, at most Limit of them.
#pragma once

#include "display/Detail.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::display {

// How the display read some bytes: a command with its meaning, shown text, or
// bytes it could not read. `bytes` as they came. Code that sorts readings
// asks `kind`; `meaning` is the monitor's words.
struct Reading {
    std::string bytes;
    std::string meaning;  // "upper line"; "text" for shown text; empty for unread bytes
    ReadingKind kind;
    bool macro;  // played by a running macro ("macro: ..."), not the host's
};

// `ESC "QAHELLO" CR  upper line`, or `[unread ESC "z"]`.
std::string DescribeReading(const Reading& reading);
// The bytes alone: `ESC "QAHELLO" CR`.
std::string DescribeBytes(std::string_view bytes);

class Readings {
public:
    static constexpr std::size_t Limit = 256;

    // Bytes read as `kind` and `words` (empty: unread) with what the action
    // added. One that `merges` joins the last reading when that has the same
    // kind and words, so that a run of text or of unread bytes is one reading.
    // `macro`: played by a running macro, never merged with the host's bytes.
    void Add(ReadingKind kind, const char* words, const Detail& detail, std::string_view bytes, bool merges, bool macro);
    // Shown text, as Add("text") for each byte.
    void AddText(std::span<const std::uint8_t> bytes, bool macro);

    // The readings since the last call, oldest first: at most Limit.
    std::vector<Reading> Take();
    // How many readings past the limit were left out since the last call.
    std::size_t TakeLeftOut();

private:
    struct Said {
        ReadingKind kind;
        const char* words;
        Detail detail;
        std::size_t from, size;
        bool macro;
    };
    std::vector<Said> said_;
    std::string bytes_;
    std::size_t leftOut_ = 0;
};

}  // namespace vantrel::display
