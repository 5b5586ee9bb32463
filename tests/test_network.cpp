// SPDX-License-Identifier: GPL-3.0-or-later
// COM names that reach a serial port across the network: the panel against
// ser2net (RFC 2217) serving the virtual display's line.
#include "PanelFixture.h"
#include "Peers.h"
#include "serial/NetPort.h"
#include "tools/display/VirtualDisplay.h"

#include <netinet/in.h>
#include <sys/socket.h>

using namespace vantrel;
using namespace vantrel::display;
using namespace std::chrono_literals;

namespace {

class Network : public PanelTest {
protected:
    void SetUp() override {
        if (access(Ser2net::Path, X_OK) != 0) GTEST_SKIP() << "ser2net is not installed";
        PanelTest::SetUp();
        server = std::make_unique<Ser2net>(display.SlavePath(), port);
        Choose(1001, 1);  // COM2
    }
    // Everything the far line delivered since the last look.
    Bytes Far(std::chrono::milliseconds time = 150ms) {
        Bytes out;
        for (const auto& chunk : display.Pump(time)) out.insert(out.end(), chunk.bytes.begin(), chunk.bytes.end());
        return out;
    }
    DisplayModel& Screen() {
        Far();
        return display.Model();
    }

    VirtualDisplay display;
    int port = FreePort();
    std::string url = "rfc2217://127.0.0.1:" + std::to_string(port);
    PortMapping com2{2, url};
    std::unique_ptr<Ser2net> server;
};

}  // namespace

TEST_F(Network, TextPatternsAndSpeedReachTheFarPort) {
    Open();
    Click(1006);
    EXPECT_EQ(Screen().Line(0), "     THANK YOU      ");
    EXPECT_EQ(display.Model().Line(1), "  HAVE A NICE DAY   ");

    Click(1087);  // "Full Light": 40 x B2
    EXPECT_EQ(Far(), Bytes(40, 0xB2));
    for (int page = 0; page < 7; ++page) Click(1095);
    Far();
    Click(1095);  // the last page ends in FF, which telnet doubles on the wire
    EXPECT_EQ(ToHex(Far()), "0C F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF");

    Choose(1002, 6);  // 19200 closes the port; reopening sets the far line
    Open();
    Click(1006);
    EXPECT_EQ(display.LineBaud(), 19200);
    EXPECT_NE(Screen().Status().find("line at 19200 bit/s"), std::string::npos) << display.Model().Status();
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('|'));
}

TEST_F(Network, ServerStoppedDuringACycleThenEveryKindOfWriteFailsWithoutHanging) {
    Open();
    Click(1007);
    ASSERT_GE(Far(700ms).size(), 41u);
    server->Stop();
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(messages.isEmpty()) << "the cycle reports nothing";
    EXPECT_LT(Timed([&] { Click(1007); }), 100ms);
    Box(1071)->click();  // one option for Send Command
    struct Case {
        int button;
        qsizetype messagesAfter;
    } const cases[] = {{1006, 1}, {1005, 2}, {1087, 2}, {1095, 2}, {1067, 3}, {1060, 4}};
    for (const Case& c : cases) {
        EXPECT_LT(Timed([&] { Click(c.button); }), 1500ms) << c.button;
        EXPECT_EQ(messages.size(), c.messagesAfter) << c.button;
    }
    EXPECT_EQ(messages.back(), "Operation valid only when the port is open!");
    Click(1003);  // closing a dropped connection ends cleanly
    EXPECT_EQ(panel->PortOpen, 0);
}

TEST_F(Network, ASecondClientOnTheSameNameIsBusy) {
    Open();
    OpenFailure failure = OpenFailure::None;
    std::string detail;
    EXPECT_EQ(OpenNetworkPort(url, 9600, failure, detail), nullptr);
    EXPECT_EQ(failure, OpenFailure::Busy) << detail;
    Click(1006);  // the first one still works
    EXPECT_EQ(Screen().Line(0), "     THANK YOU      ");
}

TEST_F(Network, RefusedSilentAndUnknownServersFailWithinTheBound) {
    // A listener that never accepts and never speaks.
    int silentPort = 0;
    const int silent = LoopbackListener(silentPort);
    ASSERT_GE(silent, 0);
    const std::string cases[] = {"rfc2217://127.0.0.1:" + std::to_string(FreePort()),
                                 "rfc2217://127.0.0.1:" + std::to_string(silentPort),
                                 "socket://no-such-host.invalid:4000", "rfc2217://127.0.0.1"};
    for (const std::string& target : cases) {
        PortMapping com2(2, target);
        messages.clear();
        informatives.clear();
        EXPECT_LT(Timed([&] { Click(1003); }), 4000ms) << target;  // 3 s to connect, then the attempt is closed
        EXPECT_EQ(panel->PortOpen, 0) << target;
        EXPECT_EQ(messages, QStringList{"The port is already open!"}) << target;
        ASSERT_EQ(informatives.size(), 1);
        EXPECT_TRUE(informatives[0].contains(QString::fromStdString(target))) << qPrintable(informatives[0]);
    }
    close(silent);
}
