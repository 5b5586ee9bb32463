// SPDX-License-Identifier: GPL-3.0-or-later
#include "Pty.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

Bytes Hex(const char* hex) {
    Bytes out;
    unsigned value = 0;
    int n = 0;
    while (std::sscanf(hex, " %2x%n", &value, &n) == 1) {
        out.push_back(static_cast<std::uint8_t>(value));
        hex += n;
    }
    return out;
}

std::string ToHex(const Bytes& bytes) {
    std::string s;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", b);
        s += buf;
    }
    return s;
}

Pty::Pty() {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

Pty::~Pty() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

Bytes Pty::Read(std::size_t n, std::chrono::milliseconds timeout) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n && master_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        std::uint8_t buf[4096];
        const ssize_t r = read(master_, buf, std::min(sizeof buf, n - out.size()));
        if (r > 0) out.insert(out.end(), buf, buf + r);
        else if (r < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return out;
}

Bytes Pty::ReadUntilQuiet(std::chrono::milliseconds quiet) {
    Bytes out;
    while (master_ >= 0) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
        std::uint8_t buf[4096];
        const ssize_t r = read(master_, buf, sizeof buf);
        if (r > 0) out.insert(out.end(), buf, buf + r);
        else if (r < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return out;
}

void Pty::CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void Pty::FillLine() const {
    using Clock = std::chrono::steady_clock;
    fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) | O_NONBLOCK);
    const Bytes filler(256, 'f');
    auto quietSince = Clock::now();
    while (Clock::now() - quietSince < std::chrono::milliseconds(300)) {
        if (write(slave_, filler.data(), filler.size()) > 0) quietSince = Clock::now();
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

PortMapping::PortMapping(int n, const std::string& path) : name_("VANTREL_COM" + std::to_string(n)) {
    if (const char* old = std::getenv(name_.c_str())) {
        hadPrevious_ = true;
        previous_ = old;
    }
    setenv(name_.c_str(), path.c_str(), 1);
}

PortMapping::~PortMapping() {
    if (hadPrevious_) setenv(name_.c_str(), previous_.c_str(), 1);
    else unsetenv(name_.c_str());
}

LineRecorder::LineRecorder(int master) : master_(master) {
    if (pipe(stopPipe_) != 0) throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] {
        for (;;) {
            pollfd p[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0) continue;
            if (p[1].revents) return;
            std::uint8_t buf[4096];
            const ssize_t r = read(master_, buf, sizeof buf);
            const auto now = Clock::now();
            if (r > 0) {
                std::lock_guard lock(mutex_);
                bytes_.insert(bytes_.end(), buf, buf + r);
                chunks_.push_back({now, bytes_.size()});
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                // The master is gone or hung up: wait for the stop signal only.
                pollfd s{stopPipe_[0], POLLIN, 0};
                poll(&s, 1, -1);
                return;
            }
        }
    });
}

LineRecorder::~LineRecorder() {
    (void)!write(stopPipe_[1], "x", 1);
    thread_.join();
    close(stopPipe_[0]);
    close(stopPipe_[1]);
}

Bytes LineRecorder::All() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

LineRecorder::Clock::time_point LineRecorder::TimeOfByte(std::size_t index) const {
    std::lock_guard lock(mutex_);
    for (const Chunk& c : chunks_)
        if (index < c.end) return c.at;
    return Clock::time_point::max();
}

bool LineRecorder::WaitFor(std::size_t n, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        {
            std::lock_guard lock(mutex_);
            if (bytes_.size() >= n) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::lock_guard lock(mutex_);
    return bytes_.size() >= n;
}
