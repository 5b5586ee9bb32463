// SPDX-License-Identifier: GPL-3.0-or-later
// What a till speaks: every chunk from the till is read by ten displays side
// by side, one per emulation, and each is scored by how much of the stream it
// reads. Bytes it cannot read and malformed commands (an argument out of
// range, a frame without its end) count against it, as do control bytes that
// it only shows as characters; on a tie, the one that reads more of the
// stream as commands ranks first. Each reads in its own command set
// throughout: a frame that selects another is read by all alike. The best first is the likely command set; the
// speed is the one at which most bytes came without framing errors.
#pragma once

#include "display/DisplayModel.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vantrel::display {

class Ranking {
public:
    struct Rank {
        const char* emulation;
        std::uint64_t doubtful = 0;  // bytes unread, ignored, or control bytes shown as characters
        std::uint64_t commands = 0;  // bytes read as commands
    };

    Ranking();
    ~Ranking();
    Ranking(const Ranking&) = delete;
    Ranking& operator=(const Ranking&) = delete;

    // Bytes from the till at `lineBaud`. Bytes with framing errors count for
    // the speed only: what they say is noise.
    void Feed(std::span<const std::uint8_t> bytes, int lineBaud, bool framingErrors = false);

    // Best first: the fewest doubtful bytes, then the most read as commands,
    // then the command set that the till last selected by a frame, then the
    // order of the list of command sets' names.
    std::vector<Rank> Ranks() const;
    // The clean bytes read so far.
    std::uint64_t Bytes() const { return bytes_; }
    // The speed that most clean bytes came at; 0 before any.
    int Speed() const;
    // "CD5220 at 9600": the best alone, for a status line; empty before any byte.
    std::string Best() const;
    // "CD5220 at 9600 (100% read), ESCPOS 97%, ..."; empty before any byte.
    std::string Likely() const;
    // The share of the stream that `rank` reads, 0..100, rounded down.
    int ReadPercent(const Rank& rank) const;

private:
    struct Reader;
    std::vector<std::unique_ptr<Reader>> readers_;
    std::uint64_t bytes_ = 0;
    struct SpeedCount {
        int baud;
        std::uint64_t clean, errors;
    };
    std::vector<SpeedCount> speeds_;
    const char* selected_ = nullptr;  // the command set that the till last selected by a frame
};

}  // namespace vantrel::display
