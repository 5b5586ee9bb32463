// SPDX-License-Identifier: GPL-3.0-or-later
// COM names that reach a serial port across the network: the panel against
// ser2net (RFC 2217) serving the virtual display's line.
#include "PanelFixture.h"
#include "Peers.h"
#include "serial/NetPort.h"
#include "virtual-display/VirtualDisplay.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

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
    // ser2net answers "Port already in use" while it still closes the last
    // connection, which takes longer on a loaded machine: such an attempt is
    // taken back and made again.
    void Open() {
        for (int attempt = 0; attempt < 20; ++attempt) {
            const qsizetype before = messages.size();
            const qsizetype informativesBefore = informatives.size();
            Click(1003);
            if (panel->PortOpen == 1 || !informatives.join('|').contains("Port already in use")) break;
            messages.resize(before);
            informatives.resize(informativesBefore);
            std::this_thread::sleep_for(250ms);
        }
        ASSERT_EQ(panel->PortOpen, 1) << qPrintable(informatives.join('|'));
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
    std::uint64_t lost = 0;
    EXPECT_TRUE(ReadLineLog(0, lost).back().takenByServer) << "a server tells only that it took the bytes";
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
    Click(1007);
    EXPECT_EQ(panel->AutoIdle, 1);
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
    std::unique_ptr<Port> port;
    const PortResult opened = OpenNetworkPort(url, 9600, port);
    EXPECT_EQ(port, nullptr);
    EXPECT_EQ(opened.error, PortError::Busy) << opened.words;
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

// `vantrel send` against small loopback servers: a clean end counts only
// what the server took, bytes it did not take never reach it later, and an
// RFC 2217 server's confirmed settings are the line's.
TEST(NetworkSend, StatusAndReasonFollowWhatTheServerTook) {
    using Serve = std::function<void(int connection)>;
    const auto readAtMost = [](int connection, std::size_t n) {
        char buffer[4096];
        for (std::size_t got = 0; got < n;) {
            const ssize_t r = read(connection, buffer, std::min(sizeof buffer, n - got));
            if (r <= 0) return;
            got += static_cast<std::size_t>(r);
        }
    };
    const auto resetAfter = [&](std::size_t n) {
        return Serve([&, n](int connection) {
            readAtMost(connection, n);
            const linger reset{1, 0};  // closed with bytes unread: the connection is reset
            setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        });
    };
    // Agrees every telnet option asked for and confirms each COM-PORT setting
    // with what `answer` makes of its code and value (ahead of the confirmation
    // it may add notices of its own). Keeps everything it read in `seen`;
    // refuses binary mode unless `binary`. `first` runs once the first byte
    // 'A' has come: what the server does between two writes.
    using Answer = std::function<void(std::uint8_t code, std::vector<std::uint8_t>& value, std::vector<std::uint8_t>& notices)>;
    const auto agrees = [](Answer answer, std::string* seen = nullptr, bool binary = true, Serve first = nullptr) {
        return Serve([answer, seen, binary, first](int connection) {
            static const std::uint8_t se[] = {0xFF, 0xF0};
            std::vector<std::uint8_t> in, out;
            std::uint8_t buffer[512];
            bool firstDone = false;
            for (ssize_t r; (r = read(connection, buffer, sizeof buffer)) > 0;) {
                in.insert(in.end(), buffer, buffer + r);
                if (seen) seen->append(buffer, buffer + r);
                if (first && !firstDone && std::find(buffer, buffer + r, 'A') != buffer + r) firstDone = true, first(connection);
                std::size_t i = 0;  // the first byte not yet answered
                while (i + 2 < in.size()) {
                    const std::uint8_t verb = in[i + 1];
                    if (in[i] != 0xFF) {
                        ++i;
                    } else if (verb == 0xFB || verb == 0xFD) {  // WILL, DO: DO, WILL (or DONT, WONT)
                        const bool agreed = binary || in[i + 2] != 0;
                        out.insert(out.end(), {0xFF, std::uint8_t(agreed ? verb ^ 0x06 : verb == 0xFB ? 0xFE : 0xFC), in[i + 2]});
                        i += 3;
                    } else if (verb == 0xFA) {  // SB COM-PORT setting value... IAC SE
                        const auto end = std::search(in.begin() + static_cast<std::ptrdiff_t>(i), in.end(), std::begin(se), std::end(se));
                        if (end == in.end()) break;
                        const std::size_t e = static_cast<std::size_t>(end - in.begin());
                        if (e >= i + 4) {
                            std::vector<std::uint8_t> value(in.begin() + static_cast<std::ptrdiff_t>(i + 4), end);
                            answer(in[i + 3], value, out);
                            out.insert(out.end(), {0xFF, 0xFA, 0x2C, std::uint8_t(in[i + 3] + 100)});
                            out.insert(out.end(), value.begin(), value.end());
                            out.insert(out.end(), {0xFF, 0xF0});
                        }
                        i = e + 2;
                    } else {
                        i += 2;
                    }
                }
                in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(std::min(i, in.size())));
                if (!out.empty()) (void)!write(connection, out.data(), out.size());
                out.clear();
            }
        });
    };
    const Serve confirms4800 = agrees([](std::uint8_t code, std::vector<std::uint8_t>& value, auto&) {
        if (code == 1) value = {0x00, 0x00, 0x12, 0xC0};
    });
    // Answers the telnet open with noise, as a server of another protocol might.
    const Serve garbage = [](int connection) {
        std::uint32_t noise = 12345;
        std::uint8_t buffer[64];
        for (int i = 0; i < 100; ++i) {
            for (std::uint8_t& b : buffer) b = static_cast<std::uint8_t>((noise = noise * 1103515245 + 12345) >> 16);
            if (send(connection, buffer, sizeof buffer, MSG_NOSIGNAL) < 0) return;
            std::this_thread::sleep_for(50ms);
        }
    };
    const Serve sendsControls = [](int connection) {
        static const char words[] = "\x1B[31mPort already in use\r\n\a\u202E evil";
        (void)!write(connection, words, sizeof words - 1);
    };
    // A lone IAC among its words, followed by a byte that is no telnet command.
    const Serve sendsLoneIac = [](int connection) { static const char words[] = "Port \xFF" "Ain use\u061C\r\n";
        (void)!write(connection, words, sizeof words - 1);
    };
    // Holds its line from the open on (FLOWCONTROL-SUSPEND), and frees it
    // 300 ms later when `resumes`.
    std::string seen;
    std::atomic<bool> suspended{false};
    const Serve suspends = agrees([&](std::uint8_t code, auto&, std::vector<std::uint8_t>& notices) {
        if (code == 4) notices.insert(notices.end(), {0xFF, 0xFA, 0x2C, 108, 0xFF, 0xF0}), suspended = true;
    }, &seen);
    const Serve resumes = [&](int connection) {
        std::thread later([&] {
            while (!suspended) std::this_thread::sleep_for(10ms);
            std::this_thread::sleep_for(300ms);
            (void)!write(connection, "\xFF\xFA\x2C\x6D\xFF\xF0", 6);
        });
        suspends(connection);
        later.join();
    };
    // Reads 1 KB every half second: slower than the loopback, faster than the line at 9600 bit/s.
    const Serve readsSlowly = [](int connection) {
        char buffer[1024];
        while (read(connection, buffer, sizeof buffer) > 0) std::this_thread::sleep_for(500ms);
    };
    // After the first write of a replay: a notice, or a hang-up.
    const auto afterA = [&](std::string_view says) {
        return agrees([](std::uint8_t, auto&, auto&) {}, &seen, true, [says](int connection) {
            if (says.empty()) shutdown(connection, SHUT_RDWR);
            else (void)!write(connection, says.data(), says.size());
        });
    };
    // Three writes of a replay, 300 ms apart: "A", "B", "C".
    const std::string recording = testing::TempDir() + "vantrel-net-replay.rec";
    std::ofstream(recording) << "vantrel-display recording 1\nprogram: vantrel-display 1\nport: COM1\nspeed: 9600\n"
                                "emulation: CD5220\n\n0.000 T 9600 41\n300.000 T 9600 42\n600.000 T 9600 43\n";
    const std::string replay = "--explain --replay " + recording;
    std::string hex, kilobytes, eight;  // 20 and 8 writes of 1024 bytes
    for (int i = 0; i < 1024; ++i) hex += "41 ";
    for (int i = 0; i < 20; ++i) (i < 8 ? eight : kilobytes) += "--bytes '" + hex + "' ";
    kilobytes += eight;
    const struct {
        const char* name;
        int receiveBuffer;
        Serve serve;
        std::string args;
        int status;
        const char* says;
        bool readsAfterEnd = false;  // reads what still comes once the client has ended
        const char* scheme = "socket";
        const char* explains = "";    // on standard output, with --explain
        const char* explainsAlso = "";
        const char* reaches = nullptr;  // among what the server read
        bool reached = true;
    } cases[] = {
        {"reads slowly", 4096, readsSlowly, eight, 0, ""},
        {"suspends its line for good", 0, suspends, "--clear HELLO", 1,
         "failed: the line took nothing within the write's bound", false, "rfc2217", "", "", "HELLO", false},
        {"suspends its line, then resumes", 0, resumes, "--clear HELLO", 0, "", false, "rfc2217", "", "", "HELLO"},
        {"reads everything", 0, [&](int c) { readAtMost(c, 20480); }, "--explain " + kilobytes, 0, "", false, "socket",
         "bytes: 41 41", "\n    taken by the server\n"},
        // Bytes that the server's side never acknowledged were only handed to the network.
        {"never reads", 4096, [](int) {}, "--explain " + kilobytes, 1,
         "failed: at the end: the server did not take at least the last ", false, "socket",
         "\n    handed to the network (the server had not acknowledged it yet)\n"},
        {"stalls, then reads everything", 4096, [](int) {}, kilobytes, 1,
         "failed: at the end: the server did not take at least the last ", true},
        {"resets with data unread", 0, resetAfter(60), "--explain --sample 1 --sample 2 --sample 3 --sample 1", 1,
         "the network connection dropped; ", false, "socket", "FAILED"},
        {"closes early", 0, resetAfter(5000), kilobytes, 1, "the network connection dropped; "},
        {"confirms another speed", 0, confirms4800, "--bytes 41", 3, ": the server set 4800 bit/s\n", false, "rfc2217"},
        {"confirms the speed in 1 byte", 0, agrees([](std::uint8_t code, std::vector<std::uint8_t>& value, auto&) {
             if (code == 1) value = {0x00};
         }), "--bytes 41", 3, ": the server does not speak RFC 2217: its answer to a line setting is malformed\n", false, "rfc2217"},
        {"confirms the speed in Cisco's 1-byte form", 0, agrees([](std::uint8_t code, std::vector<std::uint8_t>& value, auto&) {
             if (code == 1) value = {8};  // 9600 bit/s
         }), "--bytes 41", 0, "", false, "rfc2217"},
        {"refuses binary mode", 0, agrees([](std::uint8_t, auto&, auto&) {}, nullptr, false), "--bytes 41", 3,
         ": the server refused telnet's binary mode, without which it may change the bytes\n", false, "rfc2217"},
        {"confirms the speed with 2 bytes more", 0, agrees([](std::uint8_t code, std::vector<std::uint8_t>& value, auto&) {
             if (code == 1) value.insert(value.end(), {0x00, 0x01});
         }), "--bytes 41", 3, ": the server does not speak RFC 2217: its answer to a line setting is malformed\n", false, "rfc2217"},
        {"answers garbage", 0, garbage, "--bytes 41", 3, "the server does not speak RFC 2217", false, "rfc2217"},
        {"sends control characters", 0, sendsControls, "--bytes 41", 3,
         "busy: another program holds it: the server says: '\\x1B[31mPort already in use\\r\\n\\x07\\u202E evil'\n"},
        // What the server says between two writes of a replay is acted on before the next one.
        {"suspends its line after the first write", 0, afterA(std::string_view("\xFF\xFA\x2C\x6C\xFF\xF0", 6)), replay, 1,
         "or the cable is wrong; the write that failed: replay, write 2 (action 1)\n", false, "rfc2217", "", "", "B",
         false},
        {"revokes binary mode after the first write", 0, afterA(std::string_view("\xFF\xFE\x00", 3)), replay, 1,
         "the network connection dropped; the write that failed: replay, write 2", false, "rfc2217", "", "", "B", false},
        {"hangs up after the first write", 0, afterA(""), replay, 1,
         "the network connection dropped; the write that failed: replay, write 2", false, "rfc2217", "", "", "B", false},
        {"sends a lone IAC over telnet", 0, sendsLoneIac, "--bytes 41", 3, "the server says: 'Port \\xFFAin use\\u061C'\n",
         false, "rfc2217"},
        {"sends control characters over telnet", 0, sendsControls, "--bytes 41", 3,
         "busy: another program holds it: the server says: '\\x1B[31mPort already in use\\r\\n\\x07\\u202E evil'\n", false,
         "rfc2217"},
    };
    for (const auto& c : cases) {
        int port = 0;
        const int listener = LoopbackListener(port, c.receiveBuffer);
        ASSERT_GE(listener, 0);
        int ended[2];
        ASSERT_EQ(pipe(ended), 0);
        std::size_t late = 0;
        bool reset = false;
        std::thread server([&] {
            const int connection = accept(listener, nullptr, nullptr);
            c.serve(connection);
            pollfd p{ended[0], POLLIN, 0};
            if (c.receiveBuffer) poll(&p, 1, 20000);  // holds the connection, unread, until the client has ended
            char buffer[4096];
            ssize_t r = 0;
            while (c.readsAfterEnd && (r = read(connection, buffer, sizeof buffer)) > 0) late += static_cast<std::size_t>(r);
            reset = r < 0 && errno == ECONNRESET;
            close(connection);
        });
        const std::string err = testing::TempDir() + "vantrel-net-err";
        const auto start = std::chrono::steady_clock::now();
        const ShellRun run = RunShell("timeout 20 " VANTREL_BIN " send --port " + std::string(c.scheme) + "://127.0.0.1:" +
                                      std::to_string(port) + " " + c.args + " 2>" + err);
        const auto took = std::chrono::steady_clock::now() - start;
        std::ifstream in(err);
        const std::string said((std::istreambuf_iterator<char>(in)), {});
        (void)!write(ended[1], "x", 1);
        server.join();
        for (const int fd : {listener, ended[0], ended[1]}) close(fd);
        EXPECT_EQ(run.status, c.status) << c.name << ": " << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.name << ": " << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), c.status ? 1 : 0) << c.name << ": " << said;
        for (const char* words : {c.explains, c.explainsAlso})
            EXPECT_NE(run.out.find(words), std::string::npos) << c.name << ": " << run.out.substr(0, 2000);
        if (c.status == 3) {
            EXPECT_LT(took, 3800ms) << c.name << ": the open's bound is 3 s";
        }
        if (c.reaches) {
            EXPECT_EQ(seen.find(c.reaches) != std::string::npos, c.reached) << c.name;
        }
        seen.clear();
        suspended = false;
        if (!c.readsAfterEnd) continue;
        // What the server had not taken at the failure never reaches it: the connection is reset.
        const std::size_t notTaken = std::strtoul(said.c_str() + said.find(c.says) + std::strlen(c.says), nullptr, 10);
        EXPECT_GT(notTaken, 0u) << said;
        EXPECT_LE(late, 20480 - notTaken) << said;
        EXPECT_TRUE(reset) << c.name;
    }
}

