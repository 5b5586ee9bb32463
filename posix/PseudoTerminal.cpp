// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminals on POSIX systems: the display's own line (packet mode, so
// that a change of the slave's settings is told when it happens), the printer
// behind it, and the symbolic links that name their slaves.
#include "serial/PseudoTerminal.h"

#include "common/BoundedBytes.h"
#include "posix/LineSettings.h"
#include "posix/Posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vantrel {

namespace posix {

std::string MakeBeside(const std::string& path, const std::function<bool(const std::string&)>& make) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    for (unsigned n = 0; n < 100; ++n) {
        std::string fresh = folder + ".vantrel-" + std::to_string(getpid()) + "-" + std::to_string(n);
        if (make(fresh)) return fresh;
        if (errno != EEXIST) break;
    }
    return {};
}

}  // namespace posix

namespace {

PortResult Failed(const std::string& what) { return {PortError::Other, what + ": " + std::strerror(errno)}; }

// Opens a pseudo-terminal: the master non-blocking, both ends closed on exec,
// the slave raw, then changed by `more`; its slave's path in `name`.
PortResult OpenRaw(int& master, int& slave, std::string& name, const char* what, const std::function<void(termios&)>& more = {}) {
    char path[256];
    if (openpty(&master, &slave, path, nullptr, nullptr) != 0) return Failed(std::string("cannot open ") + what);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    if (more) more(t);
    tcsetattr(slave, TCSANOW, &t);
    name = path;
    return {};
}

void Drain(int fd) {
    char drain[64];
    while (read(fd, drain, sizeof drain) > 0) {
    }
}

class Pty final : public PseudoTerminal {
public:
    ~Pty() override {
        for (int fd : {master_, slave_, wake_[0], wake_[1]})
            if (fd >= 0) close(fd);
    }

    PortResult Open(bool notices, int baud) {
        // Until a port user configures it, the line is raw at `baud`. EXTPROC
        // with packet mode makes every change of the settings a notice on
        // the master, so the reader learns of it when it happens.
        if (PortResult opened = OpenRaw(master_, slave_, path_, "a pseudo-terminal", [&](termios& t) {
                if (notices) t.c_lflag |= EXTPROC;
                cfsetospeed(&t, SpeedConstant(baud));
                cfsetispeed(&t, SpeedConstant(baud));
            });
            !opened.Ok())
            return opened;
        packets_ = notices;
        const int packet = 1;
        if (notices) ioctl(master_, TIOCPKT, &packet);
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return Failed("cannot make a pipe");
        return {};
    }

    int Master() const { return master_; }
    const std::string& SlavePath() const override { return path_; }

    int SlaveBaud() const override {
        termios t{};
        if (tcgetattr(slave_, &t) != 0) return UnknownBaud;
        return StandardRate(cfgetospeed(&t));
    }

    bool Notices() const override {
        termios t{};
        return tcgetattr(slave_, &t) == 0 && (t.c_lflag & EXTPROC);
    }

    PortResult ReadNow(std::uint8_t* buf, std::size_t size, std::size_t& n, bool& notice) override {
        n = 0;
        notice = false;
        std::uint8_t packet[1 + 4096];
        for (;;) {
            const ssize_t got = read(master_, packet, std::min(sizeof packet, size + 1));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return {};
            if (!packets_) {
                std::memcpy(buf, packet, static_cast<std::size_t>(got));
                n = static_cast<std::size_t>(got);
                return {};
            }
            if (packet[0] != TIOCPKT_DATA) {
                notice = true;
                return {};
            }
            if (got == 1) continue;
            n = static_cast<std::size_t>(got - 1);
            std::memcpy(buf, packet + 1, n);
            return {};
        }
    }

    void Wait() override {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) > 0 && (fds[1].revents & POLLIN)) Drain(wake_[0]);
    }

    void Wake() override { [[maybe_unused]] const ssize_t w = write(wake_[1], "x", 1); }

private:
    int master_ = -1;
    int slave_ = -1;
    int wake_[2] = {-1, -1};
    bool packets_ = false;
    std::string path_;
};

class Printer final : public PrinterPort {
public:
    Printer(std::function<void(std::span<const std::uint8_t>)> carried) : carried_(std::move(carried)) {}

    PortResult Open(int line) {
        // Raw: no echo (the printer's bytes would come back as answers) and no
        // translation of CR, LF or any other byte of a receipt.
        if (PortResult opened = OpenRaw(master_, slave_, slavePath_, "the printer's pseudo-terminal"); !opened.Ok())
            return opened;
        line_ = fcntl(line, F_DUPFD_CLOEXEC, 0);  // non-blocking, as the display's own
        if (line_ < 0 || pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return Failed("cannot set up the printer's port");
        pump_ = std::thread([this] { Pump(); });
        return {};
    }

    ~Printer() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        if (pump_.joinable()) {
            [[maybe_unused]] const ssize_t w = write(wake_[1], "x", 1);
            pump_.join();
            WriteHeld();  // the last bytes passed, as far as the printer side takes them now
        }
        if (!link_.empty()) RemoveOwnLink(link_, slavePath_);
        for (int fd : {master_, slave_, line_, wake_[0], wake_[1]})
            if (fd >= 0) close(fd);
    }

