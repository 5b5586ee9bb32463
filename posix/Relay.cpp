// SPDX-License-Identifier: GPL-3.0-or-later
// The relay on POSIX: one thread and one poll for both sides. A side is read
// only when its last bytes have gone on; what the other side does not take
// at once waits for it to become writable.
#include "serial/Relay.h"

#include "posix/Posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <utility>

namespace vantrel {

namespace {

using Clock = std::chrono::steady_clock;

class PollRelay final : public Relay {
public:
    PollRelay(Owner& owner, std::array<std::unique_ptr<Port>, 2> ports) : owner_(owner) {
        for (int i = 0; i < 2; ++i) Take(i, std::move(ports[i]));
        if (pipe2(stop_, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
        thread_ = std::thread([this] { Run(); });
    }

    ~PollRelay() override {
        [[maybe_unused]] const ssize_t w = write(stop_[1], "x", 1);
        thread_.join();
        for (int fd : stop_) ::close(fd);
    }

private:
    struct Way {
        std::vector<std::uint8_t> pending;  // read from this side, not yet written to the other
        std::size_t written = 0;
        Clock::time_point readAt;
        std::uint64_t lost = 0;  // bytes for the other side while it was gone
    };

    void Take(int side, std::unique_ptr<Port> port) {
        ports_[side].reset(static_cast<posix::TerminalPort*>(port.release()));
    }

    void Run() {
        for (;;) {
            pollfd fds[3] = {{stop_[0], POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
            bool missing = false;
            for (int i = 0; i < 2; ++i) {
                if (!ports_[i]) {
                    missing = true;
                    continue;
                }
                fds[1 + i].fd = ports_[i]->Fd();
                // A side is read only when its last bytes have gone on.
                fds[1 + i].events = static_cast<short>((ways_[i].pending.empty() ? POLLIN : 0) |
                                                       (ways_[1 - i].pending.empty() ? 0 : POLLOUT));
            }
            if (poll(fds, 3, missing ? RetryMs : -1) < 0 && errno != EINTR) return Finish();
            if (fds[0].revents) return Finish();
            for (int i = 0; i < 2; ++i) {
                if (!ports_[i]) {
                    // Looked for twice a second, however busy the other side is.
                    if (Clock::now() - tried_[i] >= std::chrono::milliseconds(RetryMs)) Reopen(i);
                    continue;
                }
                const short got = fds[1 + i].revents;
                if (got & POLLOUT && !Flush(i)) Lose(i);
                else if (ways_[i].pending.empty() && got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) Read(i);  // the rest of its bytes first
                else if (got & (POLLHUP | POLLERR | POLLNVAL)) Lose(i);
            }
        }
    }

    // The end: what was read is written within EndBoundMs; the rest is told.
    void Finish() {
        const auto until = Clock::now() + std::chrono::milliseconds(EndBoundMs);
        for (;;) {
            pollfd fds[2] = {{-1, POLLOUT, 0}, {-1, POLLOUT, 0}};
            bool waiting = false;
            for (int to = 0; to < 2; ++to)
                if (ports_[to] && !ways_[1 - to].pending.empty()) fds[to].fd = ports_[to]->Fd(), waiting = true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (!waiting || left <= 0) break;
            if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
            for (int to = 0; to < 2; ++to)
                if (fds[to].revents && !Flush(to)) Lose(to);
        }
        for (int to = 0; to < 2; ++to)
            if (const Way& way = ways_[1 - to]; way.written < way.pending.size()) owner_.Ended(to, way.pending.size() - way.written);
    }

    void Read(int from) {
        std::vector<ReadRun> runs;
        if (!ports_[from]->ReadNow(runs).Ok()) return Lose(from);
        if (runs.empty()) return;
        Way& way = ways_[from];
        way.readAt = Clock::now();
        for (const auto& run : runs) way.pending.insert(way.pending.end(), run.bytes.begin(), run.bytes.end());
        way.written = 0;
        const int to = 1 - from;
        if (!ports_[to]) {
            way.lost += way.pending.size();
            way.pending.clear();
        } else if (!way.pending.empty() && !Flush(to)) {
            Lose(to);
        }
        // Then shown, never waiting for the screen.
        owner_.Read(from, runs);
    }

    // Writes what waits for side `to`; false when that side is gone.
    bool Flush(int to) {
        Way& way = ways_[1 - to];
        while (way.written < way.pending.size()) {
            const ssize_t w = ::write(ports_[to]->Fd(), way.pending.data() + way.written, way.pending.size() - way.written);
            if (w > 0) {
                way.written += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno == EAGAIN) return true;  // the rest when the side takes more
            return false;
        }
        const auto dwell = Clock::now() - way.readAt;
        way.pending.clear();
        way.written = 0;
        owner_.Dwelt(dwell);
        return true;
    }

    void Lose(int side) {
        ports_[side].reset();
        tried_[side] = Clock::now();
        // What waited for it is lost with it, and said now; what it sent
        // before is still passed on. Its return says only what was lost
        // while it was gone.
        Way& toIt = ways_[1 - side];
        const std::size_t lost = toIt.pending.size() - toIt.written;
        toIt.pending.clear();
        toIt.written = 0;
        owner_.Gone(side, lost);
    }

    void Reopen(int side) {
        tried_[side] = Clock::now();
        std::unique_ptr<Port> port = owner_.Reopen(side);
        if (!port) return;
        Take(side, std::move(port));
        owner_.Back(side, std::exchange(ways_[1 - side].lost, 0));
    }

    Owner& owner_;
    std::array<std::unique_ptr<posix::TerminalPort>, 2> ports_;
    std::array<Way, 2> ways_;  // ways_[i]: from side i to the other
    std::array<Clock::time_point, 2> tried_{};  // the last look for a gone side
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Relay> StartRelay(Relay::Owner& owner, std::array<std::unique_ptr<Port>, 2> ports) {
    return std::make_unique<PollRelay>(owner, std::move(ports));
}

}  // namespace vantrel
