// SPDX-License-Identifier: GPL-3.0-or-later
// Serial ports on POSIX systems: a terminal device, held through flock and,
// where it is a real serial port, its exclusive mode. Opened to write, it is
// written with a bounded poll/write and a wait for the driver's output queue
// to empty; opened to listen, it is read raw with every byte that came with
// an error marked (PARMRK), and a pipe ends a wait. It defines Port.h's
// functions and Platform.h's OpeningScope.
#include "posix/LineSettings.h"
#include "posix/Posix.h"
#include "serial/Platform.h"
#include "serial/Port.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <string_view>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace vantrel {

namespace posix {

void MarkDecoder::Put(std::vector<ReadRun>& out, std::uint8_t b, bool error) {
    if (out.empty() || out.back().framingErrors != error) out.push_back({{}, error});
    out.back().bytes.push_back(b);
}

void MarkDecoder::Decode(std::span<const std::uint8_t> in, std::vector<ReadRun>& out) {
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

}  // namespace posix

namespace {

using posix::IsPseudoTerminal;
using Clock = std::chrono::steady_clock;
constexpr int InvalidFd = -1;

PortError Classify(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO: return PortError::NoDevice;
    case EBUSY:
    case EWOULDBLOCK: return PortError::Busy;
    case EACCES:
    case EPERM: return PortError::AccessDenied;
    default: return PortError::Other;
    }
}

// Whether a read or write failed with this error because the port is gone
// (a pulled adapter, a hang-up).
bool PortGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE; }

// The multiplexer (/dev/ptmx, /dev/pts/ptmx), whose every open makes a new
// pseudo-terminal and is its master, or an old-style master (major 2).
bool IsPseudoTerminalMaster(const struct stat& st) {
    return S_ISCHR(st.st_mode) && (st.st_rdev == makedev(5, 2) || major(st.st_rdev) == 2);
}

// Whether a character device is a terminal, told from the kernel's list of
// devices without opening it: a pseudo-terminal's slave (which the list
// leaves out), or a device of the tty class. Where the system shows no such
// list, any character device may be one.
bool IsTerminalNode(const struct stat& st) {
    if (IsPseudoTerminal(st)) return true;
    const std::string node =
        "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) + "/subsystem";
    char target[PATH_MAX];
    const ssize_t n = readlink(node.c_str(), target, sizeof target - 1);
    if (n < 0) return access("/sys/dev/char", F_OK) != 0;
    return std::string_view(target, static_cast<std::size_t>(n)).ends_with("/tty");
}

// Whether a node can be a serial port: a terminal device, but not a
// pseudo-terminal's master, whose other side nobody reads. Sockets, FIFOs,
// files, folders and other devices (/dev/null, a watchdog) are none, whatever
// their open would do: the listing tells by this rule, and the open refuses
// them before opening.
bool MayBeSerial(const struct stat& st) {
    return S_ISCHR(st.st_mode) && !IsPseudoTerminalMaster(st) && IsTerminalNode(st);
}

// Whether a process holds a flock on the node `st` (/proc/locks names it by
// its file system's device and its inode).
bool FlockedByAnyone(const struct stat& st) {
    FILE* locks = std::fopen("/proc/locks", "re");
    if (!locks) return false;
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, locks)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:3 0 EOF"
        unsigned maj = 0, min = 0;
        unsigned long inode = 0;
        const char* flock = std::strstr(line, " FLOCK ");
        found = flock && std::sscanf(flock + 7, "%*s %*s %*d %x:%x:%lu", &maj, &min, &inode) == 3 &&
                makedev(maj, min) == st.st_dev && inode == st.st_ino;
    }
    std::fclose(locks);
    return found;
}

// Whether descriptor `fd` of process `pid` is the master of pseudo-terminal `index`.
bool IsMasterOf(const std::string& pid, const char* fd, unsigned index) {
    const int info = ::open(("/proc/" + pid + "/fdinfo/" + fd).c_str(), O_RDONLY | O_CLOEXEC);
    if (info < 0) return false;
    char text[512];
    const ssize_t n = ::read(info, text, sizeof text - 1);
    ::close(info);
    text[std::max<ssize_t>(n, 0)] = 0;
    const char* at = std::strstr(text, "tty-index:");
    return at && std::strtoul(at + 10, nullptr, 10) == index;
}

