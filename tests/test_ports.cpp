// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelFixture.h"
#include "app/PortList.h"
#include "Peers.h"

#include <QAbstractItemView>
#include <array>
#include <cstdio>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <string>
#include <tuple>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/wait.h>

namespace {

struct Result {
    int status;
    std::string out;  // standard output and standard error
};

// The panel program as a desktop menu or a script starts it: no display
// server. `env` may end in a command that runs it (setpriv, unshare); none
// of the runs may hang.
Result Vantrel(const std::string& args, const std::string& env = "") {
    const ShellRun run = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env + " timeout 20 " VANTREL_BIN
                                  " 2>&1 " + args);
    return {run.status, run.out};
}

std::string LineOf(const std::string& out, const std::string& start) {
    const auto at = out.find("\n" + start);
    return at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

TEST(CommandLine, AnswersWithNoDisplayServer) {
    const Result help = Vantrel("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--list-ports"), std::string::npos) << help.out;
    for (const char* words : {"$XDG_CONFIG_HOME/vantrel/ports.conf", "/dev/ttyS<n-1>", "dialout", "With no option, vantrel starts the panel."})
        EXPECT_NE(help.out.find(words), std::string::npos) << words;
    EXPECT_EQ(help.out.find("APPDATA"), std::string::npos) << "Windows' words on Linux";
    const Result version = Vantrel("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vantrel " VANTREL_VERSION "\n");
    EXPECT_EQ(Vantrel("send --version").out, version.out);
    for (const char* wrong : {"--frobnicate", "--probe", "--version --probe"}) {
        const Result unknown = Vantrel(wrong);
        EXPECT_EQ(unknown.status, 2) << wrong;
        EXPECT_EQ(unknown.out.find("Usage: vantrel"), std::string::npos) << unknown.out;
        EXPECT_EQ(unknown.out.substr(unknown.out.find('\n') + 1), "Try 'vantrel --help' for more information.\n") << unknown.out;
    }
}

// A plain start runs the panel beside the program, or else the installed one:
// never one in the current folder. A panel that is there but can't be run is
// named as it is.
TEST(CommandLine, PanelIsTheOneBesideOrTheInstalledOne) {
    namespace fs = std::filesystem;
    const std::string dir = fs::weakly_canonical(testing::TempDir() + "vantrel-start").string();
    fs::create_directories(dir);
    fs::copy_file(VANTREL_BIN, dir + "/vantrel", fs::copy_options::overwrite_existing);
    std::ofstream(dir + "/vantrel-panel") << "#!/bin/sh\necho started beside\n";
    const struct {
        const char* name;
        fs::perms panel;
        const char* wrap;  // how vantrel is started, from its own folder
        std::string says;
    } cases[] = {
        {"beside", fs::perms::owner_all, "", "started beside"},
        {"beside, not executable", fs::perms::owner_read | fs::perms::owner_write, "",
         "vantrel: cannot start the panel " + dir + "/vantrel-panel: Permission denied"},
        {"no /proc", fs::perms::owner_all, "unshare -m sh -c 'mount -t tmpfs none /proc && exec \"$0\"' ",
         "libexec/vantrel/vantrel-panel: No such file or directory"},
    };
    for (const auto& c : cases) {
        if (*c.wrap && (geteuid() != 0 || system("unshare -m true 2>/dev/null") != 0)) continue;  // needs root
        fs::permissions(dir + "/vantrel-panel", c.panel);
        const ShellRun run = RunShell("cd " + dir + " && env -u DISPLAY -u WAYLAND_DISPLAY " + c.wrap + "./vantrel 2>&1");
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.name << ": " << run.out;
        if (*c.wrap) {
            EXPECT_NE(run.out.find("cannot start the panel /"), std::string::npos) << "a whole path: " << run.out;
        }
    }
    fs::remove_all(dir);
}

