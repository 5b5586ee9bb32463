// SPDX-License-Identifier: GPL-3.0-or-later
// What a till speaks: every chunk from the till is read by ten displays side
// by side, one per emulation, and each is scored by how much of the stream it
// reads. Bytes it cannot read and malformed commands (a frame without its
// end) count against it, as do control bytes that it only shows as
// characters. A command of its own with an argument out of range, which the
// display ignores (Commands.cpp), counts for it: real clients send them
// (LCDd's serialPOS driver gives positions as decimal digits). On a tie, the
// one that reads more of the stream as commands ranks first. Each reads in
// its own command set throughout: a frame that selects another is read by all
// alike. The best first is the likely command set; the speed is the one at
// which most bytes came without framing errors.
//
// A command still open when the line goes quiet (QuietGap without a byte), a
// set-up frame ends or the stream ends was none: its start counts as unread
// and its arguments are read again as the bytes after it, so that noise that
// opens a long command (US ( with a length of 64 KiB) cannot hide the rest of
// the stream from the set it is written for.
#pragma once

#include "display/DisplayModel.h"

#include <array>
#include <chrono>
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
        std::uint64_t doubtful = 0;  // bytes unread, malformed, or control bytes shown as characters
        std::uint64_t commands = 0;  // bytes read as commands
    };

    // The answer as the status line, the "likely:" line, the JSON and the
    // window give it.
    struct Answer {
        struct Share {
            const char* emulation;
            int read;  // the share of the stream it reads, 0..100, rounded down
        };
        std::vector<Share> ranks;  // best first, every command set
        int speed = 0;             // see Speed
        // How many read the till alike with the first (the same doubtful and
        // command bytes): more than one is a tie, and no set is named alone.
        std::size_t alike = 1;
        bool onlyTextAndLineControls = false;  // all the till sent is text, NUL, BS, HT, LF, VT, FF and CR
        // Bytes not sent yet that start a command in some of the sets alike but
        // not in all: once one comes, it tells them apart. Those that part
        // them most evenly first.
        std::vector<std::uint8_t> tellApart;
        // The first is alone, the stream long enough and well read: see Clear.
        bool clear = false;
        bool Tied() const { return alike > 1; }
    };

    // A gap with no byte from the till that ends what it was sending.
    static constexpr std::chrono::milliseconds QuietGap{100};
    // A ranking is clear when one set is first alone, after at least ClearBytes
    // clean bytes, and reads at least ClearShare percent of them: a display
    // that follows the till switches to no set before that.
    static constexpr std::uint64_t ClearBytes = 32;
    static constexpr int ClearShare = 90;

    Ranking();
    ~Ranking();
    Ranking(const Ranking&) = delete;
    Ranking& operator=(const Ranking&) = delete;

    // Bytes from the till at `lineBaud`. Bytes with framing errors count for
    // the speed only: what they say is noise.
    void Feed(std::span<const std::uint8_t> bytes, int lineBaud, bool framingErrors = false);
    // The line went quiet or the stream ended: commands still open were none.
    void Quiet();

    // Best first: the fewest doubtful bytes, then the most read as commands,
    // then the command set that the till last selected by a frame, then the
    // order of the list of command sets' names.
    std::vector<Rank> Ranks() const;
    Answer Result() const;
    // The clean bytes read so far.
    std::uint64_t Bytes() const { return bytes_; }
    // The speed that most clean bytes came at; 0 before any.
    int Speed() const;
    // "CD5220 at 9600", or "DSP800, ESCPOS and 6 more alike at 9600" on a
    // tie: the best, for a status line; empty before any byte.
    std::string Best() const;
    // "CD5220 at 9600 (100% read), ESCPOS 97%, ..."; on a tie "DSP800,
    // ESCPOS and 6 more read it alike at 9600 (100% read): the till sends
    // only text and line controls; 1B, 04, 10 or 5 more would tell them apart.
    // AEDEX 4%, ..."; empty before any byte.
    std::string Likely() const;
    // The share of the stream that `rank` reads, 0..100, rounded down.
    int ReadPercent(const Rank& rank) const;

private:
    struct Reader;
    void Score(Reader& reader);
    std::vector<std::unique_ptr<Reader>> readers_;
    std::uint64_t bytes_ = 0;
    struct SpeedCount {
        int baud;
        std::uint64_t clean, errors;
    };
    std::vector<SpeedCount> speeds_;
    const char* selected_ = nullptr;  // the command set that the till last selected by a frame
    std::array<bool, 256> seen_{};     // the bytes the till sent
    std::string tail_;                 // the last bytes, for a frame that ends in a later chunk
};

}  // namespace vantrel::display
