// SPDX-License-Identifier: GPL-3.0-or-later
// A tap between a till and its display: two ports, and every byte from the
// till passed on to the display at once and unchanged, every byte from the
// display (a printer's answer, a key) back to the till, by a relay
// (serial/Relay.h). The till's bytes are also handed to the virtual display
// to read and show, the display's as the other direction; the screen never
// holds the line back (bytes it cannot take in time are counted as not
// shown, and still passed on). A side that goes away is said once and looked
// for again; meanwhile the other side is still read and shown.
#pragma once

#include "serial/Relay.h"
#include "virtual-display/VirtualDisplay.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::display {

class Tap : private Relay::Owner {
public:
    struct Side {
        std::string name, device;
        std::unique_ptr<Port> port;
    };
    // Both ports open at `baud`; index 0 the till's, 1 the display's.
    Tap(VirtualDisplay& display, Side till, Side toDisplay, int baud);
    ~Tap() override;
    Tap(const Tap&) = delete;
    Tap& operator=(const Tap&) = delete;

    // The time each chunk spent in the tap, from its read to the write of its
    // last byte, since the last call (at most DwellSamples of them).
    std::vector<std::chrono::nanoseconds> TakeDwellTimes();
    static constexpr std::size_t DwellSamples = 1 << 16;

private:
    void Read(int from, const std::vector<ReadRun>& runs) override;
    void Dwelt(std::chrono::steady_clock::duration dwell) override;
    void Gone(int side, std::uint64_t lost) override;
    void Back(int side, std::uint64_t lost) override;
    std::unique_ptr<Port> Reopen(int side) override;
    void Ended(int side, std::uint64_t notPassed) override;

    VirtualDisplay& display_;
    std::array<std::string, 2> devices_;
    std::array<std::string, 2> labels_;
    const int baud_;
    std::mutex mutex_;  // dwell_
    std::vector<std::chrono::nanoseconds> dwell_;
    std::unique_ptr<Relay> relay_;
};

}  // namespace vantrel::display
