// SPDX-License-Identifier: GPL-3.0-or-later
// Feeding a line's recording back into the display. The format, and its
// reader, are recording/RecordingFile.h's.
#pragma once

#include "recording/RecordingFile.h"
#include "virtual-display/VirtualDisplay.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vantrel::display {

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
