// SPDX-License-Identifier: GPL-3.0-or-later
// The tap on Windows: a thread a way. Each reads its side and writes what it
// read to the other side before it reads again; the ports are overlapped, so
// one way's read of a side and the other way's write to it run at once. A
// side's port is shared by the way that reads it and the way that writes to
// it; the way that reads a side is the one that looks for it again when it
// is gone.
#include "virtual-display/Tap.h"

#include "windows/Wide.h"

#include <stdexcept>
#include <utility>
#include <windows.h>

namespace vantrel::display {

Tap::Tap(VirtualDisplay& display, Side till, Side toDisplay, int baud)
    : display_(display), sides_{std::move(till), std::move(toDisplay)}, baud_(baud) {
    for (int i = 0; i < 2; ++i) {
        labels_[i] = PortLabel(sides_[i].name, sides_[i].device);
        ports_[i] = std::move(sides_[i].port);
    }
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stop_) throw std::runtime_error("cannot make an event: " + windows::ErrorText(GetLastError()));
    dwell_.reserve(1024);
    display_.Notice(Tapping());
    for (int i = 0; i < 2; ++i) threads_[i] = std::thread([this, i] { Pass(i); });
}

Tap::~Tap() {
    SetEvent(stop_);
    display_.EndDeliveries();
    for (auto& thread : threads_) thread.join();
    CloseHandle(stop_);
}

std::vector<std::chrono::nanoseconds> Tap::TakeDwellTimes() {
    std::lock_guard lock(mutex_);
    return std::exchange(dwell_, {});
}

std::shared_ptr<ListenPort> Tap::Port(int side) {
    std::lock_guard lock(mutex_);
    return ports_[side];
}

void Tap::Passed(std::chrono::steady_clock::time_point readAt) {
    const auto dwell = std::chrono::steady_clock::now() - readAt;
    std::lock_guard lock(mutex_);
    if (dwell_.size() < DwellSamples) dwell_.push_back(dwell);
}

void Tap::Pass(int from) {
    const int to = 1 - from;
    const Direction direction = from == 0 ? Direction::TillToDisplay : Direction::DisplayToTill;
    std::uint8_t buf[4096];
    for (;;) {
        const std::shared_ptr<ListenPort> in = Port(from);
        if (!in) {
            if (WaitForSingleObject(stop_, PortReader::RetryMs) == WAIT_OBJECT_0) return;
            Reopen(from);
            continue;
        }
        std::size_t n = 0;
        bool errors = false;
        const ListenPort::Io read = in->Read(buf, sizeof buf, n, errors, stop_);
        if (read == ListenPort::Io::Stopped) return;
        if (read == ListenPort::Io::Gone) Lose(from, in);
        if (read != ListenPort::Io::Done || n == 0) continue;
        const auto readAt = std::chrono::steady_clock::now();
        const std::shared_ptr<ListenPort> out = Port(to);
        const ListenPort::Io written = out ? out->Write({buf, n}, stop_) : ListenPort::Io::Gone;
        if (written == ListenPort::Io::Stopped) return;
        if (written == ListenPort::Io::Done) {
            Passed(readAt);
        } else {
            if (out) Lose(to, out);
            std::lock_guard lock(mutex_);
            lost_[from] += n;
        }
        // Then shown, never waiting for the screen.
        display_.Deliver({buf, n}, baud_, direction, errors, false);
    }
}

void Tap::Lose(int side, const std::shared_ptr<ListenPort>& port) {
    {
        std::lock_guard lock(mutex_);
        if (ports_[side] != port) return;  // the other way found it first
        ports_[side].reset();
    }
    display_.Notice(Gone(side, 0));
}

void Tap::Reopen(int side) {
    std::string error;
    std::unique_ptr<ListenPort> port = ListenPort::Open(sides_[side].device, baud_, error);
    if (!port) return;
    std::uint64_t lost = 0;
    {
        std::lock_guard lock(mutex_);
        ports_[side] = std::move(port);
        lost = std::exchange(lost_[1 - side], 0);
    }
    display_.Notice(Back(side, lost));
}

}  // namespace vantrel::display
