// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/Tap.h"

#include "virtual-display/PortReader.h"

#include <utility>

namespace vantrel::display {

namespace {

constexpr const char* SideWords[2] = {"the till's side", "the display's side"};

}  // namespace

Tap::Tap(VirtualDisplay& display, Side till, Side toDisplay, int baud) : display_(display), baud_(baud) {
    std::array<Side, 2> sides{std::move(till), std::move(toDisplay)};
    std::array<std::unique_ptr<Port>, 2> ports;
    for (int i = 0; i < 2; ++i) {
        devices_[i] = sides[i].device;
        labels_[i] = PortLabel(sides[i].name, sides[i].device);
        ports[i] = std::move(sides[i].port);
    }
    dwell_.reserve(1024);
    display_.Notice("tapping " + labels_[0] + " (till) and " + labels_[1] + " (display) at " + std::to_string(baud_) +
                    " bit/s, as --baud says: not measured");
    relay_ = StartRelay(*this, std::move(ports));
}

Tap::~Tap() {
    display_.EndDeliveries();
    relay_.reset();
}

std::vector<std::chrono::nanoseconds> Tap::TakeDwellTimes() {
    std::lock_guard lock(mutex_);
    return std::exchange(dwell_, {});
}

void Tap::Read(int from, const std::vector<ReadRun>& runs) {
    const Direction direction = from == 0 ? Direction::TillToDisplay : Direction::DisplayToTill;
    for (const auto& run : runs) display_.Deliver(run.bytes, baud_, direction, run.framingErrors, false);
}

void Tap::Dwelt(std::chrono::steady_clock::duration dwell) {
    std::lock_guard lock(mutex_);
    if (dwell_.size() < DwellSamples) dwell_.push_back(dwell);
}

void Tap::Gone(int side, std::uint64_t lost) {
    display_.Notice(std::string(SideWords[side]) + ", " + labels_[side] + ", is gone (a pulled cable?): waiting for it" +
                    (lost ? "; " + std::to_string(lost) + " bytes for it were lost" : "") + "; the other side is still read");
}

void Tap::Back(int side, std::uint64_t lost) {
    display_.Notice(std::string(SideWords[side]) + ", " + labels_[side] + ", is back" +
                    (lost ? ": " + std::to_string(lost) + " bytes for it were lost while it was gone" : ""));
}

void Tap::Ended(int side, std::uint64_t notPassed) {
    // Said, and so recorded, after the bytes: they were read but never reached the other side.
    display_.Notice("the tap ended: " + std::to_string(notPassed) + " bytes read for " + SideWords[side] + ", " + labels_[side] +
                    ", were not passed on");
}

std::unique_ptr<Port> Tap::Reopen(int side) {
    std::unique_ptr<Port> port;
    OpenSerialPort(devices_[side], PortUse::Listen, baud_, port);
    return port;
}

}  // namespace vantrel::display
