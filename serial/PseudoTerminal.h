// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminals: ports that this program makes, whose far end (the slave)
// other programs open by its path as a serial port. The virtual display's own
// line is one, and the printer behind the display another. Windows has none:
// there every open says so (windows/PseudoTerminal.cpp).
#pragma once

#include "serial/Port.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace vantrel {

// A pseudo-terminal whose master this program reads, and whose slave it also
// keeps open itself, so that a user closing it never hangs the line up.
class PseudoTerminal {
public:
    virtual ~PseudoTerminal() = default;
    virtual const std::string& SlavePath() const = 0;
    // The speed the slave's user set; UnknownBaud for one that is not a standard rate.
    virtual int SlaveBaud() const = 0;
    // Whether the slave's user left the notices of its changes on (see OpenPseudoTerminal).
    virtual bool Notices() const = 0;
    // Reads what the master holds now, without waiting: `n` bytes, or (with
    // `notice` set) a notice that the slave's settings changed: the bytes
    // still pending were sent before the change. Ok with neither: nothing now.
    virtual PortResult ReadNow(std::uint8_t* buf, std::size_t size, std::size_t& n, bool& notice) = 0;
    // Waits until the master has something to read, or Wake().
    virtual void Wait() = 0;
    // Ends a Wait on another thread (and the next, when none waits now).
    virtual void Wake() = 0;
};

// Opens a pseudo-terminal, raw and at `baud`. With `notices`, every change of
// the slave's settings is told on the master when it happens, before the
// bytes that follow it (packet mode with EXTPROC).
PortResult OpenPseudoTerminal(bool notices, int baud, std::unique_ptr<PseudoTerminal>& pty);

// The printer behind the display: a second pseudo-terminal, the display's
// pass-through port. Whoever opens its slave (cat, socat bridging a real
// printer, a printer emulator) is the printer.
//
// The display hands it the bytes for the printer and never waits: they are
// held, at most HoldLimit, and past that the oldest are dropped and counted,
// so a printer side that nobody reads costs neither time nor memory. A thread
// of its own writes them to the printer side as it takes them, and carries
// what the printer side writes back (status answers) to the host on the
// display's line, unchanged, as a pass-through port does.
class PrinterPort {
public:
    static constexpr std::size_t HoldLimit = 64 * 1024;
    virtual ~PrinterPort() = default;

    // Makes `link` a symbolic link to the slave, by the rules of PublishLink ("--printer").
    virtual PortResult Publish(const std::string& link) = 0;
    virtual const std::string& SlavePath() const = 0;

    // Bytes for the printer, after those held. Returns how many of the oldest
    // held bytes were dropped to make room.
    virtual std::size_t Send(std::span<const std::uint8_t> bytes) = 0;

    virtual std::uint64_t Passed() const = 0;   // bytes the display handed over for the printer, the dropped ones too
    virtual std::uint64_t Dropped() const = 0;  // of those, dropped because nobody read them
    virtual std::uint64_t Answered() const = 0;        // bytes the printer side wrote back
    virtual std::uint64_t AnswersDropped() const = 0;  // of those, dropped because the host did not read them
    // The answers dropped since the last call: for the monitor.
    virtual std::uint64_t TakeAnswersDropped() = 0;
    // "120 bytes for the printer, 0 dropped; 3 answer bytes, 0 dropped": for the status line.
    virtual std::string Counts() const = 0;
};

// Opens the printer's pseudo-terminal, raw; its answers go to the master of
// `line`, the display's. `carried` is called, on the port's thread, with the
// answer bytes as they are written to the line.
PortResult OpenPrinterPort(PseudoTerminal& line, std::function<void(std::span<const std::uint8_t>)> carried,
                           std::unique_ptr<PrinterPort>& port);

// Makes `link` a symbolic link to `target`, a pseudo-terminal's slave. Only
// nothing, a dangling link or a link to a pseudo-terminal (an earlier
// display's) is replaced; anything else is refused, with words that name the
// path and `option`. RemoveOwnLink removes it only while it still points at
// `target`.
PortResult PublishLink(const char* option, const std::string& link, const std::string& target);
void RemoveOwnLink(const std::string& link, const std::string& target);

}  // namespace vantrel
