// SPDX-License-Identifier: GPL-3.0-or-later
// A real POS client nobody here wrote: LCDproc's LCDd with its serialPOS
// driver, on the virtual display's line.
#include "PanelFixture.h"
#include "Peers.h"
#include "virtual-display/Ranking.h"
#include "virtual-display/VirtualDisplay.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace vantrel::display;
using namespace std::chrono_literals;

namespace {

const char* const LcddPath = "/usr/sbin/LCDd";

std::string DriverPath() {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/lcdproc/", "/usr/lib/aarch64-linux-gnu/lcdproc/", "/usr/lib/lcdproc/"})
        if (std::filesystem::exists(std::string(dir) + "serialPOS.so")) return dir;
    return {};
}

// LCDd in the foreground on 127.0.0.1, stopped by its process id.
class Lcdd {
public:
    Lcdd(const std::string& device, const char* type) : port_(FreePort()), config_(Config(device, type, port_)), lcdd_({LcddPath, "-f", "-c", config_}) {}
    ~Lcdd() {
        if (client_ >= 0) close(client_);
        lcdd_.Stop();
        std::filesystem::remove(config_);
    }
    // A client's commands, one per line; connects first.
    bool Send(const std::string& lines) {
        if (client_ < 0) client_ = ConnectLoopback(port_);
        return client_ >= 0 && write(client_, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
    }

private:
    static std::string Config(const std::string& device, const char* type, int port) {
        const std::string path = testing::TempDir() + "vantrel-LCDd-" + std::to_string(port) + ".conf";
        std::ofstream(path) << "[server]\nDriverPath=" << DriverPath() << "\nDriver=serialPOS\nBind=127.0.0.1\nPort="
                            << port << "\nReportToSyslog=no\nReportLevel=1\nWaitTime=1\nForeground=yes\n"
                            << "[serialPOS]\nDevice=" << device << "\nSize=20x2\nType=" << type << "\nSpeed=9600\n";
        return path;
    }
    int port_;
    std::string config_;
    ChildProcess lcdd_;
    int client_ = -1;
};

const std::string ClientScreen =
    "hello\nscreen_add s\nscreen_set s -priority foreground -heartbeat off\nwidget_add s a string\n"
    "widget_add s b string\nwidget_set s a 1 1 \"FIRST LINE\"\nwidget_set s b 1 2 \"SECOND LINE 12345\"\n";

class Lcdproc : public PanelTest {
protected:
    void SetUp() override {
        if (access(LcddPath, X_OK) != 0 || DriverPath().empty()) GTEST_SKIP() << "LCDd (Debian's lcdproc) is not installed";
        PanelTest::SetUp();
    }
    // Reads the line until both rows start as given, for at most 10 s.
    bool Shows(const std::string& upper, const std::string& lower) {
        for (int i = 0; i < 200; ++i) {
            display.Pump(50ms);
            const DisplayModel& m = display.Model();
            if (m.Line(0).rfind(upper, 0) == 0 && m.Line(1).rfind(lower, 0) == 0) return true;
        }
        ADD_FAILURE() << "the display shows |" << display.Model().Line(0) << "|" << display.Model().Line(1) << "|";
        return false;
    }
    // Nothing came back on the line: POS software reads stray bytes as keys.
    bool LineStaysQuiet() {
        const int fd = open(display.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        char c;
        const bool quiet = fd >= 0 && read(fd, &c, 1) < 0 && errno == EAGAIN;
        if (fd >= 0) close(fd);
        return quiet;
    }
    VirtualDisplay display;
};

TEST_F(Lcdproc, AedexClientLinesAndALaterChangeAppearOnTheRows) {
    ASSERT_TRUE(display.Model().SetEmulation("AEDEX"));
    {
        Lcdd lcdd(display.SlavePath(), "AEDEX");
        ASSERT_TRUE(lcdd.Send(ClientScreen));
        EXPECT_TRUE(Shows("FIRST LINE          ", "SECOND LINE 12345   "));
        ASSERT_TRUE(lcdd.Send("widget_set s b 1 2 \"TOTAL 9.99\"\n"));
        EXPECT_TRUE(Shows("FIRST LINE          ", "TOTAL 9.99          "));
    }
    EXPECT_TRUE(LineStaysQuiet());
}

TEST_F(Lcdproc, IbmModeOnUtcStandardShowsTheFirstTwoLines) {
    ASSERT_TRUE(display.Model().SetEmulation("UTC_S"));
    Lcdd lcdd(display.SlavePath(), "IBM");
    EXPECT_TRUE(Shows("## LCDproc Server #", "Cli: 0  Scr: 0      "));
}

// What LCDd's serialPOS driver sends in each of its emulations, as the
// display's ranking reads it: the set it is written for first, though it gives
// positions as decimal digits (Epson: US $ "01" "01"; Logic Controls: DC0 "00"),
// which the display reads as out of range and ignores; its plain-text
// emulations name no set alone. A display that follows the till takes the set first.
TEST_F(Lcdproc, TheRankingNamesTheSetEachEmulationIsWrittenFor) {
    const struct {
        const char* type;
        const char* first;
        bool alone;
    } cases[] = {{"AEDEX", "AEDEX", true}, {"Epson", "ESCPOS", true}, {"LogicControls", "UTC_S", true}, {"IEE", "DSP800", false}};
    for (const auto& c : cases) {
        VirtualDisplay line;
        line.KeepRanking(true);
        {
            Lcdd lcdd(line.SlavePath(), c.type);
            ASSERT_TRUE(lcdd.Send(ClientScreen));
            for (int i = 0; i < 60; ++i) line.Pump(50ms);
        }
        std::this_thread::sleep_for(Ranking::QuietGap + 50ms);
        line.LineWentQuiet();
        line.Pump(10ms);
        const Ranking::Answer answer = line.Ranks()->Result();
        EXPECT_STREQ(answer.ranks[0].emulation, c.first) << c.type << ": " << line.Ranks()->Likely();
        EXPECT_EQ(answer.Tied(), !c.alone) << c.type << ": " << line.Ranks()->Likely();
        EXPECT_STREQ(line.Model().Emulation(), c.alone ? c.first : "DSP800") << c.type;
    }
}

TEST_F(Lcdproc, TechnicianSetsAedexWithThePanelThenLcddDrivesIt) {
    PortMapping toDisplay(1, display.SlavePath());
    Open();
    Click(1071);  // "AEDEX"
    Click(1067);  // "Send Command"
    Click(1003);  // "Close COM"
    display.Pump(60ms);
    ASSERT_STREQ(display.Model().Emulation(), "AEDEX");
    Lcdd lcdd(display.SlavePath(), "AEDEX");
    ASSERT_TRUE(lcdd.Send(ClientScreen));
    EXPECT_TRUE(Shows("FIRST LINE          ", "SECOND LINE 12345   "));
}

}  // namespace
