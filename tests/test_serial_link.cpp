// SPDX-License-Identifier: GPL-3.0-or-later
#include "Peers.h"
#include "Pty.h"
#include "serial/PortDiscovery.h"
#include "serial/SerialLink.h"
#include "serial/WriteNames.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <csignal>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

class Link : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(PortName, "COM1");
        reports = 0;
        previous = SetWriteFailureReporter([this](WriteResult) { ++reports; });
    }
    void TearDown() override {
        ClosePort();
        SetWriteFailureReporter(previous);
    }
    bool Write(const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), TxBuffer.begin());
        return WriteFrame(bytes.size());
    }
    Pty pty;
    PortMapping mapping{1, pty.Path()};
    int reports = 0;
    FailureReporter previous;
};

termios SlaveSettings(const Pty& pty) {
    termios t{};
    tcgetattr(pty.Slave(), &t);
    return t;
}

// Holds a device from another process, through flock or the terminal's
// exclusive mode, until the parent writes a byte to `release`. The child
// closes the master it inherits: it is another program, not the far end.
struct OtherProcessHolding {
    enum Hold { Flock, ExclusiveMode };
    pid_t pid = -1;
    int release = -1;
    OtherProcessHolding(const std::string& path, Hold hold, int master = -1) {
        int ready[2], done[2];
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(done), 0);
        pid = fork();
        if (pid == 0) {
            if (master >= 0) close(master);
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
            const bool held = fd >= 0 && (hold == Flock ? flock(fd, LOCK_EX | LOCK_NB) : ioctl(fd, TIOCEXCL)) == 0;
            (void)!write(ready[1], held ? "y" : "n", 1);
            char c;
            (void)!read(done[0], &c, 1);
            _exit(0);
        }
        char ok = 0;
        EXPECT_EQ(read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, 'y');
        close(ready[0]);
        close(ready[1]);
        close(done[0]);
        release = done[1];
    }
    ~OtherProcessHolding() {
        (void)!write(release, "x", 1);
        close(release);
        waitpid(pid, nullptr, 0);
    }
};

// Opens `path` in a child as the user "nobody": root gets past an exclusive
// mode, other users don't. The failure, and whether its detail names the mode.
std::pair<OpenFailure, bool> OpenAsNobody(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
        OpenDevice(path, 9600);
        _exit(static_cast<int>(LastOpenFailure()) * 2 + (LastOpenDetail().find("exclusive mode") != std::string::npos));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {static_cast<OpenFailure>(WEXITSTATUS(status) / 2), WEXITSTATUS(status) % 2 == 1};
}

}  // namespace

TEST_F(Link, FreshOpenConfiguresNineSixHundredEightNOneRawNoEcho) {
    OpenPort(9600);
    ASSERT_TRUE(PortHandleValid());
    const termios t = SlaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARENB), 0u);
    EXPECT_EQ(t.c_iflag & INPCK, 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(LastOpenFailure(), OpenFailure::None);
}

TEST_F(Link, NamedPortAndRateAreHonoured) {
    Pty other;
    PortMapping com9(9, other.Path());
    std::strcpy(PortName, "COM9");
    OpenPort(19200);
    ASSERT_TRUE(PortHandleValid());
    const termios atCom9 = SlaveSettings(other), atCom1 = SlaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&atCom9), B19200);
    EXPECT_NE(cfgetospeed(&atCom1), B19200) << "COM1's device was not touched";
    // Bytes go to COM9's device, with no output translation (LF stays LF).
    ASSERT_TRUE(Write(Hex("0A 41 0D")));
    EXPECT_EQ(other.Read(3), Hex("0A 41 0D"));
    EXPECT_TRUE(pty.ReadUntilQuiet(50ms).empty());
}

TEST_F(Link, UnmappedNamesFallBackToTheSerialDevices) {
    unsetenv("VANTREL_COM9");
    EXPECT_EQ(ResolvePort("COM9").device, "/dev/ttyS8");  // past the ports that exist
    EXPECT_EQ(ResolvePort("COM1").device, pty.Path());
    EXPECT_EQ(ResolvePort("COM1").source, MapSource::Environment);
}

