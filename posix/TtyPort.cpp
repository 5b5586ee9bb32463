// SPDX-License-Identifier: GPL-3.0-or-later
// The link's port on POSIX systems: a terminal device, held through flock
// and, where it is a real serial port, its exclusive mode; written with a
// bounded poll/write and a wait for the driver's output queue to empty.
// It defines SerialLink.h's ProbeDevice, LookAtDevice and OpenDevice, and
// Platform.h's OpeningScope.
#include "posix/LineSettings.h"
#include "serial/Platform.h"
#include "serial/SerialLink.h"

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

namespace {

using Clock = std::chrono::steady_clock;
OpenFailure Classify(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO: return OpenFailure::NoDevice;
    case EBUSY:
    case EWOULDBLOCK: return OpenFailure::Busy;
    case EACCES:
    case EPERM: return OpenFailure::AccessDenied;
    default: return OpenFailure::Other;
    }
}

bool IsPseudoTerminal(const struct stat& st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;  // Unix 98 slaves
}

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
std::atomic<int> ExclusiveFd{InvalidHandle};

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
// words of detail for Other). `exclusive` tells whether we set the terminal's
// exclusive mode (TIOCEXCL), so that only we clear it again.
//
// Exclusive use is flock's: it holds against root too, and it ends with the
// descriptor, however the program ends. TIOCEXCL keeps out programs that
// don't use flock, but outlives a killed program where the terminal stays
// open elsewhere; on a pseudo-terminal, whose other side stays open, it is
// not set. "Busy" is what another live program holds: its flock, or the
// device open in exclusive mode; a mode that nobody holds any more (none but
// the pseudo-terminal's far end has it open) is cleared.
int AcquireDevice(const std::string& path, OpenFailure& failure, std::string& why, bool& exclusive) {
    failure = OpenFailure::None;
    why.clear();
    exclusive = false;
    const auto fail = [&](int err) {
        failure = Classify(err);
        if (failure == OpenFailure::Other) why = std::strerror(err);
    };
    int held = 0;
    int fd = InvalidHandle;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        fail(errno);
    } else if (!MayBeSerial(st)) {
        // Told before opening: the open of a FIFO, a socket or the multiplexer
        // does things of its own. A mistyped mapping must never receive frames.
        failure = OpenFailure::NotATerminal;
    } else if ((fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        const int err = errno;
        fail(err);
        if (err == EBUSY && !FlockedByAnyone(st)) {
            failure = OpenFailure::Other;
            why = ExclusiveModeWords;
        }
    } else if (!isatty(fd) || fstat(fd, &st) != 0 || !MayBeSerial(st)) {
        failure = OpenFailure::NotATerminal;  // the node was replaced since
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        fail(errno);
    } else if (ioctl(fd, TIOCGEXCL, &held) == 0 && held && OpenElsewhere(st, fd)) {
        // Another program holds it exclusively without flock. Root gets past
        // TIOCEXCL, so ask: taking the device (and clearing the mode at our
        // close) would break that program's hold.
        failure = OpenFailure::Busy;
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
    if (failure == OpenFailure::None) return fd;
    if (fd >= 0) ::close(fd);
    return InvalidHandle;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A local terminal device, held exclusively.
class TtyPort : public LinkPort {
public:
    TtyPort(int fd, int baud, bool exclusive, const termios& applied = {})
        : fd_(fd), baud_(baud), exclusive_(exclusive), applied_(applied) {
        if (!exclusive_) return;
        ExclusiveFd = fd_;
        ClearExclusiveOnSignals();
    }
    ~TtyPort() override {
        if (exclusive_) {
            ExclusiveFd = InvalidHandle;
            ioctl(fd_, TIOCNXCL);
        }
        ::close(fd_);  // also drops the flock
    }

    // Writes all n bytes and waits until the driver's output queue is empty,
    // within the bound. Past the bound whatever is still queued is discarded,
    // so no part of a failed frame reaches the line later.
    WriteResult Write(const std::uint8_t* data, std::size_t n, int boundMs) override {
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
            if (w < 0 && errno != EAGAIN) return WriteResult::DeviceGone;  // EIO/ENXIO/EBADF
            const int wait = RemainingMs(deadline);
            if (wait == 0) return Discard(done);
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, wait) < 0 && errno != EINTR) return WriteResult::DeviceGone;
        }
        // Return when the bytes have left, as a synchronous serial write does.
        for (;;) {
            int queued = 0;
            if (ioctl(fd_, TIOCOUTQ, &queued) < 0 || queued <= 0) return WriteResult::Ok;
            const int wait = RemainingMs(deadline);
            if (wait == 0) return Discard(done);
            // The time the queued bytes need on the line, at least 1 ms per look.
            const long need_us = std::max(1000L, 10L * 1000000L * queued / std::max(baud_, 1));
            std::this_thread::sleep_for(std::chrono::microseconds(std::min<long>(need_us, wait * 1000L)));
        }
    }

    std::size_t EarlierDiscarded() const override { return earlier_; }

    void Reapply() override { tcsetattr(fd_, TCSANOW, &applied_); }