// Whether a live process (this one included) has the character device `device`
// open through a descriptor other than `ours`. A pseudo-terminal's far end,
// the process that holds its master, is no holder of the slave it keeps open
// itself.
bool OpenElsewhere(const struct stat& device, int ours) {
    const std::string self = std::to_string(getpid());
    const bool pty = IsPseudoTerminal(device);
    const unsigned index = (major(device.st_rdev) - 136) * 256 + minor(device.st_rdev);
    DIR* proc = opendir("/proc");
    if (!proc) return true;  // can't tell: assume the hold is someone's
    bool found = false;
    while (const dirent* p = readdir(proc)) {
        if (found) break;
        if (p->d_name[0] < '0' || p->d_name[0] > '9') continue;
        const std::string dir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = opendir(dir.c_str());
        if (!fds) continue;
        bool slave = false, master = false;
        while (const dirent* f = readdir(fds)) {
            struct stat st {};
            if (f->d_name[0] == '.' || (self == p->d_name && std::atoi(f->d_name) == ours)) continue;
            if (stat((dir + "/" + f->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
            if (st.st_rdev == device.st_rdev) slave = true;
            else if (pty && st.st_rdev == makedev(5, 2) && IsMasterOf(p->d_name, f->d_name, index)) master = true;
        }
        closedir(fds);
        found = slave && !master;
    }
    closedir(proc);
    return found;
}

// The descriptor whose exclusive mode we set, for the signal handler below.
std::atomic<int> ExclusiveFd{InvalidFd};

// SIGTERM, SIGINT and SIGHUP clear our exclusive mode, then end the program
// as they would have.
void ClearExclusiveAndEnd(int signal) {
    if (const int fd = ExclusiveFd.load(); fd >= 0) ioctl(fd, TIOCNXCL);
    std::raise(signal);  // the handler was reset: the default action follows
}

void ClearExclusiveOnSignals() {
    static const bool installed = [] {
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction now {};
            if (sigaction(signal, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) continue;  // the program's own
            struct sigaction clear {};
            clear.sa_handler = ClearExclusiveAndEnd;
            clear.sa_flags = SA_RESETHAND;
            sigemptyset(&clear.sa_mask);
            sigaction(signal, &clear, nullptr);
        }
        return true;
    }();
    (void)installed;
}

// Why an open that only root gets past failed, where no program holds a
// flock on the device: its exclusive mode, which may outlive the program
// that set it.
constexpr const char* ExclusiveModeWords =
    "the device is in exclusive mode (TIOCEXCL), set by a program that opened it: end that program; once it has "
    "ended, an open as root clears the mode, as does closing the device everywhere";

// Opens a device for exclusive use: a descriptor, or -1 with the reason (and
// the system's words for Other). `exclusive` tells whether we set the terminal's
// exclusive mode (TIOCEXCL), so that only we clear it again.
//
// Exclusive use is flock's: it holds against root too, and it ends with the
// descriptor, however the program ends. TIOCEXCL keeps out programs that
// don't use flock, but outlives a killed program where the terminal stays
// open elsewhere; on a pseudo-terminal, whose other side stays open, it is
// not set. "Busy" is what another live program holds: its flock, or the
// device open in exclusive mode; a mode that nobody holds any more (none but
// the pseudo-terminal's far end has it open) is cleared.
int AcquireDevice(const std::string& path, PortResult& result, bool& exclusive) {
    result = {};
    exclusive = false;
    const auto fail = [&](int err) {
        result.error = Classify(err);
        if (result.error == PortError::Other) result.words = std::strerror(err);
    };
    int held = 0;
    int fd = InvalidFd;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        fail(errno);
    } else if (!MayBeSerial(st)) {
        // Told before opening: the open of a FIFO, a socket or the multiplexer
        // does things of its own. A mistyped mapping must never receive frames.
        result.error = PortError::NotATerminal;
    } else if ((fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        const int err = errno;
        fail(err);
        if (err == EBUSY && !FlockedByAnyone(st)) result = {PortError::Other, ExclusiveModeWords};
    } else if (!isatty(fd) || fstat(fd, &st) != 0 || !MayBeSerial(st)) {
        result.error = PortError::NotATerminal;  // the node was replaced since
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        fail(errno);
    } else if (ioctl(fd, TIOCGEXCL, &held) == 0 && held && OpenElsewhere(st, fd)) {
        // Another program holds it exclusively without flock. Root gets past
        // TIOCEXCL, so ask: taking the device (and clearing the mode at our
        // close) would break that program's hold.
        result.error = PortError::Busy;
    } else if (held && IsPseudoTerminal(st)) {
        ioctl(fd, TIOCNXCL);  // left by a program that has ended: nobody holds it
    } else if (IsPseudoTerminal(st) || held) {
        // A pseudo-terminal stays ours through flock alone; a held mode that
        // nobody holds any more is kept as the device's.
    } else if (ioctl(fd, TIOCEXCL) == 0) {
        exclusive = true;
    } else if (errno != ENOTTY && errno != EINVAL) {
        fail(errno);
    }
    if (result.Ok()) return fd;
    if (fd >= 0) ::close(fd);
    return InvalidFd;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A port on a terminal device, held exclusively.
class TtyPort final : public posix::TerminalPort {
public:
    TtyPort(int fd, PortUse use, int baud, bool exclusive, bool pty, const termios& applied)
        : fd_(fd), use_(use), baud_(baud), exclusive_(exclusive), pty_(pty), applied_(applied) {
        // The panel's port: its exclusive mode is cleared also when a signal ends the program.
        if (!exclusive_ || use_ != PortUse::Write) return;
        ExclusiveFd = fd_;
        ClearExclusiveOnSignals();
    }
    ~TtyPort() override {
        if (exclusive_) {
            if (use_ == PortUse::Write) ExclusiveFd = InvalidFd;
            ioctl(fd_, TIOCNXCL);
        }
        ::close(fd_);  // also drops the flock
        for (int fd : wake_)
            if (fd >= 0) ::close(fd);
    }

    // The pipe that ends a wait: a port to listen on has one.
    PortResult MakeWake() {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) == 0) return {};
        return {PortError::Other, std::string("cannot make a pipe: ") + std::strerror(errno)};
    }

    int Fd() const override { return fd_; }

    PortResult Write(const std::uint8_t* data, std::size_t n, int boundMs) override {
        return boundMs < 0 ? WriteAll(data, n) : WriteWithin(data, n, boundMs);
    }

    std::size_t EarlierDiscarded() const override { return earlier_; }

    void Reapply() override { tcsetattr(fd_, TCSANOW, &applied_); }

    PortResult Read(std::vector<ReadRun>& runs, int timeoutMs) override {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = ::poll(fds, wake_[0] >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0) return errno == EINTR ? PortResult{} : PortResult{PortError::Other, std::strerror(errno)};
        if (fds[1].revents) return {PortError::Stopped, {}};
        if (!fds[0].revents) return {};
        return ReadNow(runs);
    }

    PortResult ReadNow(std::vector<ReadRun>& runs) override {
        std::uint8_t buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0) {
            const int err = errno;
            if (err == EINTR || err == EAGAIN || !PortGone(err)) return {};
            return {PortError::Gone, std::strerror(err)};
        }
        if (n == 0) return {PortError::Gone, "hung up"};
        const std::span<const std::uint8_t> bytes(buf, static_cast<std::size_t>(n));
        if (use_ == PortUse::Listen) decoder_.Decode(bytes, runs);
        else runs.push_back({{bytes.begin(), bytes.end()}, false});
        return {};
    }

    void Interrupt() override {
        if (wake_[1] >= 0) [[maybe_unused]] const ssize_t w = ::write(wake_[1], "x", 1);
    }

    PortResult SetBaud(int baud) override {
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return {PortError::Other, std::strerror(errno)};
        cfsetispeed(&t, SpeedConstant(baud));
        cfsetospeed(&t, SpeedConstant(baud));
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return {PortError::Other, std::strerror(errno)};
        baud_ = baud;
        return {};
    }

    int Baud() const override {
        termios t{};
        return tcgetattr(fd_, &t) == 0 ? StandardRate(cfgetispeed(&t)) : UnknownBaud;
    }

    bool PseudoTerminal() const override { return pty_; }

private:
    // The most a pseudo-terminal holds for a reader that does not read (the
    // kernel's limit of a terminal's buffer).
    static constexpr std::size_t PseudoTerminalQueue = 64 * 1024;

    // Writes all n bytes and waits until the driver's output queue is empty,
    // within the bound. Past the bound whatever is still queued is discarded,
    // so no part of a failed frame reaches the line later.
    PortResult WriteWithin(const std::uint8_t* data, std::size_t n, int boundMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(boundMs);
        earlier_ = 0;
        std::size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd_, data + done, n - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno != EAGAIN) return {PortError::Gone, std::strerror(errno)};  // EIO/ENXIO/EBADF
            const int wait = RemainingMs(deadline);
            if (wait == 0) return Discard(done);
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, wait) < 0 && errno != EINTR) return {PortError::Gone, std::strerror(errno)};
        }
        // Return when the bytes have left, as a synchronous serial write does.
        for (;;) {
            int queued = 0;
            if (ioctl(fd_, TIOCOUTQ, &queued) < 0 || queued <= 0) return {};
            const int wait = RemainingMs(deadline);
            if (wait == 0) return Discard(done);
            // The time the queued bytes need on the line, at least 1 ms per look.
            const long need_us = std::max(1000L, 10L * 1000000L * queued / std::max(baud_, 1));
            std::this_thread::sleep_for(std::chrono::microseconds(std::min<long>(need_us, wait * 1000L)));
        }
    }

    // Writes all n bytes as the line takes them, until Interrupt().
    PortResult WriteAll(const std::uint8_t* data, std::size_t n) {
        for (std::size_t done = 0; done < n;) {
            const ssize_t w = ::write(fd_, data + done, n - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno != EAGAIN) return {PortError::Gone, std::strerror(errno)};
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, wake_[0] >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return {PortError::Gone, std::strerror(errno)};
            if (fds[1].revents) return {PortError::Stopped, {}};
        }
        return {};
    }

    // A write that missed its bound, `done` of its n bytes queued: those are
    // discarded, so that no part of the frame reaches the line later. With
    // none queued there is nothing of it to discard, and nothing written
    // before it is. A device that counts its queue says what else went with
    // them; a pseudo-terminal reports an empty queue even when full, so all
    // it may hold counts as possibly gone.
    PortResult Discard(std::size_t done) {
        if (done == 0) return {PortError::Stalled, {}};
        int queued = 0;
        ioctl(fd_, TIOCOUTQ, &queued);
        earlier_ = queued <= 0 ? PseudoTerminalQueue
                               : static_cast<std::size_t>(queued) > done ? static_cast<std::size_t>(queued) - done : 0;
        tcflush(fd_, TCOFLUSH);
        return {PortError::Stalled, {}};
    }

    const int fd_;
    const PortUse use_;
    int baud_;
    const bool exclusive_;
    const bool pty_;
    const termios applied_;  // the settings of the open, which Reapply applies again
    std::size_t earlier_ = 0;  // see EarlierDiscarded
    int wake_[2] = {-1, -1};
    posix::MarkDecoder decoder_;
};

}  // namespace

