// SPDX-License-Identifier: GPL-3.0-or-later
// The printer behind the display: which of the two the host's bytes are for
// (ESC = n selects the printer, the display or both), and the bytes on their
// way to the printer, passed on in order and unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace vantrel::display {

class PrinterSelection {
public:
    bool PrinterOnly() const { return printerOnly_; }
    bool PrinterToo() const { return printerToo_; }
    bool Selected() const { return printerOnly_ || printerToo_; }
    // ESC = n. The selecting command (its three bytes the last ones held) is
    // not passed on.
    void Select(bool printer, bool display);
    // The display alone, as at power-on.
    void Reset() { printerOnly_ = printerToo_ = false; }

    // Host bytes that arrived while the printer is selected.
    void Hold(const std::uint8_t* data, std::size_t n) { held_.append(reinterpret_cast<const char*>(data), n); }
    // Passes every held byte but the last `undecided` ones, which may still
    // turn out to be a selection.
    void Pass(std::size_t undecided);
    bool Holding() const { return !held_.empty(); }

    void OnBytes(std::function<void(std::span<const std::uint8_t>)> sink) { sink_ = std::move(sink); }
    std::uint64_t Passed() const { return passed_; }

private:
    bool printerOnly_ = false;
    bool printerToo_ = false;  // printer and display both selected
    std::string held_;         // host bytes for the printer, not yet passed on
    std::uint64_t passed_ = 0;
    std::function<void(std::span<const std::uint8_t>)> sink_;
};

}  // namespace vantrel::display