TEST(CommandLine, ListPortsShowsEachNameWithItsSource) {
    Pty pty;
    const std::string config = testing::TempDir() + "vantrel-list-ports";
    std::filesystem::create_directories(config + "/vantrel");
    FILE* f = std::fopen((config + "/vantrel/ports.conf").c_str(), "w");
    ASSERT_TRUE(f);
    std::fputs("COM1=/dev/ttyUSB7\nCOM2 /dev/oops\nCOM4=/nonexistent/ttyVANTREL\nCOM5=/dev/null\n"
               "COM6=rfc2217://127.0.0.1:3001 extra\nCOM7=/tmp/\u202Eevil\nCOM8=socket://127.0.0.1:3002\n"
               "COM3=/dev/caf\u00E9\nCOM9=/dev/\u7D42\u7AEF\n",
               f);
    std::fclose(f);
    const Result list = Vantrel("--list-ports", "XDG_CONFIG_HOME=" + config + " VANTREL_COM1=" + pty.Path());
    EXPECT_EQ(list.status, 0) << list.out;
    EXPECT_NE(LineOf(list.out, "COM1 ").find(pty.Path() + " "), std::string::npos) << list.out;
    EXPECT_NE(LineOf(list.out, "COM1 ").find("environment  present"), std::string::npos) << list.out;
    EXPECT_NE(LineOf(list.out, "COM4 ").find("file         no such device"), std::string::npos) << list.out;
    // Told without opening, by the open's rules: no terminal, a malformed
    // address; a name that would turn the terminal's line around is escaped.
    EXPECT_NE(LineOf(list.out, "COM5 ").find("file         not serial"), std::string::npos) << list.out;
    EXPECT_NE(LineOf(list.out, "COM6 ").find("file         cannot open      not a network port address"), std::string::npos)
        << list.out;
    EXPECT_NE(LineOf(list.out, "COM8 ").find("file         network"), std::string::npos) << list.out;
    // Columns are padded by what the terminal shows: an escape as its
    // characters, an accented letter as one column, a wide one as two.
    const struct {
        const char* name;
        std::string device;
        std::size_t spaces;  // to the FROM column: 41 columns less the device's
    } wide[] = {{"COM3 ", "/dev/caf\u00E9", 32}, {"COM7 ", "/tmp/\\u202Eevil", 26}, {"COM9 ", "/dev/\u7D42\u7AEF", 32}};
    for (const auto& w : wide)
        EXPECT_NE(LineOf(list.out, w.name).find(w.device + std::string(w.spaces, ' ') + "file "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("ports.conf:2: "), std::string::npos) << "the bad line is named: " << list.out;
    // The listing opens nothing: a device another program holds is merely
    // present; --probe opens it and finds it busy.
    const int held = open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    const std::string env = "XDG_CONFIG_HOME=" + config + " VANTREL_COM1=" + pty.Path();
    EXPECT_NE(LineOf(Vantrel("--list-ports", env).out, "COM1 ").find("environment  present"), std::string::npos);
    EXPECT_NE(LineOf(Vantrel("--list-ports --probe", env).out, "COM1 ").find("environment  busy"), std::string::npos);
    close(held);
    // A control character in VANTREL_COMn is refused, as in the file: no forged row.
    const Result forged = Vantrel("--list-ports", env + " VANTREL_COM2=\"$(printf '/dev/x\\nCOM9  /dev/forged')\"");
    EXPECT_NE(forged.out.find("vantrel: VANTREL_COM2: a control character in the value; ignored"), std::string::npos)
        << forged.out;
    EXPECT_EQ(forged.out.find("forged"), std::string::npos) << forged.out;

    std::filesystem::remove_all(config);
}

// Discovery opens nothing: the serial8250 driver makes nodes whether a UART is
// behind them or not, and the kernel's `type` of each node tells. The program
// gets a /sys and /dev of its own (a mount namespace) with two such nodes, one
// with a UART (type 4) and one without (0), each a pseudo-terminal that tells
// the test of every open. --probe opens them, and shows that the test would see.
TEST(CommandLine, DiscoveryOpensNoDevice) {
    if (geteuid() != 0 || system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "needs a mount namespace (root)";
    Pty uart, phantom;
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, uart.Path().c_str(), IN_OPEN), 0);
    ASSERT_GE(inotify_add_watch(watch, phantom.Path().c_str(), IN_OPEN), 0);
    const auto opened = [watch] {
        char events[4096];
        bool any = false;
        while (read(watch, events, sizeof events) > 0) any = true;
        return any;
    };
    const std::string keep = testing::TempDir() + "vantrel-nodes";
    std::filesystem::create_directories(keep);
    std::string setup = "mount -t tmpfs none /sys && mkdir /sys/class /sys/class/tty";
    std::string nodes;
    for (const auto& [name, type, pty] : {std::tuple("ttyS0", "4", &uart), std::tuple("ttyS1", "0", &phantom)}) {
        const std::string dir = std::string("/sys/devices/platform/serial8250/tty/") + name;
        std::ofstream(keep + "/" + name);  // the pseudo-terminal is bound here, outside the new /dev
        setup += " && mkdir -p " + dir + " && echo " + type + " >" + dir + "/type && ln -s ../../devices/platform/serial8250/tty/" +
                 name + " /sys/class/tty/" + name + " && mount --bind " + pty->Path() + " " + keep + "/" + name;
        nodes += std::string(" && touch /dev/") + name + " && mount --bind " + keep + "/" + name + " /dev/" + name;
    }
    const std::string env = "XDG_CONFIG_HOME=/nonexistent unshare -m sh -c '" + setup + " && mount -t tmpfs none /dev" + nodes +
                            " && exec \"$0\" \"$@\"'";
    opened();  // the test's own opens
    const Result list = Vantrel("--list-ports", env);
    EXPECT_NE(LineOf(list.out, "COM1 ").find("/dev/ttyS0                               discovered"), std::string::npos)
        << list.out;
    EXPECT_NE(LineOf(list.out, "COM2 ").find("fallback"), std::string::npos) << "no UART behind ttyS1: " << list.out;
    EXPECT_FALSE(opened());
    const Result dry = Vantrel("send --dry-run --port COM1 --clear", env);
    EXPECT_EQ(dry.status, 0) << dry.out;
    EXPECT_FALSE(opened());
    const Result probe = Vantrel("--list-ports --probe", env);
    EXPECT_NE(LineOf(probe.out, "COM1 ").find("discovered   ready"), std::string::npos) << probe.out;
    EXPECT_TRUE(opened());
    close(watch);
    std::filesystem::remove_all(keep);
}

