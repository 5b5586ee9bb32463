// SPDX-License-Identifier: GPL-3.0-or-later
// The relay on Windows: a thread a way. Each reads its side and writes what
// it read to the other side before it reads again; the ports are overlapped,
// so one way's read of a side and the other way's write to it run at once. A
// side's port is shared by the way that reads it and the way that writes to
// it; the way that reads a side is the one that looks for it again when it
// is gone.
#include "serial/Relay.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace vantrel {

namespace {

using Clock = std::chrono::steady_clock;

class ThreadRelay final : public Relay {
public:
    ThreadRelay(Owner& owner, std::array<std::unique_ptr<Port>, 2> ports) : owner_(owner) {
        for (int i = 0; i < 2; ++i) ports_[i] = std::move(ports[i]);
        for (int i = 0; i < 2; ++i) threads_[i] = std::thread([this, i] { Pass(i); });
    }

    ~ThreadRelay() override {
        {
            // A way in the middle of a write is given EndBoundMs to end it.
            std::unique_lock lock(mutex_);
            stopping_ = true;
            stopped_.notify_all();
            stopped_.wait_for(lock, std::chrono::milliseconds(EndBoundMs), [this] { return !writing_[0] && !writing_[1]; });
            for (const auto& port : ports_)
                if (port) port->Interrupt();
        }
        stopped_.notify_all();
        for (auto& thread : threads_) thread.join();
    }

private:
    std::shared_ptr<Port> PortOf(int side) {
        std::lock_guard lock(mutex_);
        return ports_[side];
    }

    // Passes what side `from` sends to the other side, until the end.
    void Pass(int from) {
        const int to = 1 - from;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;  // nothing more is read at the end
            }
            const std::shared_ptr<Port> in = PortOf(from);
            if (!in) {
                {
                    std::unique_lock lock(mutex_);
                    if (stopped_.wait_for(lock, std::chrono::milliseconds(RetryMs), [this] { return stopping_; })) return;
                }
                Reopen(from);
                continue;
            }
            std::vector<ReadRun> runs;
            const PortResult read = in->Read(runs, -1);
            if (read.error == PortError::Stopped) return;
            if (!read.Ok()) Lose(from, in);
            if (!read.Ok() || runs.empty()) continue;
            const auto readAt = Clock::now();
            const std::shared_ptr<Port> out = PortOf(to);
            std::size_t n = 0, notWritten = 0;
            PortResult written;
            Writing(from, true);
            for (const ReadRun& run : runs) {
                n += run.bytes.size();
                if (written.Ok()) written = out ? out->Write(run.bytes.data(), run.bytes.size(), -1) : PortResult{PortError::Gone, {}};
                if (!written.Ok()) notWritten += run.bytes.size();
            }
            Writing(from, false);
            if (written.error == PortError::Stopped) {
                // The end cut the write: as many as were not surely written are told.
                owner_.Ended(to, notWritten);
                return;
            }
            if (written.Ok()) {
                owner_.Dwelt(Clock::now() - readAt);
            } else {
                if (out) Lose(to, out);
                std::lock_guard lock(mutex_);
                lost_[from] += n;
            }
            // Then shown, never waiting for the screen.
            owner_.Read(from, runs);
        }
    }

    void Writing(int way, bool writing) {
        std::lock_guard lock(mutex_);
        writing_[way] = writing;
        stopped_.notify_all();
    }

    // Side `side` is gone, found by a read or write on `port`; told once.
    void Lose(int side, const std::shared_ptr<Port>& port) {
        {
            std::lock_guard lock(mutex_);
            if (ports_[side] != port) return;  // the other way found it first
            ports_[side].reset();
        }
        owner_.Gone(side, 0);
    }

    void Reopen(int side) {
        std::shared_ptr<Port> port = owner_.Reopen(side);
        if (!port) return;
        std::uint64_t lost = 0;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) port->Interrupt();  // ended before it could be used
            ports_[side] = std::move(port);
            lost = std::exchange(lost_[1 - side], 0);
        }
        owner_.Back(side, lost);
    }

    Owner& owner_;
    std::mutex mutex_;  // ports_, lost_, stopping_, writing_
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::array<std::shared_ptr<Port>, 2> ports_;
    std::array<std::uint64_t, 2> lost_{};  // lost_[i]: bytes from side i for the other while it was gone
    std::array<bool, 2> writing_{};        // writing_[i]: the way from side i writes what it read
    std::array<std::thread, 2> threads_;
};

}  // namespace

std::unique_ptr<Relay> StartRelay(Relay::Owner& owner, std::array<std::unique_ptr<Port>, 2> ports) {
    return std::make_unique<ThreadRelay>(owner, std::move(ports));
}

}  // namespace vantrel