// A server that hangs up at once is quoted, over telnet too, where it may hang
// up while the options are still being agreed; one that says nothing is
// called busy only as a guess.
TEST(NetworkSend, AServerThatHangsUpAtOnceIsQuotedInItsOwnWords) {
    if (access(Ser2net::Path, X_OK) != 0) GTEST_SKIP() << "ser2net is not installed";
    int ptys[2];  // devices that ser2net can open, one for each server
    for (int& pty : ptys) {
        pty = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(pty >= 0 && grantpt(pty) == 0 && unlockpt(pty) == 0);
    }
    const int missing = FreePort(), telnetMissing = FreePort(), held = FreePort(), telnetHeld = FreePort();
    const Ser2net raw({{"/nonexistent/ttyVANTREL", missing}, {ptsname(ptys[0]), held}}, "tcp");
    const Ser2net telnet({{"/nonexistent/ttyVANTREL", telnetMissing}, {ptsname(ptys[1]), telnetHeld}});
    const int holders[] = {ConnectLoopback(held), ConnectLoopback(telnetHeld)};
    int silentPort = 0;
    const int silent = LoopbackListener(silentPort);
    constexpr int Attempts = 4;  // over telnet the words were lost in some attempts only
    std::thread hangUp([&] {
        for (int i = 0; i < 2 * Attempts; ++i) close(accept(silent, nullptr, nullptr));
    });
    const auto at = [](const char* scheme, int port) { return std::string(scheme) + "127.0.0.1:" + std::to_string(port); };
    const struct {
        std::string url;
        OpenFailure failure;
        const char* detail;
    } cases[] = {
        {at("socket://", missing), OpenFailure::Other, "the server says: 'Device open failure"},
        {at("rfc2217://", telnetMissing), OpenFailure::Other, "the server says: 'Device open failure"},
        {at("socket://", held), OpenFailure::Busy, "the server says: 'Port already in use'"},
        {at("rfc2217://", telnetHeld), OpenFailure::Busy, "the server says: 'Port already in use'"},
        {at("socket://", silentPort), OpenFailure::Other, "the server ended the connection at once without a word (perhaps"},
        {at("rfc2217://", silentPort), OpenFailure::Other, "the server ended the connection at once without a word (perhaps"},
    };
    for (const auto& c : cases)
        for (int attempt = 0; attempt < Attempts; ++attempt) {
            std::unique_ptr<Port> port;
            const PortResult opened = OpenNetworkPort(c.url, 9600, port);
            EXPECT_EQ(port, nullptr) << c.url;
            EXPECT_EQ(OpenFailureOf(opened.error), c.failure) << c.url << ": " << opened.words;
            EXPECT_EQ(opened.words.rfind(c.detail, 0), 0u) << c.url << ": " << opened.words;
        }
    hangUp.join();
    for (const int fd : {holders[0], holders[1], silent, ptys[0], ptys[1]}) close(fd);
}

