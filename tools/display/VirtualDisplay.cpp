#include "tools/display/VirtualDisplay.h"

#include "serial/PortTables.h"
#include "serial/LineSettings.h"

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace vantrel::display {

VirtualDisplay::VirtualDisplay(const std::string& link) : link_(link) {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    // Until a port user configures it, the line is raw at the display's own speed.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetospeed(&t, SpeedConstant(PowerOnBaud));
    cfsetispeed(&t, SpeedConstant(PowerOnBaud));
    tcsetattr(slave_, TCSANOW, &t);
    if (!link_.empty()) {
        unlink(link_.c_str());
        if (symlink(slavePath_.c_str(), link_.c_str()) != 0)
            throw std::runtime_error("cannot create " + link_ + ": " + std::strerror(errno));
    }
    lastChunk_ = Clock::now();
}

VirtualDisplay::~VirtualDisplay() {
    if (!link_.empty()) unlink(link_.c_str());
    close(master_);
    close(slave_);
}

int VirtualDisplay::LineBaud() const {
    termios t{};
    if (tcgetattr(slave_, &t) != 0) return 0;
    const speed_t speed = cfgetospeed(&t);
    for (int baud : BaudRates)
        if (SpeedConstant(baud) == speed) return baud;
    return 0;  // a speed the panel never sets: counts as a mismatch
}

std::vector<VirtualDisplay::Chunk> VirtualDisplay::ReadAvailable() {
    std::vector<Chunk> chunks;
    for (;;) {
        std::uint8_t buf[4096];
        const ssize_t r = read(master_, buf, sizeof buf);
        if (r <= 0) break;
        const auto now = Clock::now();
        Chunk chunk{{buf, buf + r}, LineBaud(), now - lastChunk_};
        lastChunk_ = now;
        model_.Feed(chunk.bytes.data(), chunk.bytes.size(), chunk.lineBaud ? chunk.lineBaud : -1);
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

void VirtualDisplay::Pump(std::chrono::milliseconds time) {
    const auto until = Clock::now() + time;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) > 0) ReadAvailable();
    }
    ReadAvailable();
}

std::string MonitorLine(const VirtualDisplay::Chunk& chunk) {
    char head[32];
    std::snprintf(head, sizeof head, "+%9.3f ms ",
                  std::chrono::duration<double, std::milli>(chunk.sincePrevious).count());
    std::string hex, text;
    for (std::uint8_t b : chunk.bytes) {
        char h[4];
        std::snprintf(h, sizeof h, "%02X ", b);
        hex += h;
        text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    return std::string(head) + hex + " " + text;
}

}  // namespace vantrel::display
