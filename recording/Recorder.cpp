// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Recorder.h"

#include "common/ControlCharacters.h"
#include "common/Files.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace vantrel::display {

Recorder::Recorder(const std::string& path, bool force, const RecordingHeader& header) : path_(path) {
    const NewFile file = MakeToWrite(path, force);
    if (file.fd < 0)
        throw std::runtime_error("--record " + path + ": " +
                                 (file.exists ? std::string("the file exists; it is never overwritten without --force")
                                              : file.problem));
    fd_ = file.fd;
    char started[64];
    const std::tm utc = UtcTime(std::time(nullptr));
    std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S UTC", &utc);
    Write(std::string(RecordingMagic) + std::to_string(RecordingVersion) + "\nprogram: vantrel-display " + VANTREL_VERSION +
          "\nport: " + Escaped(header.port) + "\nspeed: " + (header.baud > 0 ? std::to_string(header.baud) : "?") +
          "\nspeed-measured: " + (header.speedMeasured ? "yes" : "no") + "\nemulation: " + header.emulation +
          "\nstarted: " + started + "\n\n");
    if (!problem_.empty()) {  // a full disk: no recording is left, not even an empty one
        CloseFile(fd_);
        RemoveFile(path);
        throw std::runtime_error("--record " + path + ": " + problem_);
    }
}

Recorder::~Recorder() {
    if (fd_ >= 0) CloseFile(fd_);
}

void Recorder::Write(const std::string& text) {
    if (problem_.empty()) problem_ = WriteAll(fd_, text);
}

void Recorder::Add(const LineChunk& chunk, Clock::time_point at) {
    if (!problem_.empty()) return;
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
    Write(text);
    if (!problem_.empty()) {
        problem_ = "recording stopped: " + path_ + ": " + problem_;
        std::fprintf(stderr, "vantrel-display: %s; the display goes on\n", problem_.c_str());
    }
}

}  // namespace vantrel::display