// "Busy" is what another live program holds: its flock, or the device open in
// exclusive mode. A mode whose program has ended is cleared, although the far
// end (this test, like the virtual display) keeps its own slave open.
TEST_F(Link, BusyIsWhatAnotherLiveProgramHolds) {
    for (const auto hold : {OtherProcessHolding::Flock, OtherProcessHolding::ExclusiveMode}) {
        OtherProcessHolding holder(pty.Path(), hold, pty.Master());
        EXPECT_EQ(ProbeDevice(pty.Path()), OpenFailure::Busy) << hold;
        testing::internal::CaptureStderr();
        OpenPort(9600);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(PortHandleValid()) << hold;
        EXPECT_EQ(LastOpenFailure(), OpenFailure::Busy) << hold;
        EXPECT_NE(err.find("busy: another program holds it"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "one line on standard error";
        EXPECT_FALSE(Write(Hex("0C")));
    }
    int held = 0;
    ASSERT_EQ(ioctl(pty.Slave(), TIOCGEXCL, &held), 0);
    ASSERT_EQ(held, 1) << "the refused open left the other program's mode alone";
    if (geteuid() != 0) GTEST_SKIP() << "the rest opens as root and as another user";
    // Its program has ended. A user other than root can't get past the mode:
    // the reason names it, unless a live program holds the flock.
    chmod(pty.Path().c_str(), 0666);
    EXPECT_EQ(OpenAsNobody(pty.Path()), std::make_pair(OpenFailure::Other, true));
    {
        OtherProcessHolding holder(pty.Path(), OtherProcessHolding::Flock, pty.Master());
        EXPECT_EQ(OpenAsNobody(pty.Path()), std::make_pair(OpenFailure::Busy, false));
    }
    // Root opens through it and clears it; flock alone holds a pseudo-terminal.
    OpenPort(9600);
    ASSERT_TRUE(PortHandleValid());
    ASSERT_EQ(ioctl(pty.Slave(), TIOCGEXCL, &held), 0);
    EXPECT_EQ(held, 0);
    EXPECT_TRUE(Write(Hex("41")));
    EXPECT_EQ(pty.Read(1), Hex("41"));
    EXPECT_EQ(ProbeDevice(pty.Path()), OpenFailure::Busy);
}

// However a program that holds the port ends, the port is free afterwards;
// an exclusive mode that nobody holds any more is no hold. A signal during a
// stalled write ends the program as the signal does, with no reason of a write.
TEST_F(Link, AnEndedHolderNeverLeavesThePortBusy) {
    for (const int signal : {SIGKILL, SIGTERM, SIGINT, SIGHUP}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pty.FillLine();
        const pid_t child = fork();
        if (child == 0) {
            std::signal(signal, SIG_DFL);  // as a shell's foreground command has it
            OpenDevice(pty.Path(), 300);
            (void)!write(ready[1], PortHandleValid() ? "y" : "n", 1);
            std::array<std::uint8_t, 1024> frame{};
            // Room the line makes after the fill is taken at once; then a
            // write stalls: 102 s at 300 bit/s.
            while (WriteBytes(frame.data(), frame.size())) {
            }
            _exit(0);
        }
        char ok = 0;
        EXPECT_EQ(read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, 'y');
        std::this_thread::sleep_for(200ms);
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal) << ": status " << status;
        close(ready[0]);
        close(ready[1]);
        pty.ReadUntilQuiet(0ms);
        OpenPort(9600);
        EXPECT_TRUE(PortHandleValid()) << strsignal(signal);
        ClosePort();
    }
    // A mode left on a pseudo-terminal whose slave nobody has open.
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string path = ttyname(slave);
    ASSERT_EQ(ioctl(slave, TIOCEXCL), 0);
    close(slave);
    OpenDevice(path, 9600);
    EXPECT_TRUE(PortHandleValid());
    ClosePort();
    close(master);
}

// With standard input, output and error closed, a port takes none of their
// numbers: what the program prints never reaches the line.
TEST_F(Link, APortNeverTakesDescriptorsZeroToTwo) {
    int port = 0;
    const int listener = LoopbackListener(port);
    ASSERT_GE(listener, 0);
    const std::string targets[] = {pty.Path(), "socket://127.0.0.1:" + std::to_string(port)};
    for (const std::string& target : targets) {
        // In a child of its own: the test's output needs its descriptors.
        const pid_t child = fork();
        if (child == 0) {
            for (int fd = 0; fd < 3; ++fd) close(fd);
            OpenPortAt(target, 9600);
            bool taken = false;
            for (int fd = 0; fd < 3; ++fd) taken = taken || fcntl(fd, F_GETFD) != -1;
            _exit(!PortHandleValid() ? 2 : taken ? 1 : 0);
        }
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status)) << target;
        EXPECT_EQ(WEXITSTATUS(status), 0) << target << (WEXITSTATUS(status) == 1 ? ": took one" : ": did not open");
    }
    close(listener);
}

