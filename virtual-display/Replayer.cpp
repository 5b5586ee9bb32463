// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/Replayer.h"

#include <chrono>

namespace vantrel::display {

Replayer::Replayer(VirtualDisplay& display, std::unique_ptr<RecordingReader> reader, std::string name, double speed)
    : display_(display), reader_(std::move(reader)), name_(std::move(name)), speed_(speed), thread_([this] { Run(); }) {}

Replayer::~Replayer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopped_.notify_all();
    display_.EndDeliveries();
    thread_.join();
}

void Replayer::Run() {
    // Every chunk carries its own time from the recording, whatever the pace.
    const auto start = display_.Started();
    const auto time = [start](double ms) {
        return start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double, std::milli>(ms));
    };
    RecordedChunk chunk;
    std::size_t given = 0;
    double last = 0;
    while (reader_->Next(chunk)) {
        if (chunk.direction == 'P') continue;  // the display passes them on itself
        last = chunk.ms;
        if (speed_ > 0) {
            std::unique_lock lock(mutex_);
            if (stopped_.wait_until(lock, time(chunk.ms / speed_), [this] { return stop_; })) return;
        }
        if (chunk.direction == 'S') {
            display_.Notice("the display takes " + std::to_string(chunk.baud) + " bit/s as its own speed", false, chunk.baud,
                            time(chunk.ms));
            continue;
        }
        const Direction direction = chunk.direction == 'D' ? Direction::DisplayToTill : Direction::TillToDisplay;
        if (!display_.Deliver(chunk.bytes, chunk.baud, direction, chunk.direction == 'E', true, time(chunk.ms))) return;
        ++given;
    }
    // A recording rewritten since it was checked is replayed no further than it still was as checked.
    display_.Notice(reader_->Changed() ? "the recording " + name_ + " changed while it was replayed: the replay stops after " +
                                             std::to_string(given) + " chunks"
                                       : "the replay of " + name_ + " is done: " + std::to_string(given) + " chunks",
                    true, 0, time(last));
}

}  // namespace vantrel::display