// A till whose only address is loopback: a network namespace with nothing but
// lo. ser2net looks up its own address with the rule that refuses loopback, so
// it starts while lo has one more address, which is gone before the sends.
TEST(NetworkSend, ANumericLoopbackAddressNeedsNoOtherAddress) {
    if (access(Ser2net::Path, X_OK) != 0 || geteuid() != 0) GTEST_SKIP() << "needs ser2net and root";
    VirtualDisplay display;
    const int telnetPort = FreePort(), rawPort = FreePort();
    const std::string config = testing::TempDir() + "vantrel-netns.yaml";
    std::ofstream(config) << "connection: &t\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort
                          << "\n  connector: serialdev," << display.SlavePath() << ",9600n81,local\n"
                          << "connection: &r\n  accepter: tcp,127.0.0.1," << rawPort << "\n  connector: serialdev,"
                          << display.SlavePath() << ",9600n81,local\n";
    const ShellRun run = RunShell(
        "timeout 30 unshare -n bash -c 'ip link set lo up && ip addr add 192.0.2.1/32 dev lo || exit 90\n"
        "timeout 30 /usr/sbin/ser2net -n -c " + config + " -P " + config + ".pid & server=$!\n"
        "for i in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(rawPort) + ") 2>/dev/null && break; sleep 0.1; done\n"
        "sleep 0.2; ip addr del 192.0.2.1/32 dev lo\n"
        VANTREL_BIN " send --port rfc2217://127.0.0.1:" + std::to_string(telnetPort) + " \"NETNS RFC2217\"; echo $?\n"
        "sleep 0.2; " VANTREL_BIN " send --port socket://127.0.0.1:" + std::to_string(rawPort) + " \"NETNS SOCKET\"; echo $?\n"
        "kill $server; wait $server' 2>&1");
    for (const std::string& file : {config, config + ".pid"}) std::remove(file.c_str());
    if (run.status == 90) GTEST_SKIP() << "no network namespace: " << run.out;
    EXPECT_TRUE(run.out.ends_with("0\n0\n")) << run.out;  // both sends' statuses
    std::string far;
    for (const auto& chunk : display.Pump(300ms)) far.append(chunk.bytes.begin(), chunk.bytes.end());
    EXPECT_NE(far.find("NETNS RFC2217"), std::string::npos) << far;
    EXPECT_NE(far.find("NETNS SOCKET"), std::string::npos) << far;
}

