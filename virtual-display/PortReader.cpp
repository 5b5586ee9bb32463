// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/PortReader.h"

#include "posix/ExclusiveOpen.h"
#include "posix/LineSettings.h"
#include "serial/NetPort.h"
#include "serial/PortDiscovery.h"
#include "serial/PortTables.h"
#include "virtual-display/Ranking.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace vantrel::display {

namespace {

// The order in which --baud auto tries the speeds of the list: the common ones first.
constexpr std::array<int, 8> TrialOrder{9600, 19200, 38400, 4800, 2400, 1200, 600, 300};
static_assert(TrialOrder.size() == BaudRates.size());

bool IsPseudoTerminal(const struct stat& st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;  // Unix 98 slaves
}

}  // namespace

bool PortGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE; }

int ParseBaud(const std::string& text) {
    if (text == "auto") return AutoBaud;
    for (int rate : BaudRates)
        if (text == std::to_string(rate)) return rate;
    return -1;
}

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

std::string ListenPort::Resolve(const std::string& name, std::string& error) {
    if (name.empty()) {
        error = "an empty port name";
        return {};
    }
    if (!PortNumber(name)) return name;
    const std::string device = ResolvePort(name.c_str()).device;
    if (IsNetworkPort(device)) {
        error = name + " is mapped to the network port " + device + ", which vantrel-display does not listen on";
        return {};
    }
    return device;
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

std::string PortLabel(const std::string& name, const std::string& device) {
    return name == device ? device : name + " (" + device + ")";
}

bool ReadsAsCommands(std::span<const std::uint8_t> bytes) {
    // Every display shows bytes above 7F as characters of its code page, and
    // that is what a wrong speed mostly makes of text: a till sends few.
    const auto high = std::count_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b >= 0x80; });
    if (bytes.empty() || static_cast<std::size_t>(high) * 4 > bytes.size()) return false;
    Ranking ranking;
    ranking.Feed(bytes, PowerOnBaud);
    return ranking.ReadPercent(ranking.Ranks().front()) >= 90;
}

PortReader::PortReader(VirtualDisplay& display, std::unique_ptr<ListenPort> port, std::string name, std::string device,
                       int baud)
    : display_(display), port_(std::move(port)), name_(std::move(name)), device_(std::move(device)),
      label_(PortLabel(name_, device_)), auto_(baud == AutoBaud), pty_(port_->PseudoTerminal()), baud_(baud) {
    if (pipe2(stop_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
    if (auto_ && pty_) {
        baud_ = port_->Baud();
        found_ = true;
        display_.Notice(label_ + " is a pseudo-terminal: the writer's speed is taken, " + std::to_string(baud_) + " bit/s",
                        false, baud_);
    } else if (auto_) {
        baud_ = trial_.Speed();
        port_->SetBaud(baud_);
        display_.Notice("--baud auto: listening on " + label_ + " at " + std::to_string(baud_) + " bit/s first");
    } else {
        display_.Notice("listening on " + label_ + " at " + std::to_string(baud_) + " bit/s");
    }
    thread_ = std::thread([this] { Run(); });
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

void PortReader::Run() {
    std::string said;  // the last reason a reopen failed, said once
    for (;;) {
        if (!port_) {
            if (WaitForStop(RetryMs)) return;
            std::string error;
            bool missing = false;
            port_ = ListenPort::Open(device_, auto_ && pty_ ? AutoBaud : baud_, error, &missing);
            if (!port_) {
                if (!missing && error != said) display_.Notice(label_ + " is back but cannot be opened: " + error + "; trying again");
                said = missing ? "" : error;
                continue;
            }
            said.clear();
            if (auto_ && pty_) baud_ = port_->Baud();
            decoder_ = {};
            display_.Notice(label_ + " is back: listening again at " + std::to_string(baud_) + " bit/s");
        }
        pollfd fds[2] = {{port_->Fd(), POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (fds[0].revents && !ReadOnce()) {
            port_.reset();
            display_.Notice(label_ + " is gone (a pulled adapter?): waiting for it to come back");
        }
    }
}

bool PortReader::ReadOnce() {
    std::uint8_t buf[4096];
    const ssize_t n = ::read(port_->Fd(), buf, sizeof buf);
    if (n < 0) return errno == EINTR || errno == EAGAIN || !PortGone(errno);
    if (n == 0) return false;  // a hang-up
    // On a pseudo-terminal the writer may change its speed at any time.
    if (auto_ && pty_) {
        const int now = port_->Baud();
        if (now != baud_) {
            baud_ = now;
            display_.Notice("the writer's speed is now " + std::to_string(baud_) + " bit/s", false, baud_);
        }
    }
    std::vector<MarkDecoder::Run> runs;
    decoder_.Decode({buf, static_cast<std::size_t>(n)}, runs);
    for (const auto& run : runs) {
        if (auto_ && !found_) Trial(run.bytes, run.errors);
        else Hand(run.bytes, run.errors);
    }
    return true;
}

void PortReader::Hand(std::span<const std::uint8_t> bytes, bool errors) {
    display_.Deliver(bytes, baud_, Direction::TillToDisplay, errors);
}

int SpeedTrial::Speed() const { return TrialOrder[static_cast<std::size_t>(index_)]; }

SpeedTrial::Verdict SpeedTrial::Take(std::span<const std::uint8_t> run, bool errors, std::vector<std::uint8_t>& bytes) {
    held_.insert(held_.end(), run.begin(), run.end());
    if (!errors && held_.size() < TrialBytes) return Verdict::Wait;
    const bool found = !errors && ReadsAsCommands(held_);
    bytes = std::exchange(held_, {});
    if (found) return Verdict::Found;
    index_ = (index_ + 1) % static_cast<int>(TrialOrder.size());
    return Verdict::Next;
}

void PortReader::Trial(std::span<const std::uint8_t> run, bool errors) {
    std::vector<std::uint8_t> bytes;
    const SpeedTrial::Verdict verdict = trial_.Take(run, errors, bytes);
    if (verdict == SpeedTrial::Verdict::Found) {
        found_ = true;
        display_.Notice("--baud auto: " + std::to_string(baud_) + " bit/s, the bytes come without framing errors and read as commands",
                        false, baud_);
        Hand(bytes, false);
    } else if (verdict == SpeedTrial::Verdict::Next) {
        Hand(bytes, true);  // what came at a speed given up is garbage
        baud_ = trial_.Speed();
        port_->SetBaud(baud_);
        display_.Notice(std::string("--baud auto: ") + (errors ? "framing errors" : "the bytes read as no command set") +
                        ", trying " + std::to_string(baud_) + " bit/s");
    }
}

}  // namespace vantrel::display
