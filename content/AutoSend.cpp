// SPDX-License-Identifier: GPL-3.0-or-later
#include "content/AutoSend.h"

#include "commands/CommandFrames.h"
#include "serial/SerialLink.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace vantrel {

std::atomic<int> AutoRun{0};

struct AutoSender::Worker {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::mutex pauseMutex;
    std::condition_variable wake;

    void Signal() {
        {
            std::lock_guard lock(pauseMutex);
            stop = true;
        }
        wake.notify_all();
    }

    // The pause after a pattern, then the check: false when the cycle is over.
    bool PauseThenCheck(std::chrono::steady_clock::time_point until) {
        std::unique_lock lock(pauseMutex);
        wake.wait_until(lock, until, [this] { return stop.load(); });
        return !stop && AutoRun.load() != 0;
    }

    void Run() {
        using Clock = std::chrono::steady_clock;
        std::array<std::uint8_t, PatternLength> frame{};  // the worker's own frame buffer
        // Each pause runs from the end of its write, less how late this step woke:
        // the cadence holds over any number of turns instead of drifting by the
        // wake-up latency. A step held up longer (a blocked write) is not made up.
        auto due = Clock::now();
        const auto lateness = [&due] {
            const auto late = Clock::now() - due;
            return std::clamp<Clock::duration>(late, Clock::duration::zero(), std::chrono::milliseconds(50));
        };
        if (AutoRun.load() != 0) {
            for (;;) {
                for (int half = 0; half < 2; ++half) {
                    auto late = lateness();
                    frame[0] = ClearByte;
                    {
                        const WriteSourceScope source({AutoSendControl});
                        WriteBytes(frame.data(), 1, &stop);  // failures are silent; the cycle goes on
                    }
                    for (int k = 0; k < 10; ++k) {
                        if (k > 0) late = lateness();
                        std::memcpy(frame.data(), AutoPatterns[half * 10 + k], PatternLength);
                        const WriteSourceScope source({AutoSendControl, nullptr, half * 10 + k + 1});
                        WriteBytes(frame.data(), PatternLength, &stop);
                        due = Clock::now() + PatternPause - late;
                        if (!PauseThenCheck(due)) goto finished;
                    }
                }
            }
        }
    finished:
        done = true;
    }
};

namespace {

std::mutex LauncherMutex;
AutoSender::Launcher& CurrentLauncher() {
    static AutoSender::Launcher launcher = [](std::function<void()> body) { return std::thread(std::move(body)); };
    return launcher;
}

}  // namespace

AutoSender::AutoSender() = default;

AutoSender::~AutoSender() { StopAndJoin(); }

AutoSender::Launcher AutoSender::SetLauncher(Launcher launcher) {
    std::lock_guard lock(LauncherMutex);
    std::swap(CurrentLauncher(), launcher);
    return launcher;
}

bool AutoSender::Start() {
    ReapFinished();
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    try {
        Launcher launch;
        {
            std::lock_guard lock(LauncherMutex);
            launch = CurrentLauncher();
        }
        w->thread = launch([w] { w->Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    workers_.push_back(std::move(worker));
    return true;
}

void AutoSender::Stop() {
    for (auto& w : workers_) w->Signal();
}

void AutoSender::StopAndJoin() {
    Stop();
    for (auto& w : workers_)
        if (w->thread.joinable()) w->thread.join();
    workers_.clear();
}

std::size_t AutoSender::LiveWorkers() const {
    return static_cast<std::size_t>(std::count_if(workers_.begin(), workers_.end(), [](const auto& w) { return !w->done; }));
}

void AutoSender::ReapFinished() {
    std::erase_if(workers_, [](std::unique_ptr<Worker>& w) {
        if (!w->done) return false;
        if (w->thread.joinable()) w->thread.join();
        return true;
    });
}

}  // namespace vantrel
