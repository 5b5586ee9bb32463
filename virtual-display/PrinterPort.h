// SPDX-License-Identifier: GPL-3.0-or-later
// The printer behind the virtual display: a second pseudo-terminal, the
// display's pass-through port. Whoever opens its slave (cat, socat bridging a
// real printer, a printer emulator) is the printer.
//
// The display hands it the bytes for the printer and never waits: they are
// held, at most HoldLimit, and past that the oldest are dropped and counted,
// so a printer side that nobody reads costs neither time nor memory. A thread
// of its own writes them to the printer side as it takes them, and carries
// what the printer side writes back (status answers) to the host on the
// display's line, unchanged, as a pass-through port does.
#pragma once

#include "virtual-display/BoundedBytes.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>

namespace vantrel::display {

class PrinterPort {
public:
    static constexpr std::size_t HoldLimit = 64 * 1024;

    // Opens the printer's pseudo-terminal, raw; answers go to `line`, the
    // master of the display's line (duplicated: the port keeps its own).
    // `carried` is called, on the port's thread, with the answer bytes as
    // they are written to the line.
    explicit PrinterPort(int line, std::function<void(std::span<const std::uint8_t>)> carried = {});
    ~PrinterPort();
    PrinterPort(const PrinterPort&) = delete;
    PrinterPort& operator=(const PrinterPort&) = delete;

    // Makes `link` a symbolic link to the slave, by the rules of --link.
    void Publish(const std::string& link);
    const std::string& SlavePath() const { return slavePath_; }

    // Bytes for the printer, after those held. Returns how many of the oldest
    // held bytes were dropped to make room.
    std::size_t Send(std::span<const std::uint8_t> bytes);

    std::uint64_t Passed() const;   // bytes the display handed over for the printer, the dropped ones too
    std::uint64_t Dropped() const;  // of those, dropped because nobody read them
    std::uint64_t Answered() const;        // bytes the printer side wrote back
    std::uint64_t AnswersDropped() const;  // of those, dropped because the host did not read them
    // The answers dropped since the last call: for the monitor.
    std::uint64_t TakeAnswersDropped();
    // "120 bytes for the printer, 0 dropped; 3 answer bytes, 0 dropped": for the status line.
    std::string Counts() const;

private:
    void Pump();
    void WriteHeld();
    void ReadAnswers();
    void WriteAnswers();

    int master_ = -1;
    int slave_ = -1;  // kept open: a reader that comes and goes never hangs the port up
    int line_ = -1;
    int wake_[2] = {-1, -1};
    std::string slavePath_;
    std::string link_;
    const std::function<void(std::span<const std::uint8_t>)> carried_;

    mutable std::mutex mutex_;
    BoundedBytes held_{HoldLimit};     // for the printer
    BoundedBytes answers_{HoldLimit};  // for the host
    std::uint64_t passed_ = 0, dropped_ = 0;
    std::uint64_t answered_ = 0, answersDropped_ = 0, answersDroppedSaid_ = 0;
    bool stop_ = false;
    std::thread pump_;
};

}  // namespace vantrel::display
