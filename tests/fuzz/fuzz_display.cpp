// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the display's reader. The first byte picks the line's speed
// and the emulation; time passes between reads (scrolling, macros, blinking);
// the screen must stay 2 x 20 with the cursor on it, and every reading must
// describe itself. A second model gets the same bytes one per read, with time
// passing at the same places: how the line cuts the bytes must change nothing,
// on the screen, in the readings, or in the bytes passed to the printer.
#include "display/DisplayModel.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

using namespace vantrel::display;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const int speeds[] = {9600, 19200, 300, 38400, 0};
    static const char* emulations[] = {"DSP800", "ESCPOS", "ADM787", "AEDEX", "UTC_S",
                                       "UTC_E",  "CD5220", "NCR",    "PD6000", "ICD2002"};
    DisplayModel model, bytewise;
    const int baud = speeds[data[0] % 5];
    if (!model.SetEmulation(emulations[(data[0] / 5) % 10]) || !bytewise.SetEmulation(model.Emulation())) std::abort();
    std::string printer, printerBytewise;
    model.OnPrinterBytes([&printer](std::span<const std::uint8_t> b) { printer.append(b.begin(), b.end()); });
    bytewise.OnPrinterBytes([&printerBytewise](std::span<const std::uint8_t> b) { printerBytewise.append(b.begin(), b.end()); });
    // Feed in uneven chunks, as a line delivers them.
    for (std::size_t i = 1; i < size;) {
        const std::size_t n = 1 + (data[i] % 7);
        const std::size_t take = i + n <= size ? n : size - i;
        model.Feed(data + i, take, baud);
        for (std::size_t k = 0; k < take; ++k) bytewise.Feed(data + i + k, 1, baud);
        i += take;
        if (data[i - 1] % 8 == 5) {
            model.Elapse(1 + data[i - 1] * 7);
            bytewise.Elapse(1 + data[i - 1] * 7);
        }
        if (model.CursorRow() < 0 || model.CursorRow() >= Rows || model.CursorColumn() < 0 ||
            model.CursorColumn() >= Columns)
            std::abort();
    }
    for (int r = 0; r < Rows; ++r) {
        for (int c = 0; c < Columns; ++c) {
            if (model.Glyph(r, c) == 0) std::abort();
            model.Lit(r, c);
            model.Reversed(r, c);
            model.UserPattern(r, c);
        }
        if (model.Line(r).empty()) std::abort();
    }
    if (model.Status().empty()) std::abort();
    std::vector<std::string> said, saidBytewise;
    for (const Reading& r : model.TakeReadings()) said.push_back(DescribeReading(r));
    for (const Reading& r : bytewise.TakeReadings()) saidBytewise.push_back(DescribeReading(r));
    for (const std::string& s : said)
        if (s.empty()) std::abort();
    if (said != saidBytewise || model.Status() != bytewise.Status() || model.CursorRow() != bytewise.CursorRow() ||
        model.CursorColumn() != bytewise.CursorColumn() || printer != printerBytewise || model.PrinterBytes() != printer.size())
        std::abort();
    for (int r = 0; r < Rows; ++r)
        if (model.Line(r) != bytewise.Line(r)) std::abort();
    return 0;
}
