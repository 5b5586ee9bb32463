// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/SerialLink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
// The terminal device's part is POSIX; on Windows windows/ComPort.cpp opens
// the port and defines ProbeDevice, LookAtDevice and OpenDevice.
#ifndef _WIN32
#include "serial/LineSettings.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace vantrel {

char PortName[5] = "COM1";
std::array<std::uint8_t, TxBufferSize> TxBuffer{};

namespace {

using Clock = std::chrono::steady_clock;

// Guards every field below and every use of the port.
std::mutex LinkMutex;
// The open port; none after any close, so no later write reaches a device or
// file that reuses its descriptor.
std::unique_ptr<LinkPort> Port;
int OpenBaud = 9600;
#ifndef _WIN32
termios AppliedSettings{};
#endif
OpenFailure LastFailure = OpenFailure::None;
std::string LastDevice;
std::string LastDetail;
FailureReporter Reporter;
WriteResult LastResult = WriteResult::Ok;

// ---- The line log's ring: records and the store of their bytes ----
thread_local WriteSource CurrentSource;
// Guards the ring. Taken inside LinkMutex by the writers, alone by the readers.
std::mutex LogMutex;

// Plain fields only: the ring is zero-initialised at load and touches no page
// until it is used.
struct Slot {
    std::uint64_t sequence;
    std::int64_t timeOfDayUs;
    std::int32_t durationUs;
    int controlId;
    const char* option;
    int number;
    WriteResult result;
    bool open;
    bool close;
    int baud;
    std::uint32_t notTaken;
    std::uint32_t earlierRows;
    std::uint64_t byteStart;  // in the byte store, counted from its beginning
    std::uint32_t length;
};
std::array<Slot, LineLogRows> Slots;  // zero pages until used: costs nothing at start-up
std::array<char, LineLogBytes> Store;
std::uint64_t NextSequence = 1;
std::uint64_t FirstKept = 1;  // records before this one were cleared
std::uint64_t StoreHead = 0;

using SystemClock = std::chrono::system_clock;

// What a record is besides its bytes.
struct Event {
    WriteResult result = WriteResult::Ok;
    bool open = false;
    bool close = false;
    std::uint32_t notTaken = 0;
    std::size_t earlierDiscarded = 0;  // bytes before this write that its discard may have taken
};

// The rows just before the next one whose bytes fit in `bytes`: back to the
// last open or failure, which nothing queued before it can outlast.
std::uint32_t RowsWithin(std::size_t bytes) {
    std::uint32_t rows = 0;
    for (std::uint64_t seq = NextSequence - 1; bytes > 0 && seq >= FirstKept && seq + LineLogRows >= NextSequence && seq > 0; --seq) {
        const Slot& s = Slots[seq % LineLogRows];
        if (s.open || s.close || s.result != WriteResult::Ok) break;
        ++rows;
        bytes -= std::min<std::size_t>(bytes, s.length);
    }
    return rows;
}

void Record(const std::uint8_t* data, std::size_t n, const Event& event, int baud, SystemClock::time_point when,
            Clock::duration took) {
    std::lock_guard lock(LogMutex);
    const std::size_t kept = std::min(n, LineLogBytes / 4);  // a write larger than that keeps its beginning
    const std::uint32_t earlierRows = event.earlierDiscarded ? RowsWithin(event.earlierDiscarded) : 0;
    Slot& slot = Slots[NextSequence % LineLogRows];
    slot = {NextSequence++,
            std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count(),
            static_cast<std::int32_t>(std::chrono::duration_cast<std::chrono::microseconds>(took).count()),
            CurrentSource.controlId, CurrentSource.option, CurrentSource.number, event.result, event.open, event.close,
            baud, event.notTaken, earlierRows, StoreHead, static_cast<std::uint32_t>(kept)};
    for (std::size_t i = 0; i < kept;) {
        const std::size_t at = (StoreHead + i) % LineLogBytes, run = std::min(kept - i, LineLogBytes - at);
        std::memcpy(Store.data() + at, data + i, run);
        i += run;
    }
    StoreHead += kept;
}

#ifndef _WIN32
OpenFailure Classify(int err) {
    switch (err) {
    case ENOENT:
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

// Whether a descriptor other than `ours`, in any live process (this one
// included), has the character device `device` open.
bool OpenElsewhere(dev_t device, int ours) {
    const std::string self = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    if (!proc) return true;  // can't tell: assume the hold is someone's
    bool found = false;
    while (const dirent* p = readdir(proc)) {
        if (found) break;
        if (p->d_name[0] < '0' || p->d_name[0] > '9') continue;
        const std::string dir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = opendir(dir.c_str());
        if (!fds) continue;
        while (const dirent* f = readdir(fds)) {
            struct stat st {};
            if (f->d_name[0] == '.' || (self == p->d_name && std::atoi(f->d_name) == ours)) continue;
            if (stat((dir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) {
                found = true;
                break;
            }
        }
        closedir(fds);
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

// Opens a device for exclusive use: a descriptor, or -1 with the reason.
// `exclusive` tells whether we set the terminal's exclusive mode (TIOCEXCL),
// so that only we clear it again.
//
// Exclusive use is flock's: it holds against root too, and it ends with the
// descriptor, however the program ends. TIOCEXCL keeps out programs that
// don't use flock, but outlives a killed program where the terminal stays
// open elsewhere; on a pseudo-terminal, whose other side stays open, it is
// not set, and a mode that another program's end left behind is cleared.
int AcquireDevice(const std::string& path, OpenFailure& failure, int& err, bool& exclusive) {
    failure = OpenFailure::None;
    err = 0;
    exclusive = false;
    int held = 0;
    struct stat st {};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        failure = Classify(err);
    } else if (!isatty(fd) || fstat(fd, &st) != 0) {
        // A mistyped mapping naming a plain file must never receive display frames.
        failure = OpenFailure::NotATerminal;
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        err = errno;
        failure = Classify(err);
    } else if (ioctl(fd, TIOCGEXCL, &held) == 0 && held && OpenElsewhere(st.st_rdev, fd)) {
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
        err = errno;
        failure = Classify(err);
    }
    if (failure == OpenFailure::None) return fd;
    if (fd >= 0) ::close(fd);
    return InvalidHandle;
}

// A port never takes descriptors 0 to 2: with one of them closed, a port
// there would receive what the program prints. While a port opens, the free
// ones among them are held on /dev/null.
class LowDescriptorsHeld {
public:
    LowDescriptorsHeld() {
        for (int fd; (fd = ::open("/dev/null", O_RDWR | O_CLOEXEC)) >= 0;) {
            if (fd > 2) {
                ::close(fd);
                break;
            }
            held_[count_++] = fd;
        }
    }
    ~LowDescriptorsHeld() {
        for (int i = 0; i < count_; ++i) ::close(held_[i]);
    }
    LowDescriptorsHeld(const LowDescriptorsHeld&) = delete;
    LowDescriptorsHeld& operator=(const LowDescriptorsHeld&) = delete;

private:
    int held_[3] = {};
    int count_ = 0;
};

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A local terminal device, held exclusively.
class TtyPort : public LinkPort {
public:
    TtyPort(int fd, int baud, bool exclusive) : fd_(fd), baud_(baud), exclusive_(exclusive) {
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

    void Reapply() override { tcsetattr(fd_, TCSANOW, &AppliedSettings); }

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
    std::size_t earlier_ = 0;  // see EarlierDiscarded
};

// Opens a terminal device and configures it: read, change exactly what is
// allowed, apply. A refused setting is not reported: the port counts as open
// with what the driver kept, and the refused values stay the settings of record.
std::unique_ptr<LinkPort> OpenTty(const std::string& path, int baudValue, OpenFailure& failure, std::string& why) {
    int err = 0;
    bool exclusive = false;
    const int fd = AcquireDevice(path, failure, err, exclusive);
    if (fd == InvalidHandle) {
        if (failure == OpenFailure::Other) why = std::strerror(err);
        return nullptr;
    }
    termios read{};
    tcgetattr(fd, &read);
    AppliedSettings = ConfigureLine(read, baudValue);
    tcsetattr(fd, TCSANOW, &AppliedSettings);
    return std::make_unique<TtyPort>(fd, baudValue, exclusive);
}
#endif

}  // namespace

const char* DescribeFailure(OpenFailure failure) {
    switch (failure) {
    case OpenFailure::None: return "can be opened";
    case OpenFailure::NoDevice: return "no such device";
    case OpenFailure::Busy: return "device busy: another program holds it";
    case OpenFailure::AccessDenied:
        return "permission denied: add your user to the dialout group (sudo adduser $USER dialout) and log in again";
    case OpenFailure::NotATerminal: return "not a serial device";
    case OpenFailure::Other: break;
    }
    return "cannot be opened";
}

#ifndef _WIN32
OpenFailure ProbeDevice(const std::string& path) {
    OpenFailure failure;
    int err;
    bool exclusive;
    if (const int fd = AcquireDevice(path, failure, err, exclusive); fd != InvalidHandle) {
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
    if (!S_ISCHR(st.st_mode)) return OpenFailure::NotATerminal;
    return access(path.c_str(), R_OK | W_OK) == 0 ? OpenFailure::None : OpenFailure::AccessDenied;
}
#endif

int WriteBoundMs(std::size_t n, int baud) {
    const long threeTimesOnLineMs = 3L * static_cast<long>(n) * 10L * 1000L / std::max(baud, 1);
    return static_cast<int>(std::max(1000L, threeTimesOnLineMs));
}

void OpenWith(const std::string& device, int baudValue, const PortOpener& opener) {
    std::lock_guard lock(LinkMutex);
    Port.reset();  // the panel never opens twice; this only keeps one port at a time
    LastDevice = device;
    LastDetail.clear();
    LastFailure = OpenFailure::None;
    {
        const LowDescriptorsHeld low;
        Port = opener(LastFailure, LastDetail);
    }
    if (!Port) {
        if (LastFailure == OpenFailure::None) LastFailure = OpenFailure::Other;
        std::string why = LastFailure == OpenFailure::Other && !LastDetail.empty() ? LastDetail : DescribeFailure(LastFailure);
        if (LastFailure != OpenFailure::Other && !LastDetail.empty()) why += ": " + LastDetail;
        // A port given by its device or URL alone (vantrel send --port) has no COM name.
        if (PortName[0]) std::fprintf(stderr, "vantrel: cannot open %s (%s): %s\n", PortName, device.c_str(), why.c_str());
        else std::fprintf(stderr, "vantrel: cannot open %s: %s\n", device.c_str(), why.c_str());
        return;
    }
    OpenBaud = baudValue;
    Record(nullptr, 0, {.open = true}, baudValue, SystemClock::now(), {});
}

#ifndef _WIN32
void OpenDevice(const std::string& path, int baudValue) {
    OpenWith(path, baudValue, [&](OpenFailure& failure, std::string& why) { return OpenTty(path, baudValue, failure, why); });
}
#endif

namespace {

// Ends the open port cleanly, closes it and records how the end went. Under LinkMutex.
WriteResult EndPort(std::uint32_t* notTaken) {
    const auto when = SystemClock::now();
    const auto start = Clock::now();
    Event end{.close = true};
    end.result = Port->End(end.notTaken);
    Port.reset();
    Record(nullptr, 0, end, OpenBaud, when, Clock::now() - start);
    if (notTaken) *notTaken = end.notTaken;
    return end.result;
}

}  // namespace

WriteResult ClosePort(std::uint32_t* notTaken) {
    std::lock_guard lock(LinkMutex);
    if (notTaken) *notTaken = 0;
    return Port ? EndPort(notTaken) : WriteResult::Ok;
}

void ReapplyAndClose() {
    std::lock_guard lock(LinkMutex);
    if (!Port) return;  // never opened, failed or closed: touch nothing
    Port->Reapply();
    // Closed whatever the re-apply answered: a panel that shows the port closed
    // must not keep the device held.
    EndPort(nullptr);
}

bool PortHandleValid() {
    std::lock_guard lock(LinkMutex);
    return Port != nullptr;
}

std::string LastOpenDetail() {
    std::lock_guard lock(LinkMutex);
    return LastDetail;
}

OpenFailure LastOpenFailure() {
    std::lock_guard lock(LinkMutex);
    return LastFailure;
}

std::string LastOpenDevice() {
    std::lock_guard lock(LinkMutex);
    return LastDevice;
}

#ifndef _WIN32
termios LineSettings() {
    std::lock_guard lock(LinkMutex);
    return AppliedSettings;
}
#endif

bool WriteBytes(const std::uint8_t* data, std::size_t n, const std::atomic<bool>* stop) {
    std::lock_guard lock(LinkMutex);
    if (stop && stop->load()) return false;  // a stopped worker makes no attempt
    const auto when = SystemClock::now();
    const auto start = Clock::now();
    LastResult = Port ? Port->Write(data, n, WriteBoundMs(n, OpenBaud)) : WriteResult::NotOpen;
    Event write{.result = LastResult};
    if (LastResult == WriteResult::Stalled) write.earlierDiscarded = Port->EarlierDiscarded();
    Record(data, n, write, OpenBaud, when, Clock::now() - start);
    return LastResult == WriteResult::Ok;
}

WriteResult LastWriteResult() {
    std::lock_guard lock(LinkMutex);
    return LastResult;
}

std::string DescribeWriteResult(WriteResult result, std::uint32_t bytes) {
    switch (result) {
    case WriteResult::Ok: return "written";
    case WriteResult::NotOpen: return "the port is not open";
    case WriteResult::DeviceGone: return "the device is gone (unplugged?): reconnect it, then close and open the port";
    case WriteResult::Stalled:
        return "the line took nothing within the write's bound: the far end holds it with flow control, or the cable is wrong";
    case WriteResult::ConnectionDropped: return "the network connection dropped";
    case WriteResult::NotTaken: return "the server did not take " + std::to_string(bytes) + " bytes";
    }
    return "failed";
}

WriteSourceScope::WriteSourceScope(WriteSource source) : previous_(std::exchange(CurrentSource, source)) {}
WriteSourceScope::~WriteSourceScope() { CurrentSource = previous_; }

std::vector<LoggedWrite> ReadLineLog(std::uint64_t after, std::uint64_t& lost) {
    std::lock_guard lock(LogMutex);
    // The oldest record still whole: in the ring, and its bytes not yet overwritten.
    std::uint64_t first = std::max({after + 1, FirstKept, NextSequence > LineLogRows ? NextSequence - LineLogRows : 1});
    while (first < NextSequence && Slots[first % LineLogRows].byteStart + LineLogBytes < StoreHead) ++first;
    lost = first - std::min(first, std::max(after + 1, FirstKept));
    std::vector<LoggedWrite> out;
    out.reserve(NextSequence - first);
    for (std::uint64_t seq = first; seq < NextSequence; ++seq) {
        const Slot& s = Slots[seq % LineLogRows];
        LoggedWrite& w = out.emplace_back();
        w.sequence = s.sequence;
        w.timeOfDayUs = s.timeOfDayUs;
        w.durationUs = s.durationUs;
        w.source = {s.controlId, s.option, s.number};
        w.result = s.result;
        w.open = s.open;
        w.close = s.close;
        w.baud = s.baud;
        w.notTaken = s.notTaken;
        w.earlierRows = s.earlierRows;
        w.bytes.resize(s.length);
        for (std::size_t i = 0; i < s.length; ++i) w.bytes[i] = Store[(s.byteStart + i) % LineLogBytes];
    }
    return out;
}

std::uint64_t NewestLineLogRecord() {
    std::lock_guard lock(LogMutex);
    return NextSequence - 1;
}

void ClearLineLog() {
    std::lock_guard lock(LogMutex);
    FirstKept = NextSequence;
}

bool WriteFrame(std::size_t n) {
    return WriteBytes(TxBuffer.data(), std::min(n, TxBuffer.size()));
}

bool SendFrame(std::size_t n) {
    if (WriteFrame(n)) return true;
    FailureReporter report;
    WriteResult why;
    {
        std::lock_guard lock(LinkMutex);
        report = Reporter;
        why = LastResult;
    }
    if (report) report(why);
    return false;
}

FailureReporter SetWriteFailureReporter(FailureReporter reporter) {
    std::lock_guard lock(LinkMutex);
    std::swap(Reporter, reporter);
    return reporter;
}

}  // namespace vantrel
