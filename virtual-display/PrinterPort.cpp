// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/PrinterPort.h"

#include "virtual-display/VirtualDisplay.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vantrel::display {

PrinterPort::PrinterPort(int line, std::function<void(std::span<const std::uint8_t>)> carried) : carried_(std::move(carried)) {
    // Raw: no echo (the printer's bytes would come back as answers) and no
    // translation of CR, LF or any other byte of a receipt.
    slavePath_ = OpenRawPseudoTerminal(master_, slave_, "the printer's pseudo-terminal");
    line_ = fcntl(line, F_DUPFD_CLOEXEC, 0);  // non-blocking, as the display's own
    if (line_ < 0 || pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("cannot set up the printer's port: ") + std::strerror(errno));
    pump_ = std::thread([this] { Pump(); });
}

PrinterPort::~PrinterPort() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    [[maybe_unused]] const ssize_t w = write(wake_[1], "x", 1);
    pump_.join();
    WriteHeld();  // the last bytes passed, as far as the printer side takes them now
    if (!link_.empty()) RemoveOwnLink(link_, slavePath_);
    for (int fd : {master_, slave_, line_, wake_[0], wake_[1]})
        if (fd >= 0) close(fd);
}

void PrinterPort::Publish(const std::string& link) {
    PublishLink("--printer", link, slavePath_);
    link_ = link;
}

std::size_t PrinterPort::Send(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    if (held_.Empty()) {
        [[maybe_unused]] const ssize_t w = write(wake_[1], "s", 1);  // the pump waits for writability now
    }
    const std::size_t dropped = held_.Push(bytes);
    passed_ += bytes.size();
    dropped_ += dropped;
    return dropped;
}

std::uint64_t PrinterPort::Passed() const {
    std::lock_guard lock(mutex_);
    return passed_;
}

std::uint64_t PrinterPort::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::uint64_t PrinterPort::Answered() const {
    std::lock_guard lock(mutex_);
    return answered_;
}

std::uint64_t PrinterPort::AnswersDropped() const {
    std::lock_guard lock(mutex_);
    return answersDropped_;
}

std::uint64_t PrinterPort::TakeAnswersDropped() {
    std::lock_guard lock(mutex_);
    return answersDropped_ - std::exchange(answersDroppedSaid_, answersDropped_);
}

std::string PrinterPort::Counts() const {
    std::lock_guard lock(mutex_);
    return std::to_string(passed_) + " bytes for the printer, " + std::to_string(dropped_) + " dropped; " +
           std::to_string(answered_) + " answer bytes, " + std::to_string(answersDropped_) + " dropped";
}

void PrinterPort::Pump() {
    for (;;) {
        bool toPrinter = false, toHost = false;
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
            toPrinter = !held_.Empty();
            toHost = !answers_.Empty();
        }
        pollfd fds[3] = {{master_, static_cast<short>(POLLIN | (toPrinter ? POLLOUT : 0)), 0},
                         {line_, static_cast<short>(toHost ? POLLOUT : 0), 0},
                         {wake_[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) continue;  // EINTR
        if (fds[2].revents & POLLIN) {
            char drain[64];
            while (read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
        if (fds[0].revents & POLLOUT) WriteHeld();
        if (fds[0].revents & POLLIN) ReadAnswers();
        if (fds[1].revents & POLLOUT) WriteAnswers();
    }
}

// Under the lock: the display may drop the oldest held bytes meanwhile, and
// those are the ones being written. The write never blocks.
void PrinterPort::WriteHeld() {
    std::lock_guard lock(mutex_);
    while (!held_.Empty()) {
        const auto run = held_.Front();
        const ssize_t n = write(master_, run.data(), run.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        held_.Pop(static_cast<std::size_t>(n));
    }
}

void PrinterPort::ReadAnswers() {
    std::uint8_t buf[4096];
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return;
    std::lock_guard lock(mutex_);
    answered_ += static_cast<std::size_t>(n);
    answersDropped_ += answers_.Push({buf, static_cast<std::size_t>(n)});
}

void PrinterPort::WriteAnswers() {
    std::vector<std::uint8_t> written;
    {
        std::lock_guard lock(mutex_);
        while (!answers_.Empty()) {
            const auto run = answers_.Front();
            const ssize_t n = write(line_, run.data(), run.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            written.insert(written.end(), run.begin(), run.begin() + n);
            answers_.Pop(static_cast<std::size_t>(n));
        }
    }
    if (carried_ && !written.empty()) carried_(written);
}

}  // namespace vantrel::display