private:
    // The most a pseudo-terminal holds for a reader that does not read (the
    // kernel's limit of a terminal's buffer).
    static constexpr std::size_t PseudoTerminalQueue = 64 * 1024;

    // A write that missed its bound, `done` of its n bytes queued: those are
    // discarded, so that no part of the frame reaches the line later. With
    // none queued there is nothing of it to discard, and nothing written
    // before it is. A device that counts its queue says what else went with
    // them; a pseudo-terminal reports an empty queue even when full, so all
    // it may hold counts as possibly gone.
    WriteResult Discard(std::size_t done) {
        if (done == 0) return WriteResult::Stalled;
        int queued = 0;
        ioctl(fd_, TIOCOUTQ, &queued);
        earlier_ = queued <= 0 ? PseudoTerminalQueue
                               : static_cast<std::size_t>(queued) > done ? static_cast<std::size_t>(queued) - done : 0;
        tcflush(fd_, TCOFLUSH);
        return WriteResult::Stalled;
    }

    int fd_;
    int baud_;
    bool exclusive_;
    termios applied_;  // the settings of the open, which Reapply applies again
    std::size_t earlier_ = 0;  // see EarlierDiscarded
};

// Opens a terminal device and configures it: read, change exactly what is
// allowed, apply. A refused setting is not reported: the port counts as open
// with what the driver kept, and the refused values stay the settings of record.
std::unique_ptr<LinkPort> OpenTty(const std::string& path, int baudValue, OpenFailure& failure, std::string& why) {
    bool exclusive = false;
    const int fd = AcquireDevice(path, failure, why, exclusive);
    if (fd == InvalidHandle) return nullptr;
    termios read{};
    tcgetattr(fd, &read);
    const termios applied = ConfigureLine(read, baudValue);
    tcsetattr(fd, TCSANOW, &applied);
    return std::make_unique<TtyPort>(fd, baudValue, exclusive, applied);
}

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

OpenFailure ProbeDevice(const std::string& path) {
    OpenFailure failure;
    std::string why;
    bool exclusive;
    if (const int fd = AcquireDevice(path, failure, why, exclusive); fd != InvalidHandle) {
        TtyPort released(fd, 0, exclusive);  // and let go again at once
    }
    return failure;
}

OpenFailure LookAtDevice(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return errno == EACCES ? OpenFailure::AccessDenied
               : errno == ENOENT || errno == ENOTDIR ? OpenFailure::NoDevice
                                                      : OpenFailure::Other;
    if (!MayBeSerial(st)) return OpenFailure::NotATerminal;
    return access(path.c_str(), R_OK | W_OK) == 0 ? OpenFailure::None : OpenFailure::AccessDenied;
}

void OpenDevice(const std::string& path, int baudValue) {
    OpenWith(path, baudValue, [&](OpenFailure& failure, std::string& why) { return OpenTty(path, baudValue, failure, why); });
}

}  // namespace vantrel

#include "posix/ExclusiveOpen.h"

namespace vantrel {

int OpenExclusive(const std::string& path, OpenFailure& failure, std::string& why, bool& exclusive) {
    return AcquireDevice(path, failure, why, exclusive);
}

}  // namespace vantrel
