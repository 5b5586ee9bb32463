// SPDX-License-Identifier: GPL-3.0-or-later
// The display on a serial port instead of its pseudo-terminal. A port is
// named as the panel names it (COM1..COM9, mapped by the same rules) or by
// its device path (on Windows any COMn, or \\.\COMn), and opened for
// exclusive use as the panel opens one, to listen (serial/Port.h): bytes
// that came with a framing error are handed on as garbage and counted.
//
// The reader runs on a thread of its own and hands every chunk to the
// display. A port that goes away (a pulled adapter) is said once, closed, and
// looked for again twice a second until it is back; then it is opened with
// the same settings. With the speed "auto" it finds the till's speed on a
// real port: it tries the speeds in turn until the bytes come without framing
// errors and read as commands. A pseudo-terminal that another program made (a
// socat pair) does not show its writer's speed: its settings are the reader's
// own end's, so the speed is not known there, and the bytes are read at the
// display's own speed, whatever it is.
#pragma once

#include "serial/Port.h"
#include "serial/Relay.h"
#include "virtual-display/VirtualDisplay.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::display {

inline constexpr int AutoBaud = 0;

// "--baud" as given: a standard rate from 50 to 4000000 bit/s
// (serial/PortTables.h's LineRates), or "auto" (AutoBaud); -1 for anything else.
int ParseBaud(const std::string& text);

// The device behind a name, read as vantrel send reads it (ReadPortName):
// COM1 to COM9 as the panel maps them, else the device it names. Empty, with
// the reason in `error`, for a name that is refused or cannot be listened on.
std::string ListenDevice(const std::string& name, std::string& error);
// Opens `device` to listen on at `baud` (AutoBaud: at the speed it has now).
// Null with the reason in `error`; `missing` tells a device that is not there.
std::unique_ptr<Port> OpenListening(const std::string& device, int baud, std::string& error, bool* missing = nullptr);

// "COM1 (/dev/ttyS0)" for a mapped name, else the path.
std::string PortLabel(const std::string& name, const std::string& device);

// Whether bytes read as commands: some emulation reads nearly all of them,
// and at most a quarter are above 7F. What --baud auto asks of the bytes at
// a trial speed.
bool ReadsAsCommands(std::span<const std::uint8_t> bytes);

// --baud auto on a real port: the speeds of the list and 57600 and 115200 in
// turn, the common ones first. A speed is kept once TrialBytes clean bytes
// came at it and read as commands, with framing errors on at most a quarter
// as many (noise); the next is tried when there are more, or when the bytes
// read as no command set, and after the last the first again. The bytes of
// one read came at one speed and are judged together.
class SpeedTrial {
public:
    static constexpr std::size_t TrialBytes = 32;
    enum class Verdict { Wait, Found, Next };
    int Speed() const;
    // Takes one read at Speed(). Found: the speed is kept, and `out` holds
    // what came at it and was not handed out yet. Next: `out` holds what came
    // at the speed given up (garbage), and Speed() is the next to try. Wait:
    // the bytes are held, `out` is empty.
    Verdict Take(const std::vector<ReadRun>& read, std::vector<ReadRun>& out);
    // The line went quiet, or the display ends, with bytes held. Next as
    // above when they read as no command set; else Wait, with them in `out`
    // to be shown as read at Speed(), which is still tried: they count on
    // toward keeping it.
    Verdict Quiet(std::vector<ReadRun>& out);
    // Whether bytes wait for a verdict.
    bool Holding() const { return !held_.empty(); }

private:
    Verdict GiveUp(std::vector<ReadRun>& out);
    int index_ = 0;
    std::vector<ReadRun> held_;         // read at Speed(), not handed out yet
    std::vector<std::uint8_t> clean_;  // every clean byte read at Speed(), judged
    std::size_t errors_ = 0;           // bytes with framing errors at Speed()
};

class PortReader {
public:
    // Reads `port` (opened from `device`, named `name`) into `display` at
    // `baud` (AutoBaud: find it).
    PortReader(VirtualDisplay& display, std::unique_ptr<Port> port, std::string name, std::string device, int baud);
    ~PortReader();
    PortReader(const PortReader&) = delete;
    PortReader& operator=(const PortReader&) = delete;

    // How long a gone port is looked for between tries.
    static constexpr int RetryMs = Relay::RetryMs;
    // How long the line is quiet before the bytes a speed trial holds are decided on.
    static constexpr int QuietMs = 200;

private:
    void Run();
    // Runs read at baud_ (the speed trial's given up: at no speed known).
    void Hand(const std::vector<ReadRun>& runs, bool givenUp = false);
    void Trial(const std::vector<ReadRun>& runs);
    // The line went quiet (`goOn`), or ends or is gone, while the speed trial holds bytes.
    void Quiet(bool goOn);
    // Sets the port to the speed tried now, and says so after `why`.
    void TryNext(const std::string& why);
    // Waits up to `ms` for the end; true at the end.
    bool WaitForStop(int ms);
    // Puts a port (reopened, or none when it is gone) in place; false at the end.
    bool Replace(std::unique_ptr<Port> port);

    VirtualDisplay& display_;
    std::unique_ptr<Port> port_;  // changed by the reader under mutex_, read by it without
    const std::string name_, device_, label_;
    const bool auto_;
    const bool pty_;      // a pseudo-terminal: its speed cannot be told
    int baud_;            // the port's speed now
    bool found_ = false;  // auto: a speed was chosen (or none can be, on a pseudo-terminal)
    std::optional<VirtualDisplay::Clock::time_point> heldAt_;  // auto: when the bytes held came
    SpeedTrial trial_;
    std::mutex mutex_;  // stop_, and port_ as it is replaced
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace vantrel::display
