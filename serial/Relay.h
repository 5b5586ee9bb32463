// SPDX-License-Identifier: GPL-3.0-or-later
// A relay between two ports, the two sides of a tap: every byte one side
// sends is written to the other at once and unchanged, both ways. A side is
// read only when what was read from it before has been taken by the other,
// so nothing is lost or reordered, and the line's own pace is the only wait.
// A side that goes away is told once and opened again, twice a second, by
// its owner; meanwhile the other side is still read, and what it sends
// toward the missing side is counted as lost.
//
// The one thing the platforms do differently: on POSIX one thread passes
// both ways with one poll (posix/Relay.cpp); on Windows one thread a way,
// each reading its side while the other may write to it (windows/Relay.cpp).
#pragma once

#include "serial/Port.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel {

class Relay {
public:
    static constexpr int RetryMs = 500;  // how long a gone side is looked for between tries
    // How long the end waits for bytes already read from one side to be
    // written to the other; what is left then is told as not passed.
    static constexpr int EndBoundMs = 1000;

    // What a relay tells its owner and asks of it, on the relay's threads.
    class Owner {
    public:
        virtual ~Owner() = default;
        // Bytes read from side `from` (0 or 1), once they were handed to the other side.
        virtual void Read(int from, const std::vector<ReadRun>& runs) = 0;
        // A chunk's time in the relay, from its read to the write of its last byte.
        virtual void Dwelt(std::chrono::steady_clock::duration dwell) = 0;
        // Side `side` is gone; `lost` bytes for it were lost with it.
        virtual void Gone(int side, std::uint64_t lost) = 0;
        // Side `side` is back; `lost` bytes for it were lost while it was gone.
        virtual void Back(int side, std::uint64_t lost) = 0;
        // Opens side `side` again; none while it is still gone.
        virtual std::unique_ptr<Port> Reopen(int side) = 0;
        // The relay ends with `notPassed` bytes read for side `side` not
        // written to it (at most that many, where a cut write cannot tell).
        virtual void Ended(int side, std::uint64_t notPassed) = 0;
    };

    // Stops the relay: waits up to EndBoundMs for the bytes read to be
    // written, then for its threads.
    virtual ~Relay() = default;
};

// Starts relaying between two open ports.
std::unique_ptr<Relay> StartRelay(Relay::Owner& owner, std::array<std::unique_ptr<Port>, 2> ports);

}  // namespace vantrel