TEST(CommandLine, OutputThatCannotBeWrittenIsAFailure) {
    for (const char* option : {"--help", "--version", "--list-ports"}) {
        const Result full = Vantrel(std::string(option) + " >/dev/full", "XDG_CONFIG_HOME=/nonexistent");
        EXPECT_EQ(full.status, 1) << option;
        EXPECT_NE(full.out.find("vantrel: write error: No space left on device"), std::string::npos) << option << full.out;
    }
}

TEST(CommandLine, MappingFileThatCannotBeUsedSaysWhyInOneLineAndNeverBlocks) {
    namespace fs = std::filesystem;
    Pty pty, other;
    const std::string config = testing::TempDir() + "vantrel-bad-mapping";
    const std::string folder = config + "/vantrel", file = folder + "/ports.conf";
    struct Case {
        const char* name;
        std::function<void()> make;
        const char* says;
        bool asNobody;  // root enters any folder
    } const cases[] = {
        {"named pipe", [&] { mkfifo(file.c_str(), 0644); }, "a named pipe, not a regular file", false},
        {"link to a device", [&] { fs::create_symlink("/dev/zero", file); }, "a device, not a regular file", false},
        {"oversized", [&] { std::ofstream(file) << std::string(64 * 1024 + 1, '#'); }, "larger than 64 KiB", false},
        {"link loop", [&] { fs::create_symlink(file, file); }, "Too many levels of symbolic links", false},
        {"folder without permission",
         [&] {
             std::ofstream(file) << "COM1=/dev/ttyUSB9\n";
             fs::permissions(folder, fs::perms::none);
         },
         "Permission denied", true},
        {"NUL in a line",
         [&] { std::ofstream(file) << std::string("COM5=/dev/zero\0tail\n", 20) << "COM3=" << other.Path() << "\n"; },
         ":1: a control character in the line; line ignored", false},
    };
    for (const Case& c : cases) {
        fs::create_directories(folder);
        c.make();
        const std::string runAs = c.asNobody && geteuid() == 0 ? " setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
        const Result list = Vantrel("--list-ports", "XDG_CONFIG_HOME=" + config + " VANTREL_COM1=" + pty.Path() + runAs);
        fs::permissions(folder, fs::perms::owner_all);
        fs::remove_all(config);
        EXPECT_EQ(list.status, 0) << c.name << list.out;
        EXPECT_NE(list.out.find("ports.conf:"), std::string::npos) << c.name << list.out;
        EXPECT_NE(list.out.find(c.says), std::string::npos) << c.name << list.out;
        std::size_t said = 0;
        for (std::size_t at = 0; (at = list.out.find("ports.conf:", at)) != std::string::npos; ++at) ++said;
        EXPECT_EQ(said, 1u) << c.name << ": one line" << list.out;
        if (!c.asNobody) {  // the rest of the mapping still works
            EXPECT_NE(LineOf(list.out, "COM1 ").find("environment  present"), std::string::npos) << c.name << list.out;
        }
        if (std::string(c.name) == "NUL in a line") {
            EXPECT_NE(LineOf(list.out, "COM3 ").find("file         present"), std::string::npos) << list.out;
        }
        EXPECT_EQ(LineOf(list.out, "COM5 ").find("/dev/zero"), std::string::npos) << c.name << list.out;
    }
}

