// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/display/VirtualDisplay.h"

#include "serial/PortTables.h"
#include "serial/LineSettings.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
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
        Chunk chunk{{buf, buf + r}, LineBaud(), now - lastChunk_, {}};
        lastChunk_ = now;
        model_.Feed(chunk.bytes.data(), chunk.bytes.size(), chunk.lineBaud ? chunk.lineBaud : -1);
        chunk.readings = model_.TakeReadings();
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

std::vector<VirtualDisplay::Chunk> VirtualDisplay::Pump(std::chrono::milliseconds time) {
    std::vector<Chunk> chunks;
    auto take = [&chunks](std::vector<Chunk> more) { std::move(more.begin(), more.end(), std::back_inserter(chunks)); };
    const auto until = Clock::now() + time;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) > 0) take(ReadAvailable());
    }
    take(ReadAvailable());
    return chunks;
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
    std::string line = std::string(head) + hex + " " + text;
    for (const Reading& reading : chunk.readings) line += "\n      " + DescribeReading(reading);
    return line;
}

std::string SetupText(const Setup& setup) {
    return std::string("emulation=") + setup.emulation + "\nspeed=" + std::to_string(setup.ownBaud) +
           "\ninternational=" + setup.international + "\ncodepage=" + setup.codePage + "\n";
}

bool ParseSetup(const std::string& text, DisplayModel& model, std::string& error) {
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const auto eq = line.find('=');
        if (eq == std::string::npos || !values.emplace(line.substr(0, eq), line.substr(eq + 1)).second) {
            error = "line " + std::to_string(number) + " is not KEY=VALUE once per key";
            return false;
        }
    }
    for (const char* key : {"emulation", "speed", "international", "codepage"})
        if (!values.count(key)) {
            error = std::string("no ") + key;
            return false;
        }
    const std::string& speed = values["speed"];
    const bool digits = !speed.empty() && speed.size() < 7 && speed.find_first_not_of("0123456789") == std::string::npos;
    const Setup setup{values["emulation"].c_str(), digits ? std::stoi(speed) : 0, values["international"].c_str(),
                      values["codepage"].c_str()};
    if (!model.Restore(setup)) {
        error = "a value the display does not know";
        return false;
    }
    return true;
}

bool SaveSetup(const std::string& path, const Setup& setup) {
    const std::string temporary = path + ".tmp";
    const std::string text = SetupText(setup);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

void LoadSetup(const std::string& path, DisplayModel& model) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno != ENOENT)
            std::fprintf(stderr, "vantrel-display: %s: cannot be read (%s); power-on settings\n", path.c_str(), std::strerror(errno));
        return;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    if (!ParseSetup(text.str().substr(0, 4096), model, error))
        std::fprintf(stderr, "vantrel-display: %s: damaged state file (%s); power-on settings\n", path.c_str(), error.c_str());
}

}  // namespace vantrel::display
