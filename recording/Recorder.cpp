// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Recorder.h"

#include "common/ControlCharacters.h"
#include "common/Files.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <utility>

namespace vantrel::display {

Recorder::Recorder(const std::string& path, bool force, const RecordingHeader& header,
                   std::function<void(const std::string&)> stopped)
    : path_(path), stopped_(std::move(stopped)) {
    const NewFile file = MakeToWrite(path, force);
    if (file.fd < 0)
        throw std::runtime_error("--record " + Quoted(path) + ": " +
                                 (file.exists ? std::string("the file exists; it is never overwritten without --force")
                                              : file.problem));
    fd_ = file.fd;
    char started[64];
    const std::tm utc = UtcTime(std::time(nullptr));
    std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S UTC", &utc);
    const std::string problem = WriteAll(
        fd_, std::string(RecordingMagic) + std::to_string(RecordingVersion) + "\nprogram: vantrel-display " + VANTREL_VERSION +
                 "\nport: " + Escaped(header.port) + "\nspeed: " + (header.baud > 0 ? std::to_string(header.baud) : "?") +
                 "\nspeed-measured: " + (header.speedMeasured ? "yes" : "no") + "\nemulation: " + header.emulation +
                 "\nstarted: " + started + "\n\n");
    if (!problem.empty()) {  // a full disk: no recording is left, not even an empty one
        CloseFile(fd_);
        RemoveFile(path);
        throw std::runtime_error("--record " + Quoted(path) + ": " + problem);
    }
    thread_ = std::thread([this] { Writer(); });
}

Recorder::~Recorder() {
    {
        std::lock_guard lock(mutex_);
        end_ = true;
    }
    wake_.notify_all();
    thread_.join();
    CloseFile(fd_);
}

std::string Recorder::Problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

void Recorder::Stop(const std::string& why) {
    {
        std::lock_guard lock(mutex_);
        if (!problem_.empty()) return;
        problem_ = "recording stopped: " + path_ + ": " + why;
        waiting_.clear();
    }
    std::fprintf(stderr, "vantrel-display: %s; the display goes on\n", Escaped(Problem()).c_str());
    if (stopped_) stopped_(Problem());
}

void Recorder::Writer() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return end_ || !waiting_.empty(); });
        if (waiting_.empty()) return;  // the end, everything written
        const std::string text = std::exchange(waiting_, {});
        lock.unlock();
        if (const std::string problem = WriteAll(fd_, text); !problem.empty()) Stop(problem);
        lock.lock();
        if (!problem_.empty()) return;
    }
}

void Recorder::Add(const LineChunk& chunk, Clock::time_point at) {
    // The recording's time starts with its first bytes (a speed taken before
    // them is at 0), and never goes back: the line's threads stamp their own.
    if (!started_ && (!chunk.bytes.empty() || !chunk.printer.empty())) {
        started_ = true;
        first_ = at;
    }
    if (started_) ms_ = std::max(ms_, std::chrono::duration<double, std::milli>(at - first_).count());
    std::string text;
    if (!chunk.notice.empty()) text = "# " + std::string(chunk.notice) + "\n";
    if (chunk.ownBaud > 0) text += RecordingLine(ms_, 'S', chunk.ownBaud, {});
    for (std::size_t at = 0; at < chunk.bytes.size(); at += RecordedChunkLimit) {
        const char direction = chunk.direction == Direction::DisplayToTill ? 'D' : chunk.framingErrors ? 'E' : 'T';
        text += RecordingLine(ms_, direction, chunk.lineBaud,
                              chunk.bytes.subspan(at, std::min(RecordedChunkLimit, chunk.bytes.size() - at)));
    }
    for (std::size_t at = 0; at < chunk.printer.size(); at += RecordedChunkLimit)
        text += RecordingLine(ms_, 'P', chunk.lineBaud,
                              chunk.printer.subspan(at, std::min(RecordedChunkLimit, chunk.printer.size() - at)));
    bool full = false;
    {
        std::lock_guard lock(mutex_);
        if (!problem_.empty()) return;
        full = waiting_.size() + text.size() > BufferLimit;
        if (!full) waiting_ += text;
    }
    if (full) Stop("the disk fell " + std::to_string(BufferLimit / 1024 / 1024) + " MiB behind the line");
    else wake_.notify_all();
}

}  // namespace vantrel::display
