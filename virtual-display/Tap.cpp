// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/Tap.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace vantrel::display {

Tap::Tap(VirtualDisplay& display, Side till, Side toDisplay, int baud)
    : display_(display), sides_{std::move(till), std::move(toDisplay)}, baud_(baud) {
    for (int i = 0; i < 2; ++i) labels_[i] = PortLabel(sides_[i].name, sides_[i].device);
    if (pipe2(stop_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
    dwell_.reserve(1024);
    display_.Notice(Tapping());
    thread_ = std::thread([this] { Run(); });
}

Tap::~Tap() {
    [[maybe_unused]] const ssize_t w = write(stop_[1], "x", 1);
    display_.EndDeliveries();
    thread_.join();
    for (int fd : stop_) ::close(fd);
}

std::vector<std::chrono::nanoseconds> Tap::TakeDwellTimes() {
    std::lock_guard lock(mutex_);
    return std::exchange(dwell_, {});
}

void Tap::Run() {
    for (;;) {
        pollfd fds[3] = {{stop_[0], POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
        bool missing = false;
        for (int i = 0; i < 2; ++i) {
            if (!sides_[i].port) {
                missing = true;
                continue;
            }
            fds[1 + i].fd = sides_[i].port->Fd();
            // A side is read only when its last bytes have gone on.
            fds[1 + i].events = static_cast<short>((ways_[i].pending.empty() ? POLLIN : 0) |
                                                   (ways_[1 - i].pending.empty() ? 0 : POLLOUT));
        }
        if (poll(fds, 3, missing ? PortReader::RetryMs : -1) < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        for (int i = 0; i < 2; ++i) {
            if (!sides_[i].port) {
                // Looked for twice a second, however busy the other side is.
                if (std::chrono::steady_clock::now() - tried_[i] >= std::chrono::milliseconds(PortReader::RetryMs)) Reopen(i);
                continue;
            }
            const short got = fds[1 + i].revents;
            if (got & POLLOUT && !Flush(i)) Lose(i);
            else if (ways_[i].pending.empty() && got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) Read(i);  // the rest of its bytes first
            else if (got & (POLLHUP | POLLERR | POLLNVAL)) Lose(i);
        }
    }
}

void Tap::Read(int from) {
    std::uint8_t buf[4096];
    const ssize_t n = ::read(sides_[from].port->Fd(), buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || !PortGone(errno))) return;
    if (n <= 0) return Lose(from);
    Way& way = ways_[from];
    way.readAt = std::chrono::steady_clock::now();
    std::vector<MarkDecoder::Run> runs;
    way.decoder.Decode({buf, static_cast<std::size_t>(n)}, runs);
    for (const auto& run : runs) way.pending.insert(way.pending.end(), run.bytes.begin(), run.bytes.end());
    way.written = 0;
    const int to = 1 - from;
    if (!sides_[to].port) {
        way.lost += way.pending.size();
        way.pending.clear();
    } else if (!way.pending.empty() && !Flush(to)) {
        Lose(to);
    }
    // Then shown, never waiting for the screen.
    const Direction direction = from == 0 ? Direction::TillToDisplay : Direction::DisplayToTill;
    for (const auto& run : runs) display_.Deliver(run.bytes, baud_, direction, run.errors, false);
}

bool Tap::Flush(int to) {
    Way& way = ways_[1 - to];
    while (way.written < way.pending.size()) {
        const ssize_t w = ::write(sides_[to].port->Fd(), way.pending.data() + way.written, way.pending.size() - way.written);
        if (w > 0) {
            way.written += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno == EAGAIN) return true;  // the rest when the side takes more
        return false;
    }
    const auto dwell = std::chrono::steady_clock::now() - way.readAt;
    way.pending.clear();
    way.written = 0;
    std::lock_guard lock(mutex_);
    if (dwell_.size() < DwellSamples) dwell_.push_back(dwell);
    return true;
}

void Tap::Lose(int side) {
    sides_[side].port.reset();
    tried_[side] = std::chrono::steady_clock::now();
    // What waited for it is lost with it; what it sent before is still passed on.
    Way& toIt = ways_[1 - side];
    const std::size_t lost = toIt.pending.size() - toIt.written;
    toIt.lost += lost;
    toIt.pending.clear();
    toIt.written = 0;
    ways_[side].decoder = {};
    display_.Notice(Gone(side, lost));
}

void Tap::Reopen(int side) {
    tried_[side] = std::chrono::steady_clock::now();
    std::string error;
    sides_[side].port = ListenPort::Open(sides_[side].device, baud_, error);
    if (!sides_[side].port) return;
    const std::uint64_t lost = std::exchange(ways_[1 - side].lost, 0);
    display_.Notice(Back(side, lost));
}

}  // namespace vantrel::display