TEST(CommandLine, LongValueKeepsItsColumnsAndBadAddressSaysWhy) {
    const std::string longPath = "/dev/" + std::string(5000, 'x');
    const Result list = Vantrel("--list-ports --probe", "XDG_CONFIG_HOME=/nonexistent VANTREL_COM2=" + longPath +
                                                    " VANTREL_COM3=socket://no-port-given");
    EXPECT_NE(LineOf(list.out, "COM2 ").find(longPath + " environment  cannot open"), std::string::npos);
    EXPECT_NE(LineOf(list.out, "COM3 ").find("cannot open      not a network port address"), std::string::npos) << list.out;
}

// A name server that never answers: the look-up is part of the open's 3 s.
// The test points the resolver at a silent server on 127.0.0.77 inside a
// mount namespace of its own.
TEST(CommandLine, SilentNameServerEndsTheOpenWithinItsBound) {
    if (geteuid() != 0 || system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "needs a mount namespace (root)";
    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(0x7F00004D);  // 127.0.0.77
    ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << std::strerror(errno);
    ASSERT_EQ(bind(tcp, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << std::strerror(errno);
    listen(tcp, 4);
    const std::string resolv = testing::TempDir() + "vantrel-resolv.conf";
    std::ofstream(resolv) << "nameserver 127.0.0.77\noptions timeout:30 attempts:5\n";
    // The same listing with a server that refuses at once gives the program's own time (a sanitizer's start-up).
    auto timed = [&](const std::string& url, Result& out) {
        const auto start = std::chrono::steady_clock::now();
        // No ThreadSanitizer pause at exit for the look-up thread that still runs.
        out = Vantrel("--list-ports --probe", "TSAN_OPTIONS=atexit_sleep_ms=0 XDG_CONFIG_HOME=/nonexistent VANTREL_COM1=" + url +
                                          " unshare -m sh -c 'mount --bind " + resolv + " /etc/resolv.conf && exec \"$0\" \"$@\"'");
        return std::chrono::steady_clock::now() - start;
    };
    Result list, reference;
    const auto took = timed("rfc2217://till-3.shop.example:2001", list) - timed("rfc2217://127.0.0.1:1", reference);
    close(udp);
    close(tcp);
    EXPECT_LT(took, std::chrono::milliseconds(3500));
    EXPECT_NE(LineOf(list.out, "COM1 ").find("no answer        no answer from the name server"), std::string::npos) << list.out;
}

using PortListTest = PanelTest;

TEST_F(PortListTest, DroppedDownListShowsTheDeviceBesideTheName) {
    auto* list = static_cast<vantrel::PortListBox*>(List(1001));
    list->showPopup();
    EXPECT_TRUE(list->view()->isVisible());
    EXPECT_TRUE(list->PopupText(0).startsWith("COM1   " + QString::fromStdString(pty.Path()))) << qPrintable(list->PopupText(0));
    list->hidePopup();
    EXPECT_EQ(list->currentText(), "COM1") << "the closed list keeps the name alone";
    for (int i = 0; i < list->count(); ++i)  // the item texts (and so the accessible names) stay the names
        EXPECT_EQ(list->itemText(i), QString("COM%1").arg(i + 1));
}

// The dropped-down list and --list-ports tell the same of each mapping, by
// the open's rules, without opening anything.
TEST_F(PortListTest, TheListTellsWhatTheListingTells) {
    const struct { int n; const char* device; const char* listed; const char* shown; } cases[] = {
        {2, "/dev/null", "not serial", "null · not serial"},
        {3, "/nonexistent/ttyVANTREL", "no such device", "/nonexistent/ttyVANTREL · no device"},
        {4, "COM1:x", "cannot open", "COM1:x · cannot open"},
        {5, "socket://till", "cannot open", "socket://till · cannot open"},
    };
    std::vector<std::unique_ptr<PortMapping>> mappings;
    std::string env = "XDG_CONFIG_HOME=/nonexistent";
    for (const auto& c : cases) {
        mappings.push_back(std::make_unique<PortMapping>(c.n, c.device));
        env += " VANTREL_COM" + std::to_string(c.n) + "='" + c.device + "'";
    }
    auto* list = static_cast<vantrel::PortListBox*>(List(1001));
    list->showPopup();
    const Result listing = Vantrel("--list-ports", env);
    for (const auto& c : cases) {
        EXPECT_EQ(list->PopupText(c.n - 1), QString("COM%1   %2").arg(c.n).arg(QString::fromUtf8(c.shown)));
        EXPECT_NE(LineOf(listing.out, "COM" + std::to_string(c.n) + " ").find(c.listed), std::string::npos) << listing.out;
    }
    list->hidePopup();
}

TEST_F(PortListTest, FailedOpenSaysWhyUnderTheMessage) {
    struct Case {
        const char* name;
        std::string device;
        bool holdIt;
        QString reason;
    };
    const Case cases[] = {
        {"missing", "/nonexistent/ttyVANTREL", false, "No such device: /nonexistent/ttyVANTREL."},
        {"busy", pty.Path(), true, QString::fromStdString(pty.Path()) + " is busy: another program holds it."},
        {"not serial", "/dev/null", false, "/dev/null is not a serial device."},
    };
    for (const Case& c : cases) {
        PortMapping com1(1, c.device);
        const int holder = c.holdIt ? open(c.device.c_str(), O_RDWR | O_NOCTTY) : -1;
        if (holder >= 0) flock(holder, LOCK_EX);
        messages.clear();
        informatives.clear();
        Click(1003);
        if (holder >= 0) close(holder);
        EXPECT_EQ(messages, QStringList{"The port is already open!"}) << c.name;
        ASSERT_EQ(informatives.size(), 1) << c.name;
        EXPECT_TRUE(informatives[0].startsWith(c.reason)) << c.name << ": " << qPrintable(informatives[0]);
    }
    // In Chinese the reason follows the language.
    Click(1115);
    PortMapping com1(1, "/nonexistent/ttyVANTREL");
    informatives.clear();
    Click(1003);
    ASSERT_EQ(informatives.size(), 1);
    EXPECT_TRUE(informatives[0].startsWith(QString::fromUtf8("设备不存在："))) << qPrintable(informatives[0]);
}

}  // namespace