// A port never takes descriptors 0 to 2: with one of them closed, a port
// there would receive what the program prints. While a port opens, the free
// ones among them are held on /dev/null.
OpeningScope::OpeningScope() {
    for (int fd; (fd = ::open("/dev/null", O_RDWR | O_CLOEXEC)) >= 0;) {
        if (fd > 2) {
            ::close(fd);
            break;
        }
        held_[count_++] = fd;
    }
}

OpeningScope::~OpeningScope() {
    for (int i = 0; i < count_; ++i) ::close(held_[i]);
}

// Opens a terminal device and configures it: read, change exactly what is
// allowed, apply. To write, a refused setting is not reported: the port
// counts as open with what the driver kept, and the refused values stay the
// settings of record. To listen, the line must be as set.
PortResult OpenSerialPort(const std::string& device, PortUse use, int baud, std::unique_ptr<Port>& port) {
    port.reset();
    PortResult result;
    bool exclusive = false;
    const int fd = AcquireDevice(device, result, exclusive);
    if (fd == InvalidFd) return result;
    struct stat st {};
    fstat(fd, &st);
    termios read{};
    tcgetattr(fd, &read);
    const termios applied = use == PortUse::Write ? ConfigureLine(read, baud) : ConfigureListening(read, baud);
    auto opened = std::make_unique<TtyPort>(fd, use, baud, exclusive, IsPseudoTerminal(st), applied);
    if (tcsetattr(fd, TCSANOW, &applied) != 0 && use == PortUse::Listen)
        return {PortError::Other, std::string("cannot set the line: ") + std::strerror(errno)};
    if (use == PortUse::Listen)
        if (result = opened->MakeWake(); !result.Ok()) return result;
    port = std::move(opened);
    return {};
}

PortResult ProbeSerialPort(const std::string& device) {
    PortResult result;
    bool exclusive = false;
    if (const int fd = AcquireDevice(device, result, exclusive); fd != InvalidFd) {
        if (exclusive) ioctl(fd, TIOCNXCL);  // and let go again at once
        ::close(fd);
    }
    return result;
}

PortResult LookAtSerialPort(const std::string& device) {
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return {errno == EACCES                      ? PortError::AccessDenied
                : errno == ENOENT || errno == ENOTDIR ? PortError::NoDevice
                                                      : PortError::Other,
                {}};
    if (!MayBeSerial(st)) return {PortError::NotATerminal, {}};
    return {access(device.c_str(), R_OK | W_OK) == 0 ? PortError::None : PortError::AccessDenied, {}};
}

bool SameSerialPort(const std::string& a, const std::string& b) {
    struct stat one {}, two {};
    return stat(a.c_str(), &one) == 0 && stat(b.c_str(), &two) == 0 && one.st_rdev == two.st_rdev && S_ISCHR(one.st_mode) &&
           S_ISCHR(two.st_mode);
}

}  // namespace vantrel