// Only a character device other than a pseudo-terminal's master may be a
// serial port: every other kind of path says what it is, told alike by the
// open and by the look without one, and receives nothing.
TEST_F(Link, EachKindOfPathGivesItsReason) {
    PortName[0] = 0;  // a path given as such, as vantrel send --port gives it
    char dir[] = "/tmp/vantrel-kindsXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string base = dir;
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, (base + "/socket").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(mkfifo((base + "/fifo").c_str(), 0600), 0);
    close(open((base + "/file").c_str(), O_CREAT | O_WRONLY, 0600));
    ASSERT_EQ(mkdir((base + "/folder").c_str(), 0700), 0);
    const struct {
        std::string path;
        OpenFailure failure;
    } cases[] = {
        {base + "/missing", OpenFailure::NoDevice},      {base + "/file/below", OpenFailure::NoDevice},
        {base + "/socket", OpenFailure::NotATerminal},   {base + "/fifo", OpenFailure::NotATerminal},
        {base + "/file", OpenFailure::NotATerminal},     {base + "/folder", OpenFailure::NotATerminal},
        {"/dev/ptmx", OpenFailure::NotATerminal},        {"/dev/pts/ptmx", OpenFailure::NotATerminal},
        {"/dev/null", OpenFailure::NotATerminal},        {"/dev/zero", OpenFailure::NotATerminal},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        OpenDevice(c.path, 9600);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(PortHandleValid()) << c.path;
        EXPECT_EQ(LastOpenFailure(), c.failure) << c.path;
        const std::string found = c.failure == OpenFailure::NoDevice ? "; " + PortsFoundWords() : "";
        EXPECT_EQ(err, "vantrel: cannot open " + c.path + ": " + DescribeFailure(c.failure) + found + "\n");
        EXPECT_EQ(LookAtDevice(c.path), c.failure) << c.path;
        EXPECT_FALSE(Write(Hex("0C 0C")));
    }
    struct stat st {};
    stat((base + "/file").c_str(), &st);
    EXPECT_EQ(st.st_size, 0) << "no frame was written into the file";
    close(sock);
    for (const char* name : {"/socket", "/fifo", "/file"}) unlink((base + name).c_str());
    rmdir((base + "/folder").c_str());
    rmdir(dir);
}

TEST_F(Link, ReapplyAndCloseReleasesTheDeviceAndTouchesNothingWhenClosed) {
    ReapplyAndClose();  // never opened: nothing to do
    OpenPort(9600);
    ASSERT_TRUE(PortHandleValid());
    ReapplyAndClose();
    EXPECT_FALSE(PortHandleValid());
    // Another program can take the device now.
    const int fd = open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
    ReapplyAndClose();  // already closed: nothing happens
    EXPECT_FALSE(PortHandleValid());
}

