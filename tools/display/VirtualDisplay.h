// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual display's line: a pseudo-terminal whose slave the panel opens as
// its serial port. It keeps a descriptor of the slave open itself, so the panel
// closing the port never hangs the line up, and publishes the slave's path.
#pragma once

#include "tools/display/DisplayModel.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::display {

class VirtualDisplay {
public:
    using Clock = std::chrono::steady_clock;

    // A chunk as the line delivered it.
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        int lineBaud;
        Clock::duration sincePrevious;
        std::vector<Reading> readings;  // how the display took the bytes
    };

    // Opens the pseudo-terminal; `link`, when not empty, becomes a symlink to the slave.
    explicit VirtualDisplay(const std::string& link = {});
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }
    DisplayModel& Model() { return model_; }

    // The speed the line runs at now, as the port's user set it.
    int LineBaud() const;
    // Reads whatever has arrived and feeds it to the model; empty when nothing did.
    std::vector<Chunk> ReadAvailable();
    // Reads and feeds for `time`; the chunks it read.
    std::vector<Chunk> Pump(std::chrono::milliseconds time);

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string link_;
    Clock::time_point lastChunk_{};
    DisplayModel model_;
};

// One chunk of the line monitor: "+12.345 ms  0C 41 42  .AB", then how the
// display read it, a line each: "      FF  clear".
std::string MonitorLine(const VirtualDisplay::Chunk& chunk);

// The stored set-up in a state file: "emulation=AEDEX", "speed=9600",
// "international=USA", "codepage=PC437", one per line.
std::string SetupText(const Setup& setup);
// False, with `error` set, for anything but a complete and known set-up.
bool ParseSetup(const std::string& text, DisplayModel& model, std::string& error);
// Writes the set-up to `path` atomically: a temporary file, then a rename.
bool SaveSetup(const std::string& path, const Setup& setup);
// Restores the set-up from `path`. A missing file is a first start: power-on
// settings. A damaged one prints one line on standard error and leaves the
// power-on settings.
void LoadSetup(const std::string& path, DisplayModel& model);

}  // namespace vantrel::display
