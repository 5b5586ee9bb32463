// SPDX-License-Identifier: GPL-3.0-or-later
// The headless display's output with --json: one JSON object a line, each an
// event with its name and its time. The events and their fields are a
// contract with the scripts that read them, listed in docs/json.md; a change
// that a reader could trip over takes a new JsonVersion. Readers skip events
// and fields they do not know, so adding either keeps the version.
#pragma once

#include "virtual-display/VirtualDisplay.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::display {

class Ranking;

inline constexpr int JsonVersion = 1;

// Where the display's bytes come from.
enum class LineKind { PseudoTerminal, Port, Tap, Replay };
// "pty", "port", "tap", "replay".
const char* LineKindName(LineKind kind);

// The speed the display reads the line at, and whether it was measured on the
// line rather than given or taken from a setting. UnknownBaud: none known.
using LineSpeed = VirtualDisplay::LineSpeed;
LineSpeed SpeedOf(const VirtualDisplay& display, LineKind kind);

// The command sets of the ranking best first, with the share of the stream
// each reads (0..100).
struct SetShare {
    const char* set;
    int share;
};
std::vector<SetShare> LikelySets(const Ranking& ranking);

// "text", "command", "unread", "garbage", "out-of-range", "malformed".
const char* ReadingKindName(ReadingKind kind);

// Makes the events' lines, keeps the counts for the end event and makes sure
// that no event's time is before the one printed last.
class JsonEvents {
public:
    using Duration = std::chrono::steady_clock::duration;
    JsonEvents(const VirtualDisplay& display, LineKind kind) : display_(display), kind_(kind) {}

    // The first line: the version, the program, the line and its path, a
    // tap's display side and a pseudo-terminal's --link (when given), the
    // display's set-up.
    std::string Start(const std::string& path, const std::string& displayPath, const std::string& link);
    // A chunk's events: notice, to-till, reading (each), printer, left-out.
    std::vector<std::string> Chunk(const VirtualDisplay::Chunk& chunk, Duration at);
    std::string Screen(Duration at);
    std::string Likely(Duration at);
    // The last line, with the counts since the start. `reason`: "stopped",
    // "replay-done" or "output-closed".
    std::string End(Duration at, const char* reason);

private:
    std::string Head(const char* event, Duration at);
    std::string Status() const;

    const VirtualDisplay& display_;
    const LineKind kind_;
    double lastMs_ = 0;
    struct Counts {
        std::uint64_t tillToDisplay = 0, displayToTill = 0, printer = 0, garbage = 0, framingErrors = 0;
        std::uint64_t readings = 0, leftOut = 0, notices = 0, screens = 0;
    } counts_;
};

}  // namespace vantrel::display
