// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a line's recording as the display reads it, and feeding one back
// into the display. The format, and its reader, are RecordingFile.h's.
#pragma once

#include "virtual-display/RecordingFile.h"
#include "virtual-display/VirtualDisplay.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vantrel::display {

// The header's values.
struct RecordingHeader {
    std::string port;
    int baud;
    std::string emulation;
};

// Writes a recording. Opening it creates the file; one that exists is never
// replaced without `force`. A failed write (a full disk) stops the recording
// and is said once; the display goes on.
class Recorder {
public:
    // Throws std::runtime_error with one line when the file cannot be made.
    Recorder(const std::string& path, bool force, const RecordingHeader& header);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // A chunk of the line and its time (VirtualDisplay::OnLine).
    void Add(const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at);
    // Empty while recording; after a failure, why the recording stopped.
    const std::string& Problem() const { return problem_; }

private:
    void Write(const std::string& text);
    std::string path_;
    int fd_ = -1;
    double ms_ = 0;
    bool started_ = false;
    VirtualDisplay::Clock::time_point first_{};
    std::string problem_;
};

// Feeds a recording into a display with its timing, divided by `speed` (0:
// as fast as the display takes it), on a thread of its own. The till's bytes
// are read as they were, the display's shown as the other direction; the
// printer's are left out (the display passes them on itself). The end is a
// notice that ends the display's run.
class Replayer {
public:
    Replayer(VirtualDisplay& display, std::unique_ptr<RecordingReader> reader, std::string name, double speed);
    ~Replayer();
    Replayer(const Replayer&) = delete;
    Replayer& operator=(const Replayer&) = delete;

private:
    void Run();
    VirtualDisplay& display_;
    std::unique_ptr<RecordingReader> reader_;
    const std::string name_;
    const double speed_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace vantrel::display
