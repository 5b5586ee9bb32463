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
// the same settings. With the speed "auto" it finds the till's speed: on a
// pseudo-terminal it takes the writer's; on a real port it tries the speeds
// of the list until the bytes come without framing errors and read as
// commands.
#pragma once

#include "serial/Port.h"
#include "serial/Relay.h"
#include "virtual-display/VirtualDisplay.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::display {

inline constexpr int AutoBaud = 0;

// "--baud" as given: a speed of the list, or "auto" (AutoBaud); -1 for anything else.
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

// --baud auto on a real port: the speeds of the list in turn, the common
// ones first. A speed is kept once TrialBytes bytes came without a framing
// error and read as commands; the next is tried at the first framing error,
// or when the bytes read as no command set, and after the last the first
// again.
class SpeedTrial {
public:
    static constexpr std::size_t TrialBytes = 32;
    enum class Verdict { Wait, Found, Next };
    int Speed() const;
    // Takes the next run of bytes read at Speed(). Found: the speed is kept
    // and `bytes` holds what came at it. Next: `bytes` holds what came at the
    // speed given up (garbage), and Speed() is the next to try.
    Verdict Take(std::span<const std::uint8_t> run, bool errors, std::vector<std::uint8_t>& bytes);

private:
    int index_ = 0;
    std::vector<std::uint8_t> held_;
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

private:
    void Run();
    // Bytes read at baud_, with framing errors or without.
    void Take(std::span<const std::uint8_t> bytes, bool errors);
    // The pseudo-terminal writer's speed (baud_) said after `words`, and taken
    // as the display's own when the display has such a speed.
    void WriterSpeed(const std::string& words);
    void Hand(std::span<const std::uint8_t> bytes, bool errors);
    void Trial(std::span<const std::uint8_t> bytes, bool errors);
    // Waits up to `ms` for the end; true at the end.
    bool WaitForStop(int ms);
    // Puts a port (reopened, or none when it is gone) in place; false at the end.
    bool Replace(std::unique_ptr<Port> port);

    VirtualDisplay& display_;
    std::unique_ptr<Port> port_;  // changed by the reader under mutex_, read by it without
    const std::string name_, device_, label_;
    const bool auto_;
    const bool pty_;  // a pseudo-terminal: with auto, the writer's speed
    int baud_;          // the port's speed now
    bool found_ = false;  // auto: a speed was chosen
    SpeedTrial trial_;
    std::mutex mutex_;  // stop_, and port_ as it is replaced
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace vantrel::display