    PortResult Publish(const std::string& link) override {
        PortResult published = PublishLink("--printer", link, slavePath_);
        if (published.Ok()) link_ = link;
        return published;
    }

    const std::string& SlavePath() const override { return slavePath_; }

    std::size_t Send(std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex_);
        if (held_.Empty()) {
            [[maybe_unused]] const ssize_t w = write(wake_[1], "s", 1);  // the pump waits for writability now
        }
        const std::size_t dropped = held_.Push(bytes);
        passed_ += bytes.size();
        dropped_ += dropped;
        return dropped;
    }

    std::uint64_t Passed() const override { return Locked(passed_); }
    std::uint64_t Dropped() const override { return Locked(dropped_); }
    std::uint64_t Answered() const override { return Locked(answered_); }
    std::uint64_t AnswersDropped() const override { return Locked(answersDropped_); }

    std::uint64_t TakeAnswersDropped() override {
        std::lock_guard lock(mutex_);
        return answersDropped_ - std::exchange(answersDroppedSaid_, answersDropped_);
    }

    std::string Counts() const override {
        std::lock_guard lock(mutex_);
        return std::to_string(passed_) + " bytes for the printer, " + std::to_string(dropped_) + " dropped; " +
               std::to_string(answered_) + " answer bytes, " + std::to_string(answersDropped_) + " dropped";
    }

private:
    std::uint64_t Locked(const std::uint64_t& count) const {
        std::lock_guard lock(mutex_);
        return count;
    }

    void Pump() {
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
            if (fds[2].revents & POLLIN) Drain(wake_[0]);
            if (fds[0].revents & POLLOUT) WriteHeld();
            if (fds[0].revents & POLLIN) ReadAnswers();
            if (fds[1].revents & POLLOUT) WriteAnswers();
        }
    }

    // Under the lock: the display may drop the oldest held bytes meanwhile, and
    // those are the ones being written. The write never blocks.
    void WriteHeld() {
        std::lock_guard lock(mutex_);
        while (!held_.Empty()) {
            const auto run = held_.Front();
            const ssize_t n = write(master_, run.data(), run.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            held_.Pop(static_cast<std::size_t>(n));
        }
    }

    void ReadAnswers() {
        std::uint8_t buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return;
        std::lock_guard lock(mutex_);
        answered_ += static_cast<std::size_t>(n);
        answersDropped_ += answers_.Push({buf, static_cast<std::size_t>(n)});
    }

    void WriteAnswers() {
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

    int master_ = -1;
    int slave_ = -1;  // kept open: a reader that comes and goes never hangs the port up
    int line_ = -1;
    int wake_[2] = {-1, -1};
    std::string slavePath_;
    std::string link_;
    const std::function<void(std::span<const std::uint8_t>)> carried_;

    mutable std::mutex mutex_;
    BoundedBytes held_{HoldLimit};     // for the printer
    BoundedBytes answers_{HoldLimit};  // for the host
    std::uint64_t passed_ = 0, dropped_ = 0;
    std::uint64_t answered_ = 0, answersDropped_ = 0, answersDroppedSaid_ = 0;
    bool stop_ = false;
    std::thread pump_;
};

PortResult Refused(const char* option, const std::string& link, const std::string& why) {
    return {PortError::Other, std::string(option) + " " + link + ": " + why + "; it is left as it is"};
}

}  // namespace

PortResult OpenPseudoTerminal(bool notices, int baud, std::unique_ptr<PseudoTerminal>& pty) {
    auto opened = std::make_unique<Pty>();
    if (PortResult result = opened->Open(notices, baud); !result.Ok()) return result;
    pty = std::move(opened);
    return {};
}

PortResult OpenPrinterPort(PseudoTerminal& line, std::function<void(std::span<const std::uint8_t>)> carried,
                           std::unique_ptr<PrinterPort>& port) {
    auto opened = std::make_unique<Printer>(std::move(carried));
    if (PortResult result = opened->Open(static_cast<Pty&>(line).Master()); !result.Ok()) return result;
    port = std::move(opened);
    return {};
}

PortResult PublishLink(const char* option, const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) return Refused(option, link, "not a symbolic link");
        struct stat to {};
        if (stat(link.c_str(), &to) == 0 && !posix::IsPseudoTerminal(to))
            return Refused(option, link, "a link to something other than a pseudo-terminal");
    } else if (errno != ENOENT) {
        return {PortError::Other, std::string(option) + " " + link + ": " + std::strerror(errno)};
    }
    // Made beside the path and renamed onto it: the path never names anything
    // else meanwhile.
    const std::string fresh =
        posix::MakeBeside(link, [&target](const std::string& name) { return symlink(target.c_str(), name.c_str()) == 0; });
    if (fresh.empty() || rename(fresh.c_str(), link.c_str()) != 0) {
        const int err = errno;
        if (!fresh.empty()) unlink(fresh.c_str());
        return {PortError::Other, "cannot create " + link + ": " + std::strerror(err)};
    }
    return {};
}

void RemoveOwnLink(const std::string& link, const std::string& target) {
    // Only our own link: another display may have taken the path over since.
    char to[4096];
    const ssize_t n = readlink(link.c_str(), to, sizeof to);
    if (n > 0 && std::string(to, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

}  // namespace vantrel
