// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-display on a line other than its own pseudo-terminal: the options
// --port, --baud, --tap, --replay, --replay-speed, --record, --force and
// --json, the session that runs the line (the port reader, the tap or the
// replay, and the recording), and the headless output for it, as text or
// one JSON object a line.
#pragma once

#include "virtual-display/VirtualDisplay.h"

#include <csignal>
#include <memory>
#include <string>

namespace vantrel::display {

class PortReader;
class Tap;
class Replayer;
class Recorder;

struct LineOptions {
    std::string port, till, toDisplay, baud, replay, record;
    double replaySpeed = 1;
    bool replaySpeedGiven = false, force = false, json = false;
    // The bytes come from elsewhere than the display's own pseudo-terminal.
    bool External() const { return !port.empty() || !till.empty() || !replay.empty(); }
};

// Takes argv[i] and its values when it is one of the line options: 1 when
// taken, 0 when it is none of them, -1 for a bad value (said on standard error).
int TakeLineOption(int argc, char** argv, int& i, LineOptions& options);
// The options together; false, said on standard error, for ones that do not
// go together. `pseudoTerminal`: --link or --printer was given.
bool CheckLineOptions(const LineOptions& options, bool headless, bool pseudoTerminal);

// The line's threads and the recording; ending it stops them first.
class LineSession {
public:
    ~LineSession();
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<PortReader> reader;
    std::unique_ptr<Tap> tap;
    std::unique_ptr<Replayer> replayer;
    VirtualDisplay* display = nullptr;
    std::string label;  // the line's name: "COM1 (/dev/ttyS0)", "... tapped to ...", a recording's path
};

// Opens the line and starts it; throws std::runtime_error with one line.
// `keepEmulation`: --emulation was given, and a replay keeps it.
std::unique_ptr<LineSession> StartLine(const LineOptions& options, VirtualDisplay& display, bool keepEmulation);

// The headless display on the line until `stop`, the end of a replay, or
// standard output gone: every chunk's readings and notices, the screen and
// status after every change, and a "likely:" line whenever the ranking's
// order or speed changes (and at the end).
int RunLineHeadless(VirtualDisplay& display, const LineOptions& options, const volatile std::sig_atomic_t& stop);

// A string as JSON, quotes included.
std::string JsonString(const std::string& text);

}  // namespace vantrel::display
