// SPDX-License-Identifier: GPL-3.0-or-later
// A tap between a till and its display: two ports, and every byte from the
// till passed on to the display at once and unchanged, every byte from the
// display (a printer's answer, a key) back to the till. The till's bytes are
// also handed to the virtual display to read and show, the display's as the
// other direction; the screen never holds the line back (bytes it cannot
// take in time are counted as not shown, and still passed on).
//
// On POSIX one thread passes both ways (Tap.cpp); on Windows one thread a
// way, each reading its side with overlapped I/O while the other may write
// to it (windows/Tap.cpp). Either way a side is read only when what was read
// from it before has been taken by the other, so nothing is lost or
// reordered, and the line's own pace is the only wait. A side that goes
// away is said once and looked for again; meanwhile the other side is still
// read and shown, and what it sends toward the missing side is counted as
// lost.
#pragma once

#include "virtual-display/PortReader.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::display {

class Tap {
public:
    struct Side {
        std::string name, device;
        std::unique_ptr<ListenPort> port;
    };
    // Both ports open at `baud`; index 0 the till's, 1 the display's.
    Tap(VirtualDisplay& display, Side till, Side toDisplay, int baud);
    ~Tap();
    Tap(const Tap&) = delete;
    Tap& operator=(const Tap&) = delete;

    // The time each chunk spent in the tap, from its read to the write of its
    // last byte, since the last call (at most DwellSamples of them).
    std::vector<std::chrono::nanoseconds> TakeDwellTimes();
    static constexpr std::size_t DwellSamples = 1 << 16;

private:
    // The tap's notices, in the same words on every platform.
    static constexpr const char* SideWords[2] = {"the till's side", "the display's side"};
    std::string Tapping() const {
        return "tapping " + labels_[0] + " (till) and " + labels_[1] + " (display) at " + std::to_string(baud_) + " bit/s";
    }
    std::string Gone(int side, std::uint64_t lost) const {
        return std::string(SideWords[side]) + ", " + labels_[side] + ", is gone (a pulled cable?): waiting for it" +
               (lost ? "; " + std::to_string(lost) + " bytes for it were lost" : "") + "; the other side is still read";
    }
    std::string Back(int side, std::uint64_t lost) const {
        return std::string(SideWords[side]) + ", " + labels_[side] + ", is back" +
               (lost ? ": " + std::to_string(lost) + " bytes for it were lost while it was gone" : "");
    }

#ifdef _WIN32
    // Passes what side `from` sends to the other side, until the end.
    void Pass(int from);
    std::shared_ptr<ListenPort> Port(int side);
    // Side `side` is gone, found by a read or write on `port`; said once.
    void Lose(int side, const std::shared_ptr<ListenPort>& port);
    void Reopen(int side);
    void Passed(std::chrono::steady_clock::time_point readAt);

    VirtualDisplay& display_;
    std::array<Side, 2> sides_;  // the names; the ports are in ports_
    std::array<std::string, 2> labels_;
    const int baud_;
    std::mutex mutex_;  // ports_, lost_, dwell_
    std::array<std::shared_ptr<ListenPort>, 2> ports_;
    std::array<std::uint64_t, 2> lost_{};  // lost_[i]: bytes from side i for the other while it was gone
    std::vector<std::chrono::nanoseconds> dwell_;
    void* stop_ = nullptr;  // a manual-reset event, set at the end
    std::array<std::thread, 2> threads_;
#else
    struct Way {
        std::vector<std::uint8_t> pending;  // read from this side, not yet written to the other
        std::size_t written = 0;
        std::chrono::steady_clock::time_point readAt;
        MarkDecoder decoder;
        std::uint64_t lost = 0;  // bytes for the other side while it was gone
    };
    void Run();
    void Read(int from);
    // Writes what waits for side `to`; false when that side is gone.
    bool Flush(int to);
    void Lose(int side);
    void Reopen(int side);

    VirtualDisplay& display_;
    std::array<Side, 2> sides_;
    std::array<Way, 2> ways_;  // ways_[i]: from side i to the other
    std::array<std::string, 2> labels_;
    std::array<std::chrono::steady_clock::time_point, 2> tried_{};  // the last look for a gone side
    const int baud_;
    int stop_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<std::chrono::nanoseconds> dwell_;
    std::thread thread_;
#endif
};

}  // namespace vantrel::display
