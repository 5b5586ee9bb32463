// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Recorder.h"

#include "common/ControlCharacters.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#ifdef _WIN32
#include "windows/Wide.h"

#include <io.h>
#else
#include <unistd.h>
#endif

namespace vantrel::display {

Recorder::Recorder(const std::string& path, bool force, const RecordingHeader& header) : path_(path) {
#ifdef _WIN32
    // Binary: the lines end in LF alone, so a recording made here replays anywhere.
    fd_ = _wopen(windows::Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | (force ? _O_TRUNC : _O_EXCL),
                 _S_IREAD | _S_IWRITE);
#else
    // Only a regular file is replaced: a named pipe would hold the start until
    // something reads it, a device is no recording.
    struct stat st {};
    if (force && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw std::runtime_error("--record " + path + ": not a regular file");
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (force ? O_TRUNC : O_EXCL | O_NOFOLLOW), 0644);
#endif
    if (fd_ < 0) {
        const int err = errno;
        throw std::runtime_error("--record " + path + ": " +
                                 (err == EEXIST ? std::string("the file exists; it is never overwritten without --force")
                                                : std::strerror(err)));
    }
    char started[64];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S UTC", &utc);
    Write(std::string(RecordingMagic) + std::to_string(RecordingVersion) + "\nprogram: vantrel-display " + VANTREL_VERSION +
          "\nport: " + Escaped(header.port) + "\nspeed: " + (header.baud > 0 ? std::to_string(header.baud) : "?") +
          "\nemulation: " + header.emulation + "\nstarted: " + started + "\n\n");
    if (!problem_.empty()) {  // a full disk: no recording is left, not even an empty one
        ::close(fd_);
#ifdef _WIN32
        _wunlink(windows::Wide(path).c_str());
#else
        ::unlink(path.c_str());
#endif
        throw std::runtime_error("--record " + path + ": " + problem_);
    }
}

Recorder::~Recorder() {
    if (fd_ >= 0) ::close(fd_);
}

void Recorder::Write(const std::string& text) {
    if (!problem_.empty()) return;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            problem_ = n < 0 ? std::strerror(errno) : "nothing written";
            return;
        }
        done += static_cast<std::size_t>(n);
    }
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
