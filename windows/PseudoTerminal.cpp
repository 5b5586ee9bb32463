// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no pseudo-terminal: the display's own line, the printer behind
// it and their links do not exist here. The display reads a COM port, a tap
// or a recording instead.
#include "serial/PseudoTerminal.h"

namespace vantrel {

namespace {
constexpr const char* None = "Windows has no pseudo-terminal";
}

PortResult OpenPseudoTerminal(bool, int, std::unique_ptr<PseudoTerminal>&) { return {PortError::Unsupported, None}; }

PortResult OpenPrinterPort(PseudoTerminal&, std::function<void(std::span<const std::uint8_t>)>, std::unique_ptr<PrinterPort>&) {
    return {PortError::Unsupported, None};
}

PortResult PublishLink(const char*, const std::string&, const std::string&) { return {PortError::Unsupported, None}; }

void RemoveOwnLink(const std::string&, const std::string&) {}

}  // namespace vantrel