// A far line that its far end holds with flow control (XOFF every 20 ms):
// ser2net takes the bytes and tells nothing of its line, so the run says no
// more than that, for every write, and ends.
TEST(NetworkSend, AHeldFarLineIsOnlyTakenByTheServer) {
    if (access(Ser2net::Path, X_OK) != 0) GTEST_SKIP() << "ser2net is not installed";
    Pty line;
    const int port = FreePort();
    const Ser2net server(line.Path() + ",xonxoff", port);
    std::atomic<bool> holding{true};
    std::thread hold([&] {
        while (holding) {
            (void)!write(line.Master(), "\x13", 1);
            std::this_thread::sleep_for(20ms);
        }
        (void)!write(line.Master(), "\x11", 1);
    });
    const ShellRun run =
        RunShell("timeout 20 " VANTREL_BIN " send --explain --port rfc2217://127.0.0.1:" + std::to_string(port) + " 'HELD LINE' TEXT");
    holding = false;
    hold.join();
    EXPECT_EQ(run.status, 0);
    std::size_t taken = 0;
    for (std::size_t at = 0; (at = run.out.find("\n    taken by the server\n", at)) != std::string::npos; ++at) ++taken;
    EXPECT_EQ(taken, 3u) << "the clear and both lines: " << run.out;
}

