// SPDX-License-Identifier: GPL-3.0-or-later
// The panel driving the virtual display over its pseudo-terminal.
#include "PanelFixture.h"
#include "serial/PseudoTerminal.h"
#include "virtual-display/VirtualDisplay.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::display;
using namespace std::chrono_literals;

namespace {

class EndToEnd : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Open();
    }
    VirtualDisplay device;
    PortMapping toDisplay{1, device.SlavePath()};
    DisplayModel& Screen() {
        device.Pump(60ms);
        return device.Model();
    }
};

}  // namespace

TEST_F(EndToEnd, SendShowsTheFirstSample) {
    Click(1006);
    EXPECT_EQ(Screen().Line(0), "     THANK YOU      ");
    EXPECT_EQ(Screen().Line(1), "  HAVE A NICE DAY   ");
}

TEST_F(EndToEnd, FullLightFillsEveryCellWithTheDarkShade) {
    Click(1087);
    std::string shade;
    for (int i = 0; i < 20; ++i) shade += "▓";
    EXPECT_EQ(Screen().Line(0), shade);
    EXPECT_EQ(Screen().Line(1), shade);
}

TEST_F(EndToEnd, DisplaySpeedChangeNeedsTheMatchingPortSpeed) {
    Click(1076);  // the display's own "19200"
    Click(1067);
    EXPECT_EQ(Screen().OwnBaud(), 19200);
    Click(1006);  // the port still runs at 9600
    EXPECT_TRUE(Screen().SpeedMismatch());
    EXPECT_EQ(Screen().Line(0).find("THANK"), std::string::npos);
    EXPECT_NE(Screen().Status().find("display expects 19200"), std::string::npos);
    Choose(1002, 6);  // reopen at 19200
    Open();
    device.Pump(20ms);  // the display sees the line's new speed before the next bytes, as a person clicks
    Click(1006);
    EXPECT_FALSE(Screen().SpeedMismatch());
    EXPECT_EQ(Screen().Line(0), "     THANK YOU      ");
}

TEST_F(EndToEnd, ThePanelClosingThePortLeavesTheLineUp) {
    Click(1003);
    Open();
    Click(1005);
    Click(1114);
    Click(1006);
    EXPECT_EQ(Screen().Line(0), "Customer Display!   ");
}

// Bytes already on the line when its speed changes are read at the speed they
// were sent with, however late the display gets to them.
TEST(VirtualDisplayLine, BytesBeforeASpeedChangeKeepTheirSpeed) {
    VirtualDisplay display;
    const int fd = open(display.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    for (int run = 0; run < 10; ++run) {
        cfsetospeed(&t, B9600);
        tcsetattr(fd, TCSANOW, &t);
        display.Pump(5ms);
        const std::string frame = "\x0CRUN " + std::to_string(run);
        ASSERT_EQ(write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        cfsetospeed(&t, B4800);
        tcsetattr(fd, TCSANOW, &t);
        std::this_thread::sleep_for(2ms);
        display.Pump(5ms);
        EXPECT_EQ(display.Model().Line(0), "RUN " + std::to_string(run) + std::string(15, ' ')) << run;
        EXPECT_EQ(display.LineBaud(), 4800);
    }
    close(fd);
}

// The saver's end writes the latest set-up handed over, however many came
// before it within one interval; and a save that fails is said once.
TEST(StateSaver, SavesTheLatestAtTheEndAndSaysAFailureOnce) {
    const std::string path = testing::TempDir() + "vantrel-saver.state";
    std::filesystem::remove(path);
    const vantrel::display::Setup setups[] = {{"AEDEX", 9600, "USA", "PC437"}, {"CD5220", 19200, "Germany", "PC850", "41=7F4141417F"}};
    int saves = 0;
    {
        StateSaver saver(path, std::chrono::hours(1));
        for (int i = 0; i < 1000; ++i) saver.Save(setups[i % 2]);
        saver.Save(setups[0]);
        saver.Save(setups[1]);
        saves = saver.Saves();
    }
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), SetupText(setups[1]));
    EXPECT_LE(saves, 1) << "one save at most before the interval has passed";
    std::filesystem::remove(path);

    testing::internal::CaptureStderr();
    {
        StateSaver saver(testing::TempDir() + "no-such-folder/display.state", 0ms);
        for (int i = 0; i < 3; ++i) {
            saver.Save(setups[i % 2]);
            for (int wait = 0; wait < 1000 && saver.Saves() <= i; ++wait) std::this_thread::sleep_for(1ms);
        }
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot save the set-up in "), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// The longest name a folder takes can be the line's link, the printer's and
// the state file; each is made under a temporary name of its own, and none is
// left behind.
TEST(VirtualDisplayLine, TheLongestLegalNamesServe) {
    char folder[] = "/tmp/vantrel-links-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string line = std::string(folder) + "/" + std::string(255, 'L');
    const std::string printer = std::string(folder) + "/" + std::string(255, 'P');
    const std::string state = std::string(folder) + "/" + std::string(255, 'S');
    const vantrel::display::Setup setup{"CD5220", 9600, "USA", "PC437"};
    {
        VirtualDisplay display;
        ASSERT_NO_THROW(display.Publish(line));
        ASSERT_NO_THROW(display.AttachPrinter(printer));
        EXPECT_EQ(std::filesystem::read_symlink(line), display.SlavePath());
        EXPECT_EQ(std::filesystem::read_symlink(printer), display.Printer()->SlavePath());
        ASSERT_TRUE(SaveSetup(state, setup));
        std::ifstream in(state);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), SetupText(setup));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3);
    }
    std::filesystem::remove(state);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove(folder);
}
