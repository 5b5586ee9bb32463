// SPDX-License-Identifier: GPL-3.0-or-later
// The printer's selection and its bytes; see PrinterSelection.h.
#include "display/PrinterSelection.h"

#include <algorithm>

namespace vantrel::display {

void PrinterSelection::Select(bool printer, bool display) {
    if (Selected()) held_.resize(held_.size() - std::min<std::size_t>(held_.size(), 3));
    printerOnly_ = printer && !display;
    printerToo_ = printer && display;
}

void PrinterSelection::Pass(std::size_t undecided) {
    const std::size_t n = held_.size() - std::min(undecided, held_.size());
    if (n == 0) return;
    passed_ += n;
    if (sink_) sink_({reinterpret_cast<const std::uint8_t*>(held_.data()), n});
    held_.erase(0, n);
}

}  // namespace vantrel::display
