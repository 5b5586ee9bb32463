// SPDX-License-Identifier: GPL-3.0-or-later
// The display on a serial port instead of its pseudo-terminal. A port is
// named as the panel names it (COM1..COM9, mapped by the same rules) or by
// its device path (on Windows any COMn, or \\.\COMn), and opened for
// exclusive use as the panel opens one. It is read raw, with framing errors
// marked (POSIX: PARMRK; Windows: ClearCommError): bytes that came with one
// are handed on as garbage and counted. The port itself and the reading of
// it are the platform's (posix/ListenPort.cpp, windows/ListenPort.cpp).
//
// The reader runs on a thread of its own and hands every chunk to the
// display. A port that goes away (a pulled adapter) is said once, closed, and
// looked for again twice a second until it is back; then it is opened with
// the same settings. With the speed "auto" it finds the till's speed: on a
// pseudo-terminal it takes the writer's; on a real port it tries the speeds
// of the list until the bytes come without framing errors and read as
// commands.
#pragma once

#include "virtual-display/VirtualDisplay.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/types.h>
#endif

namespace vantrel::display {

inline constexpr int AutoBaud = 0;

// "--baud" as given: a speed of the list, or "auto" (AutoBaud); -1 for anything else.
int ParseBaud(const std::string& text);

// Bytes as a terminal with PARMRK and INPCK hands them over, back as runs of
// clean bytes and of bytes that came with an error (framing, parity or a
// break): 0xFF 0xFF is one 0xFF, 0xFF 0x00 X an erroneous X. A mark split
// between two reads is kept for the next.
class MarkDecoder {
public:
    struct Run {
        std::vector<std::uint8_t> bytes;
        bool errors;
    };
    void Decode(std::span<const std::uint8_t> in, std::vector<Run>& out);

private:
    void Put(std::vector<Run>& out, std::uint8_t b, bool error);
    int marked_ = 0;  // bytes of a mark read so far: 0, 1 (0xFF) or 2 (0xFF 0x00)
};

// A port opened to listen on: a descriptor held for exclusive use.
class ListenPort {
public:
    // The device behind a name: COMn as the panel maps it, else the path as
    // given. Empty, with `error`, for a name that cannot be listened on.
    static std::string Resolve(const std::string& name, std::string& error);
    // Opens `device` at `baud` (AutoBaud: at the speed it has now). Null with
    // the reason in `error`; `missing` tells a device that is not there.
    static std::unique_ptr<ListenPort> Open(const std::string& device, int baud, std::string& error, bool* missing = nullptr);
    // Whether two devices (as Resolve gives them) are one port: a tap needs two.
    static bool SamePort(const std::string& a, const std::string& b);
    ~ListenPort();
    ListenPort(const ListenPort&) = delete;
    ListenPort& operator=(const ListenPort&) = delete;

    // The speed the port runs at now: the writer's, on a pseudo-terminal.
    int Baud() const;
    bool SetBaud(int baud);
#ifdef _WIN32
    bool PseudoTerminal() const { return false; }  // a COM port's speed is its reader's to set
    enum class Io { Done, Gone, Stopped };
    // Reads what comes, up to a pause of GapMs after its first byte, or until
    // `stop` (an event) is set; `errors`: the port reported a framing or
    // parity error or a break since the last read. One reader at a time.
    Io Read(std::uint8_t* buf, std::size_t size, std::size_t& n, bool& errors, void* stop);
    // Writes all of `bytes`, waiting as long as the line needs. One writer at
    // a time; a read may run meanwhile.
    Io Write(std::span<const std::uint8_t> bytes, void* stop);
    static constexpr int GapMs = 2;  // a pause that ends a read

private:
    explicit ListenPort(void* handle);
    // Waits for an overlapped operation on `event`, or `stop`.
    Io Finish(void* overlapped, void* stop, unsigned long& done);
    void* handle_;
    void* readEvent_;
    void* writeEvent_;
};
#else
    int Fd() const { return fd_; }
    bool PseudoTerminal() const { return pty_; }
    dev_t Device() const { return device_; }

private:
    ListenPort(int fd, bool exclusive, bool pty, dev_t device) : fd_(fd), exclusive_(exclusive), pty_(pty), device_(device) {}
    int fd_;
    bool exclusive_;
    bool pty_;
    dev_t device_;
};
#endif

// Whether a read or write failed with this error because the port is gone
// (a pulled adapter, a hang-up).
bool PortGone(int err);

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
    PortReader(VirtualDisplay& display, std::unique_ptr<ListenPort> port, std::string name, std::string device, int baud);
    ~PortReader();
    PortReader(const PortReader&) = delete;
    PortReader& operator=(const PortReader&) = delete;

    // How long a gone port is looked for between tries.
    static constexpr int RetryMs = 500;

private:
    enum class Step { Read, Gone, Stop };
    void Run();
    // The platform's part: waits for bytes or the end, reads what the port
    // holds and hands it to Take.
    Step ReadOnce();
    // The stop signal, made before the thread starts.
    void MakeStop();
    // Bytes read at baud_, with framing errors or without.
    void Take(std::span<const std::uint8_t> bytes, bool errors);
    // The pseudo-terminal writer's speed (baud_) said after `words`, and taken
    // as the display's own when the display has such a speed.
    void WriterSpeed(const std::string& words);
    void Hand(std::span<const std::uint8_t> bytes, bool errors);
    void Trial(std::span<const std::uint8_t> bytes, bool errors);
    bool WaitForStop(int ms);

    VirtualDisplay& display_;
    std::unique_ptr<ListenPort> port_;
    const std::string name_, device_, label_;
    const bool auto_;
    const bool pty_;  // a pseudo-terminal: with auto, the writer's speed
    int baud_;          // the port's speed now
    bool found_ = false;  // auto: a speed was chosen
    SpeedTrial trial_;
#ifdef _WIN32
    void* stop_ = nullptr;  // a manual-reset event, set at the end
#else
    MarkDecoder decoder_;
    int stop_[2] = {-1, -1};
#endif
    std::thread thread_;
};

}  // namespace vantrel::display
