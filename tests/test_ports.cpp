// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelFixture.h"
#include "app/PortList.h"

#include <QAbstractItemView>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>

namespace {

struct Result {
    int status;
    std::string out;  // standard output and standard error
};

// The panel program as a desktop menu or a script starts it: no display server.
Result Vantrel(const std::string& args, const std::string& env = "") {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env + " " VANTREL_BIN " " +
                                args + " 2>&1";
    Result run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buf;
    while (const std::size_t n = fread(buf.data(), 1, buf.size(), pipe)) run.out.append(buf.data(), n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string LineOf(const std::string& out, const std::string& start) {
    const auto at = out.find("\n" + start);
    return at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

TEST(CommandLine, AnswersWithNoDisplayServer) {
    const Result help = Vantrel("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--list-ports"), std::string::npos) << help.out;
    const Result version = Vantrel("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vantrel " VANTREL_VERSION "\n");
    const Result unknown = Vantrel("--frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("Usage: vantrel"), std::string::npos) << unknown.out;
}

TEST(CommandLine, ListPortsShowsEachNameWithItsSource) {
    Pty pty;
    const std::string config = testing::TempDir() + "vantrel-list-ports";
    std::filesystem::create_directories(config + "/vantrel");
    FILE* f = std::fopen((config + "/vantrel/ports.conf").c_str(), "w");
    ASSERT_TRUE(f);
    std::fputs("COM1=/dev/ttyUSB7\nCOM2 /dev/oops\nCOM4=/nonexistent/ttyVANTREL\n", f);
    std::fclose(f);
    const Result list = Vantrel("--list-ports", "XDG_CONFIG_HOME=" + config + " VANTREL_COM1=" + pty.Path());
    EXPECT_EQ(list.status, 0) << list.out;
    EXPECT_NE(LineOf(list.out, "COM1 ").find(pty.Path() + " "), std::string::npos) << list.out;
    EXPECT_NE(LineOf(list.out, "COM1 ").find("environment  ready"), std::string::npos) << list.out;
    EXPECT_NE(LineOf(list.out, "COM4 ").find("file         no such device"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("ports.conf:2: "), std::string::npos) << "the bad line is named: " << list.out;

    // A file that cannot be read: one line, and the ports still listed.
    std::filesystem::remove(config + "/vantrel/ports.conf");
    std::filesystem::create_directories(config + "/vantrel/ports.conf");
    const Result unreadable = Vantrel("--list-ports", "XDG_CONFIG_HOME=" + config);
    EXPECT_EQ(unreadable.status, 0);
    EXPECT_NE(unreadable.out.find("ports.conf: cannot be read"), std::string::npos) << unreadable.out;
    EXPECT_NE(LineOf(unreadable.out, "COM9 ").find("/dev/ttyS8"), std::string::npos) << unreadable.out;
    std::filesystem::remove_all(config);
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
