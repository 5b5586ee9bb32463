// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a line's recording as the display reads it. The format, and its
// reader, are RecordingFile.h's.
#pragma once

#include "recording/LineChunk.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vantrel::display {

// The header's values.
struct RecordingHeader {
    std::string port;
    int baud;
    std::string emulation;
    bool speedMeasured = false;  // whether `baud` was measured on the line, or only given
};

// Writes a recording. Opening it creates the file; one that exists is never
// replaced without `force`. The line is never held back for the disk: a
// thread of the recorder's own writes, and what waits for it is held within
// BufferLimit. A failed write (a full disk), or a disk that falls that far
// behind, stops the recording and is said once; the display goes on.
class Recorder {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t BufferLimit = 4 * 1024 * 1024;  // text waiting for the disk

    // Throws std::runtime_error with one line when the file cannot be made.
    // `stopped` is called once, from any thread, with the words of a stop.
    Recorder(const std::string& path, bool force, const RecordingHeader& header,
             std::function<void(const std::string&)> stopped = {});
    // Writes what waits, then closes the file.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // A chunk of the line and its time (what VirtualDisplay::OnLine hands
    // on); one call at a time. Never waits for the disk.
    void Add(const LineChunk& chunk, Clock::time_point at);
    // Empty while recording; after a stop, why the recording stopped.
    std::string Problem() const;

private:
    void Writer();
    // Stops the recording for `why`, once: said on standard error and to `stopped`.
    void Stop(const std::string& why);

    std::string path_;
    int fd_ = -1;
    double ms_ = 0;
    bool started_ = false;
    Clock::time_point first_{};
    std::function<void(const std::string&)> stopped_;
    mutable std::mutex mutex_;  // problem_, waiting_, end_
    std::condition_variable wake_;
    std::string problem_;
    std::string waiting_;  // text for the disk
    bool end_ = false;
    std::thread thread_;
};

}  // namespace vantrel::display
