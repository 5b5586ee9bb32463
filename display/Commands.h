// SPDX-License-Identifier: GPL-3.0-or-later
// The command tables of the display's emulations, as data: one row per
// command, with the bytes that start it, how its arguments end, its meaning in
// words (what the monitor shows), and its action on the model. The reader
// (Reader.h) reads every emulation through these rows alone.
#pragma once

#include "display/Detail.h"
#include "display/Screen.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace vantrel::display {

class DisplayModel;
using Arguments = std::span<const std::uint8_t>;

// What a command does; returns words to add to the row's meaning (a value, or
// why an argument out of range was ignored), or nothing. A text returned as
// it is must last as long as the program (a literal, an option's label);
// words put together for the occasion go through Detail::Copy.
using Action = Detail (*)(DisplayModel& m, Arguments arguments);

enum class End : std::uint8_t {
    Count,       // `count` argument bytes
    Terminator,  // up to the byte `count`, which ends the command (not an argument)
    Rule,        // as `rule` says, from the argument bytes so far
};

struct Command {
    std::string_view start;  // the bytes that start the command
    End end = End::Count;
    std::uint8_t count = 0;
    const char* words = "";
    Action action = nullptr;
    bool(*rule)(Arguments arguments) = nullptr;  // End::Rule: true when the arguments are complete
    bool attention = false;   // `start` follows the model's attention code
    std::uint8_t through = 0; // when set, the last start byte may be any of start.back()..through
};

// What bytes that start no command do.
enum class Text : std::uint8_t {
    Printable,  // a printable byte is shown; another is unread
    Every,      // every byte is shown, control bytes as their glyphs
    None,       // nothing is shown: unread
    Printer,    // they pass the display to the printer
    Ignored,    // read and ignored (a mode that takes only some commands)
};

struct CommandSet {
    const char* name;
    std::span<const Command> commands;
    Text text;
    bool shared;                  // the set-up rows that every emulation keeps apply too
    std::string_view attention{};  // the power-on attention code, for sets that have one
    Mode powerOn = Mode::Overwrite;  // the mode at power-on and after ESC @ or a reset
};

// The emulation's own table, by its option label ("CD5220", ...); DSP800's
// for an unknown label.
const CommandSet& CommandSetOf(const char* emulation);
// The set-up rows (configuration frames, demonstration on and off, ESC @).
const CommandSet& SharedCommands();
// While the printer alone is selected (ESC = n): only the selection is read,
// as `emulation` reads it. Null for an emulation that selects no peripheral.
const CommandSet* PrinterCommands(const CommandSet& emulation);
// Whether a row is the selection of peripherals (ESC = n): while the printer
// is selected, its bytes pass to the printer only when n selects nothing.
bool SelectsPeripherals(const Command& command);
// Every emulation's table, for the tests' checks of the tables themselves.
std::span<const CommandSet* const> AllCommandSets();

}  // namespace vantrel::display
