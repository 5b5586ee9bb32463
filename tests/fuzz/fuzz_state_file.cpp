// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the virtual display's state file reader. A file it accepts
// gives a set-up that the display knows and that writes back to itself; one
// it refuses leaves the power-on set-up and says why.
#include "virtual-display/VirtualDisplay.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace vantrel::display;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > StateFileLimit) return 0;  // the reader refuses larger files before parsing
    const std::string text(reinterpret_cast<const char*>(data), size);
    DisplayModel model;
    std::string error;
    if (!ParseSetup(text, model, error)) {
        if (error.empty() || std::strcmp(model.Emulation(), "DSP800") != 0 || model.OwnBaud() != PowerOnBaud) std::abort();
        return 0;
    }
    // What was accepted is a set-up the display knows, with user-defined
    // characters only where ESC & can define them, and saving it reads back the same.
    const Setup setup = model.StoredSetup();
    for (std::size_t at = 0; at < setup.userCharacters.size(); at += 14) {
        const int code = std::stoi(setup.userCharacters.substr(at, 2), nullptr, 16);
        if (code < 0x20 || code > 0x7E) std::abort();
    }
    DisplayModel again;
    if (!ParseSetup(SetupText(setup), again, error)) std::abort();
    if (SetupText(again.StoredSetup()) != SetupText(setup)) std::abort();
    return 0;
}