// One rule for a network port's address, wherever it is given: the scheme in
// any case, the port a plain number, brackets only around an IPv6 address.
TEST(NetworkSend, AddressFormsFollowOneRule) {
    const struct {
        const char* url;
        bool network;  // taken as a network port, not a device path
        bool valid;
    } cases[] = {
        {"RFC2217://127.0.0.1:4001", true, true},  {"Socket://till-3.shop.lan:1", true, true},
        {"rfc2217://[::1]:4001", true, true},       {"socket://127.0.0.1:65535", true, true},
        {"rfc2217://127.0.0.1:04001", true, false}, {"rfc2217://127.0.0.1:+4001", true, false},
        {"rfc2217://127.0.0.1: 4001", true, false}, {"rfc2217://127.0.0.1:65536", true, false},
        {"rfc2217://[127.0.0.1]:4001", true, false}, {"socket://[till-3]:4001", true, false},
        {"socket://::1:4001", true, false},          {"rfc2217://fe80::1", true, false},
        {"rfc2217:/127.0.0.1:4001", false, false},   {"rfc2217://[abc:def]:1", true, false},
        {"rfc2217://[:]:1", true, false},            {"socket://[::ffff:192.0.2.7]:1", true, true},
        {"socket://[fe80::1:2]:4001", true, true},  {"socket://[1::2::3]:1", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsNetworkPort(c.url), c.network) << c.url;
        if (c.network) {
            EXPECT_EQ(NetworkPortRefusal(c.url).empty(), c.valid) << c.url;
        }
    }
}