TEST_F(Link, WritesAfterCloseFailEvenWhenTheNumberNowNamesAnotherFile) {
    OpenPort(9600);
    ASSERT_TRUE(PortHandleValid());
    ClosePort();
    char file[] = "/tmp/vantrel-reuseXXXXXX";
    const int fd = mkstemp(file);  // most likely takes the number the port had
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Write(Hex("0C 41 42")));
    EXPECT_FALSE(SendFrame(3));
    EXPECT_EQ(reports, 1);
    ReapplyAndClose();
    EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the file's descriptor is still open";
    struct stat st {};
    fstat(fd, &st);
    EXPECT_EQ(st.st_size, 0);
    close(fd);
    unlink(file);
}

TEST_F(Link, SendFrameReportsOnlyFailures) {
    OpenPort(9600);
    ASSERT_TRUE(Write(Hex("1B 40")));
    EXPECT_TRUE(SendFrame(2));
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(pty.Read(4), Hex("1B 40 1B 40"));
    ClosePort();
    EXPECT_FALSE(SendFrame(2));
    EXPECT_EQ(reports, 1);
}

TEST_F(Link, UnpluggedAdapterMakesWritesFailAtOnce) {
    OpenPort(9600);
    ASSERT_TRUE(PortHandleValid());
    pty.CloseMaster();
    const std::uint64_t before = NewestLineLogRecord();
    EXPECT_FALSE(Write(Bytes(40, 0xB2)));
    EXPECT_FALSE(Write(Hex("0C")));
    // At once: the device is gone, not a write that waited out its bound.
    std::uint64_t lost = 0;
    const auto rows = ReadLineLog(before, lost);
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows) EXPECT_EQ(row.result, WriteResult::DeviceGone);
}

TEST_F(Link, LineThatStopsTakingBytesFailsWithinTheBound) {
    OpenPort(38400);
    ASSERT_TRUE(PortHandleValid());
    // Nobody reads the master: the line fills up and a write blocks.
    const Bytes frame(40, 'x');
    int written = 0;
    std::chrono::steady_clock::duration failedAfter{};
    for (int i = 0; i < 10000; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!Write(frame)) {
            failedAfter = std::chrono::steady_clock::now() - start;
            break;
        }
        ++written;
    }
    ASSERT_LT(written, 10000) << "the line never filled";
    // The discard of the failed frame may take earlier frames still queued:
    // the failed row names them, and every other frame arrived.
    std::uint64_t lost = 0;
    const auto rows = ReadLineLog(NewestLineLogRecord() - 1, lost);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].result, WriteResult::Stalled);
    const std::size_t arrived = pty.ReadUntilQuiet(100ms).size();
    EXPECT_LE(arrived, frame.size() * static_cast<std::size_t>(written)) << "nothing of the failed frame";
    EXPECT_GE(arrived, frame.size() * (static_cast<std::size_t>(written) - std::min<std::size_t>(written, rows[0].earlierRows)));
    EXPECT_GE(failedAfter, 900ms);
    EXPECT_LT(failedAfter, 3s);
    EXPECT_EQ(WriteBoundMs(40, 38400), 1000);
    EXPECT_EQ(WriteBoundMs(40, 300), 4000);  // 3 x 1.33 s on the line
}

// A stuck write's discard may take what earlier writes queued, in this run or
// (when the port counts more than this run's rows, or cannot count) in
// earlier ones: the words say which, never more.
TEST(WriteNames, AStuckWriteSaysWhatItsDiscardMayHaveTaken) {
    const struct { std::uint32_t rows; bool runs; const char* words; } cases[] = {
        {0, false, ""},
        {3, false, "the 3 writes before it may have been discarded with it from the output queue"},
        {3, true, "bytes queued by earlier writes (the 3 before it in this run, or of earlier runs) may have been discarded"},
        {0, true, "bytes queued by earlier writes (of earlier runs) may have been discarded"},
    };
    for (const auto& c : cases) {
        LoggedWrite row;
        row.result = WriteResult::Stalled;
        row.earlierRows = c.rows;
        row.earlierRuns = c.runs;
        const std::string words = EarlierDiscardWords(row, 0);
        EXPECT_TRUE(words.starts_with(c.words) && (*c.words || words.empty())) << words;
        EXPECT_EQ(EarlierDiscardWords(row, 1).empty(), words.empty());
    }
}
