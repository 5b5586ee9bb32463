// SPDX-License-Identifier: GPL-3.0-or-later
// The port reader's POSIX part: a terminal device opened for exclusive use as
// the panel opens one, read raw with every byte that came with an error
// marked (PARMRK), and a pipe that ends the reader's wait.
#include "virtual-display/PortReader.h"

#include "posix/ExclusiveOpen.h"
#include "posix/LineSettings.h"
#include "serial/PortTables.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vantrel::display {

namespace {

bool IsPseudoTerminal(const struct stat& st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;  // Unix 98 slaves
}

}  // namespace

bool PortGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE; }

void MarkDecoder::Put(std::vector<Run>& out, std::uint8_t b, bool error) {
    if (out.empty() || out.back().errors != error) out.push_back({{}, error});
    out.back().bytes.push_back(b);
}

void MarkDecoder::Decode(std::span<const std::uint8_t> in, std::vector<Run>& out) {
    for (std::uint8_t b : in) {
        if (marked_ == 0) {
            if (b == 0xFF) marked_ = 1;
            else Put(out, b, false);
        } else if (marked_ == 1) {
            // 0xFF 0xFF: a real 0xFF. 0xFF then anything but 0: not a mark a
            // terminal makes; both are taken as they came.
            marked_ = b == 0x00 ? 2 : 0;
            if (b == 0xFF) Put(out, 0xFF, false);
            else if (b != 0x00) Put(out, 0xFF, false), Put(out, b, false);
        } else {
            marked_ = 0;
            Put(out, b, true);
        }
    }
}

std::unique_ptr<ListenPort> ListenPort::Open(const std::string& device, int baud, std::string& error, bool* missing) {
    OpenFailure failure = OpenFailure::None;
    std::string why;
    bool exclusive = false;
    const int fd = OpenExclusive(device, failure, why, exclusive);
    if (missing) *missing = failure == OpenFailure::NoDevice;
    if (fd < 0) {
        error = failure == OpenFailure::NotATerminal ? "not a serial device"
                : failure == OpenFailure::Other       ? why
                                                      : DescribeFailure(failure);
        return nullptr;
    }
    struct stat st {};
    fstat(fd, &st);
    std::unique_ptr<ListenPort> port(new ListenPort(fd, exclusive, IsPseudoTerminal(st), st.st_rdev));
    termios read{};
    tcgetattr(fd, &read);
    // Raw, 8 data bits, no parity, as the panel writes, no flow control; then every byte that
    // came with an error marked (INPCK, PARMRK, no IGNPAR), a break too.
    termios t = ConfigureLine(read, baud == AutoBaud ? PowerOnBaud : baud);
    if (baud == AutoBaud) {  // the speed as it is: a pseudo-terminal's writer's
        cfsetispeed(&t, cfgetispeed(&read));
        cfsetospeed(&t, cfgetospeed(&read));
    }
    // Every byte is data: DC1 and DC3 are commands of some displays, never
    // flow control here; nor does a missing CTS hold a tap's bytes back.
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cflag &= ~(PARENB | CRTSCTS);
    t.c_cflag |= CREAD;
    t.c_iflag |= INPCK | PARMRK;
    t.c_iflag &= ~(IGNPAR | IGNBRK | BRKINT | ISTRIP);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        error = std::string("cannot set the line: ") + std::strerror(errno);
        return nullptr;
    }
    return port;
}

bool ListenPort::SamePort(const std::string& a, const std::string& b) {
    struct stat one {}, two {};
    return stat(a.c_str(), &one) == 0 && stat(b.c_str(), &two) == 0 && one.st_rdev == two.st_rdev && S_ISCHR(one.st_mode) &&
           S_ISCHR(two.st_mode);
}

ListenPort::~ListenPort() {
    if (exclusive_) ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also drops the flock
}

int ListenPort::Baud() const {
    termios t{};
    return tcgetattr(fd_, &t) == 0 ? StandardRate(cfgetispeed(&t)) : UnknownBaud;
}

bool ListenPort::SetBaud(int baud) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfsetispeed(&t, SpeedConstant(baud));
    cfsetospeed(&t, SpeedConstant(baud));
    return tcsetattr(fd_, TCSANOW, &t) == 0;
}

void PortReader::MakeStop() {
    if (pipe2(stop_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
}

PortReader::~PortReader() {
    [[maybe_unused]] const ssize_t w = write(stop_[1], "x", 1);
    display_.EndDeliveries();
    thread_.join();
    for (int fd : stop_) ::close(fd);
}

bool PortReader::WaitForStop(int ms) {
    pollfd p{stop_[0], POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

PortReader::Step PortReader::ReadOnce() {
    pollfd fds[2] = {{port_->Fd(), POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return Step::Stop;
    if (fds[1].revents) return Step::Stop;
    if (!fds[0].revents) return Step::Read;
    std::uint8_t buf[4096];
    const ssize_t n = ::read(port_->Fd(), buf, sizeof buf);
    if (n < 0) return errno == EINTR || errno == EAGAIN || !PortGone(errno) ? Step::Read : Step::Gone;
    if (n == 0) return Step::Gone;  // a hang-up
    // On a pseudo-terminal the writer may change its speed at any time.
    if (auto_ && pty_) {
        const int now = port_->Baud();
        if (now != baud_) {
            baud_ = now;
            WriterSpeed("the writer's speed is now ");
        }
    }
    std::vector<MarkDecoder::Run> runs;
    decoder_.Decode({buf, static_cast<std::size_t>(n)}, runs);
    for (const auto& run : runs) Take(run.bytes, run.errors);
    return Step::Read;
}

}  // namespace vantrel::display
