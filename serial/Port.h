// SPDX-License-Identifier: GPL-3.0-or-later
// A serial port, for every program: opened to write (the panel, `vantrel
// send`) or to listen (the display on a port, a tap), read with framing
// errors told, written within a bound, its speed changed, closed by its
// destruction. Every call ends in one result type that carries the kind of
// failure and the system's own words; the layer prints nothing.
//
// The ports of the system are each platform's, in one file each
// (posix/SerialPort.cpp, windows/SerialPort.cpp); a network port
// (serial/NetPort.h) is the same interface for writing.
#pragma once

#include "serial/PortTables.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

// How a call on a port ended.
enum class PortError : std::uint8_t {
    None,
    NoDevice,           // nothing there by that name (also a port that is not back yet)
    Busy,               // another program holds it
    AccessDenied,       // the user may not open it
    NotATerminal,       // something other than a serial device
    Gone,               // the device went away (a pulled adapter, a hang-up)
    Stalled,            // the line took nothing within the write's bound
    ConnectionDropped,  // the network connection is gone
    NotTaken,           // a clean end ran out with bytes the server had not acknowledged
    Stopped,            // Interrupt() ended the wait
    Unsupported,        // not a thing this kind of port does
    Other,              // anything else: see the words
};

struct PortResult {
    PortError error = PortError::None;
    std::string words;  // the system's or a server's own words, where there are any

    bool Ok() const { return error == PortError::None; }
};

// What a port is opened for. A port opened to listen is read raw, with every
// byte that came with a framing or parity error or a break told, and every
// byte is data (no flow control); one opened to write keeps the flow control
// it had and is written as the panel writes.
enum class PortUse : std::uint8_t { Write, Listen };

// The speed a listening port keeps as it is.
inline constexpr int KeepSpeed = 0;

// A run of bytes read: all of them clean, or all of them with errors.
struct ReadRun {
    std::vector<std::uint8_t> bytes;
    bool framingErrors = false;
};

class Port {
public:
    virtual ~Port() = default;

    // Writes all n bytes. A port opened to write returns when they have left,
    // within `boundMs`; past it what is still queued is discarded (Stalled),
    // so no part of them reaches the line later. A listening port waits as
    // long as the line needs (boundMs < 0), until the bytes are written, the
    // port is gone or Interrupt() is called.
    virtual PortResult Write(const std::uint8_t* data, std::size_t n, int boundMs) = 0;
    // After a write that missed its bound: how many bytes written before it
    // the discarding of the output queue may have taken with it.
    virtual std::size_t EarlierDiscarded() const { return 0; }
    // A clean end: Ok when everything written has arrived, as far as the port
    // can tell; otherwise why not, and how many bytes were not taken.
    virtual PortResult End(std::uint32_t& notTaken) {
        notTaken = 0;
        return {};
    }
    // Applies the line settings of the open again.
    virtual void Reapply() {}
    // Whether a write that went out is known only to have been taken by a
    // server, and not whether the far line took it (a network port).
    virtual bool KnownTakenByServerOnly() const { return false; }
    // Of such a port: whether the server's side had acknowledged every byte
    // of the last write that went out when the write ended; before that the
    // bytes were only handed to the network.
    virtual bool LastWriteAcknowledged() const { return true; }

    // Waits up to `timeoutMs` (< 0: as long as it takes) for bytes and reads
    // what has come, as runs of clean bytes and of bytes with errors. Ok with
    // no runs: nothing came in time. Gone, or Stopped after Interrupt().
    virtual PortResult Read(std::vector<ReadRun>& runs, int timeoutMs) {
        (void)runs, (void)timeoutMs;
        return {PortError::Unsupported, "not a port to listen on"};
    }
    // Ends a Read or Write that waits on another thread, and every later one:
    // the end of a thread that uses the port. Safe from any thread.
    virtual void Interrupt() {}
    virtual PortResult SetBaud(int baud) {
        (void)baud;
        return {PortError::Unsupported, "the speed is the server's"};
    }
    // The speed the port runs at now (on a pseudo-terminal: as its settings
    // say, which are this end's, not those of whoever writes at the other);
    // UnknownBaud when it is none of the standard rates.
    virtual int Baud() const { return UnknownBaud; }
    // Whether the port is a pseudo-terminal, whose settings do not tell the
    // speed of the bytes that come.
    virtual bool PseudoTerminal() const { return false; }
};

// Opens a local serial device for exclusive use: `baud` (KeepSpeed: as it is,
// for a port to listen on), 8 data bits, 1 stop bit. The platform's.
PortResult OpenSerialPort(const std::string& device, PortUse use, int baud, std::unique_ptr<Port>& port);
// Whether a device could be opened right now: opens it as OpenSerialPort does
// and releases it at once.
PortResult ProbeSerialPort(const std::string& device);
// Whether a device may be opened, told without opening it (no modem line
// moves): the node is there, a serial device, and the user may use it.
PortResult LookAtSerialPort(const std::string& device);
// Whether two device names are one port, however they are spelled.
bool SameSerialPort(const std::string& a, const std::string& b);

}  // namespace vantrel
