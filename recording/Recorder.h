// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a line's recording as the display reads it. The format, and its
// reader, are RecordingFile.h's.
#pragma once

#include "recording/LineChunk.h"

#include <chrono>
#include <string>

namespace vantrel::display {

// The header's values.
struct RecordingHeader {
    std::string port;
    int baud;
    std::string emulation;
    bool speedMeasured = false;  // whether `baud` was measured on the line, or only given
};

// Writes a recording. Opening it creates the file; one that exists is never
// replaced without `force`. A failed write (a full disk) stops the recording
// and is said once; the display goes on.
class Recorder {
public:
    using Clock = std::chrono::steady_clock;

    // Throws std::runtime_error with one line when the file cannot be made.
    Recorder(const std::string& path, bool force, const RecordingHeader& header);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // A chunk of the line and its time (what VirtualDisplay::OnLine hands on).
    void Add(const LineChunk& chunk, Clock::time_point at);
    // Empty while recording; after a failure, why the recording stopped.
    const std::string& Problem() const { return problem_; }

private:
    void Write(const std::string& text);
    std::string path_;
    int fd_ = -1;
    double ms_ = 0;
    bool started_ = false;
    Clock::time_point first_{};
    std::string problem_;
};

}  // namespace vantrel::display
