// SPDX-License-Identifier: GPL-3.0-or-later
// `vantrel send` as a script runs it: the panel's bytes, its usage errors and
// exit statuses, and a shop of three tills set up in parallel.
#include "PanelFixture.h"
#include "Peers.h"
#include "virtual-display/VirtualDisplay.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <fstream>
#include <functional>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

// `vantrel send ARGS` through the shell, with no display server.
Outcome Send(const std::string& args, const std::string& env = "") {
    const std::string err = testing::TempDir() + "vantrel-send-err";
    const ShellRun shell = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY " + env + " timeout 20 " VANTREL_BIN " send " + args +
                                    " 2>" + err);
    Outcome run{shell.status, shell.out, {}};
    std::ifstream in(err);
    run.err.assign(std::istreambuf_iterator<char>(in), {});
    return run;
}

}  // namespace

// For each set of clicks, `vantrel send` puts the same bytes on the same line.
TEST_F(PanelTest, SendWritesWhatThePanelWrites) {
    const struct {
        const char* args;
        std::function<void()> clicks;
    } cases[] = {
        {"--sample 1", [&] { Click(1006); }},
        {"--clear --reset --demo --clear-demo --full-light",
         [&] {
             for (int id : {1005, 1060, 1061, 1062, 1087}) Click(id);
         }},
        {"--page 80 --page 90", [&] { Click(1095), Click(1095); }},
        {"--set 19200 --set USA --set CD5220 --set W1252",
         [&] {
             for (int id : {1025, 1076, 1026, 1049, 1067}) Click(id);
         }},
        {"--set cd5220 --set w1252 --set spain1",  // a label in any case, without its space
         [&] {
             for (int id : {1025, 1085, 1049, 1067}) Click(id);
         }},
        {"--set CD5220 A B",
         [&] {
             Click(1025);
             Click(1067);
             Edit(1000)->setText("A");
             Edit(1004)->setText("B");
             Click(1006);
         }},
        {"--bytes '1B 40' 'Ünïcode line that is too long' ''",
         [&] {
             vantrel::TxBuffer[0] = 0x1B, vantrel::TxBuffer[1] = 0x40;
             vantrel::WriteFrame(2);
             Edit(1000)->setText(QString::fromUtf8("Ünïcode line that is too long"));
             Edit(1004)->setText("");
             Click(1006);
         }},
    };
    for (const auto& c : cases) {
        Open();
        c.clicks();
        const Bytes panelBytes = pty.ReadUntilQuiet(100ms);
        Click(1003);  // the panel lets go of the port
        const Outcome run = Send(std::string("--port ") + pty.Path() + " " + c.args, "LANG=C.UTF-8");
        EXPECT_EQ(run.status, 0) << c.args << ": " << run.err;
        EXPECT_EQ(ToHex(pty.ReadUntilQuiet(100ms)), ToHex(panelBytes)) << c.args;
        EXPECT_FALSE(panelBytes.empty());
    }
}

TEST(Send, UsageErrorsAndFailuresHaveTheirStatus) {
    Pty pty;
    const std::string port = "--port " + pty.Path() + " ";
    const int held = open(pty.Path().c_str(), O_RDWR | O_NOCTTY);  // another program's, for "busy"
    Pty stopped;  // the far end holds the line with XOFF: every write misses its bound
    termios t{};
    tcgetattr(stopped.Slave(), &t);
    t.c_iflag |= IXON;
    tcsetattr(stopped.Slave(), TCSANOW, &t);
    ASSERT_EQ(write(stopped.Master(), "\x13", 1), 1);
    // Text with control characters, as the shell gives it: shown escaped, on one line.
    const auto shell = [](const char* printf) { return std::string("\"$(printf '") + printf + "')\""; };
    std::string tooMany;  // one byte past the transmit buffer
    for (int i = 0; i < 1025; ++i) tooMany += "7 ";
    const std::string huge(120000, '4');  // quoted by its beginning and its size
    const std::string longPath = "/tmp/" + std::string(100000, 'A');
    const struct {
        std::string args;
        int status;
        std::string says;
        const char* never = nullptr;  // not on standard error
    } cases[] = {
        {port + "--bogus", 2, "unrecognized option '--bogus'"},
        {port + "--set NOPE", 2,
         "no option box is labelled 'NOPE'; the labels, in any case: DSP800 ESCPOS"},
        {port + "--set cd5220 --set AEDEX", 2, "'CD5220' and 'AEDEX' are of one group"},
        {port + "--set CD5220 --set AEDEX", 2, "'CD5220' and 'AEDEX' are of one group"},
        {port + "--bytes 1G", 2, "not a hex byte: '1G'"},
        {port + "--bytes 'C 1B4 0D'", 2, "not a hex byte: '1B4' in 'C 1B4 0D'"},
        {port + "--bytes ' , '", 2, "no hex bytes in ' , '"},
        {port + "--bytes '" + tooMany + "'", 2, "more than 1024 bytes (1025) in one --bytes"},
        {port + "-5.00 DISCOUNT", 2, "unrecognized option '-5.00'; a line that starts with '-' goes after '--'"},
        {port + "--clear --port", 2, "option '--port' needs a value"},
        {"--port '' --clear", 2, "no port named ''"},
        {port + "--baud 1234 X", 2, "no such speed: '1234'"},
        {port + "--baud ' 9600' X", 2, "no such speed: ' 9600'"},
        {port + "--baud +9600 X", 2, "no such speed: '+9600'"},
        {port + "--baud 09600 X", 2, "no such speed: '09600'"},
        {port + "--set " + shell("CD5220\\nvantrel: all good"), 2, "no option box is labelled 'CD5220\\nvantrel: all good'"},
        {port + "--bogus" + shell("\\033[2J\\302\\233"), 2, "unrecognized option '--bogus\\x1B[2J\\u009B'"},
        {"--port " + shell("/dev/x\\ny\\tz") + " --clear", 2, "'/dev/x\\ny\\tz' is not a port name: it holds a control character"},
        {"--port " + shell("/dev/ttyUSB0\\177") + " --clear", 2, "'/dev/ttyUSB0\\x7F' is not a port name: it holds a control"},
        {"--port /nonexistent/ttyVANTREL --clear", 3, "cannot open /nonexistent/ttyVANTREL: no such device"},
        // A malformed network name is refused alike with or without --dry-run, before any connection.
        {"--port socket://127.0.0.1 X", 3, "cannot open socket://127.0.0.1: not a network port address"},
        {"--dry-run --port socket://127.0.0.1 X", 3, "cannot open socket://127.0.0.1: not a network port address"},
        // Send stops at its failed clear, and says which write failed.
        {"--port " + stopped.Path() + " HELLO WORLD", 1, "failed: the line took nothing within the write's bound"},
        {"--port " + stopped.Path() + " --sample 2", 1, "; the write that failed: Send, the clear (action 1)\n"},
        {"--port " + stopped.Path() + " --bytes 41 --clear --full-light", 1,
         "; the write that failed: bytes (action 1); the 2 actions after it were not sent"},
        {port + "--page 85", 2, "no such page: '85'"},
        {port + "--sample 4", 2, "no such sample: '4'"},
        // One rule for numbers: no sign, blank, leading zero or 0x.
        {port + "--page 0x80", 2, "no such page: '0x80'"},
        {port + "--page +80", 2, "no such page: '+80'"},
        {port + "--page ' 80'", 2, "no such page: ' 80'"},
        {port + "--page 080", 2, "no such page: '080'"},
        {port + "--sample 01", 2, "no such sample: '01'"},
        {port + "--sample +1", 2, "no such sample: '+1'"},
        {port + "--sample ' 1'", 2, "no such sample: ' 1'"},
        {port + "--bytes " + huge, 2, "not a hex byte: '" + huge.substr(0, 50) + "'... (120000 bytes) (a byte is"},
        // Every name a message quotes is escaped, and a long one shortened with its length.
        {port + "--replay " + shell("/tmp/no\\033[2J\\nsuch\\342\\200\\256.rec") + " X", 2,
         "--replay '/tmp/no\\x1B[2J\\nsuch\\u202E.rec': "},
        {port + "--replay " + longPath + " X", 2, "--replay '" + longPath.substr(0, 50) + "'... (100005 bytes): "},
        {"--port /dev/" + longPath + " X", 3, "cannot open /dev//tmp/" + std::string(40, 'A') + "... (100010 bytes): "},
        // --port, --baud and --emulation name one thing each.
        {port + "--port " + pty.Path() + " X", 2, "--port: given more than once"},
        {port + "--baud 9600 --baud 19200 X", 2, "--baud: given more than once"},
        {port + "--emulation CD5220 --emulation CD5220 X", 2, "--emulation: given more than once"},
        // Standard output that fails is one failed write, reported once.
        {port + "--explain --bytes '41 42' >&-", 1, "vantrel: write error: Bad file descriptor"},
        {port + "--explain --bytes '41 42' >/dev/full", 1, "vantrel: write error: No space left on device"},
        {port + "--version", 0, ""},
        // A speed frame, then bytes at the old speed: a warning, and the bytes still go.
        {port + "--set CD5220 --set 19200 A B", 0, "vantrel send: warning: after its speed frame the display expects 19200 bit/s"},
        // Without a speed frame the run knows nothing of the display's speed: no warning.
        {port + "--baud 19200 'TOTAL  12.34'", 0, "", "warning"},
        {port + "--baud 300 X", 0, "", "warning"},
        {port + "--sample 1", 0, "", "warning"},
        {port + "--emulation VT100 --clear", 2, "no such emulation: 'VT100'"},
        {port, 2, "nothing to send"},
        {port + "A B C", 2, "too many lines: 'C'"},
        {"--port /nonexistent/ttyVANTREL --clear", 3, "cannot open /nonexistent/ttyVANTREL: no such device"},
        {"--port " + pty.Path() + " --clear", 3, "busy"},
        {"--port socket://127.0.0.1:" + std::to_string(FreePort()) + " --clear", 3, "cannot open socket://"},
        {"--help", 0, ""},
        {"--help >/dev/full", 1, "vantrel: write error: No space left on device"},
    };
    for (const auto& c : cases) {
        if (c.status == 3 && c.args.find(pty.Path()) != std::string::npos) {
            ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
        }
        const Outcome run = Send(c.args);
        flock(held, LOCK_UN);
        EXPECT_EQ(run.status, c.status) << c.args << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.args << ": " << run.err;
        if (c.never) {
            EXPECT_EQ(run.err.find(c.never), std::string::npos) << c.args << ": " << run.err;
        }
        EXPECT_EQ(run.err.find("Usage: vantrel send"), std::string::npos) << c.args;
        if (c.status == 1 || c.status == 3) {
            // One line; a missing device's names the serial ports that are there.
            const bool missing = std::string_view(c.says).find(": no such device") != std::string_view::npos;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_EQ(run.err.find(": no such device; serial ports on this computer: ") != std::string::npos ||
                          run.err.find(": no such device; no serial port was found") != std::string::npos,
                      missing) << run.err;
        } else if (c.status == 2) {
            EXPECT_EQ(run.err.find('\n') + 1, run.err.find("Try 'vantrel send --help' for more information.\n"))
                << "one line, then where to look: " << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
            // Bounded: a name is shortened; the longest line is the list of --set's labels.
            EXPECT_LT(run.err.find('\n'), 512u) << "a bounded line";
        }
    }
    close(held);
    // Released, the stopped line carries nothing: the clear was discarded, and no line followed it.
    ASSERT_EQ(write(stopped.Master(), "\x11", 1), 1);
    EXPECT_EQ(ToHex(stopped.ReadUntilQuiet(200ms)), "");
    EXPECT_EQ(Send("--help").out.rfind("Usage: vantrel send", 0), 0u);
    // A recording that is a FIFO is refused at once, not waited on.
    const std::string fifo = testing::TempDir() + "vantrel-replay-fifo";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Outcome piped = Send("--dry-run --replay " + fifo);
    std::remove(fifo.c_str());
    EXPECT_EQ(piped.status, 2);
    EXPECT_EQ(piped.err, "vantrel send: --replay '" + fifo + "': not a regular file\nTry 'vantrel send --help' for more information.\n");
    // A dry run of a recording waits for none of its gaps, even one of months.
    const std::string gaps = testing::TempDir() + "vantrel-replay-gaps.rec";
    std::ofstream(gaps) << "vantrel-display recording 1\nprogram: test\nport: COM1\nspeed: 9600\nemulation: CD5220\n\n"
                           "0.000 T 9600 41\n9000000000.000 T 9600 42\n";
    const Outcome quick = Send("--port /nonexistent/x --dry-run --replay " + gaps);
    std::remove(gaps.c_str());
    EXPECT_EQ(quick.status, 0) << quick.err;
    EXPECT_EQ(quick.out, "replay: 41\n    \"A\"  text\nreplay: 42\n    \"B\"  text\n");
    // --dry-run opens nothing and explains: even a port that is not there.
    const Outcome dry = Send("--port /nonexistent/x --dry-run --set AEDEX --bytes '21 23 31 48 49 0D'");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out, "Send Command: AEDEX: 02 05 43 34 03\n    STX ENQ \"C4\" ETX  set-up: emulation AEDEX\n"
                       "bytes: 21 23 31 48 49 0D\n    \"!#1HI\" CR  upper line\n");
}

// A replay is accounted for write by write, past what the line log keeps
// (10,000 rows), and a recording rewritten while it plays stops it, said so.
TEST(Send, AReplayIsAccountedForWholeAndStopsWhereItsRecordingChanged) {
    const std::string rec = testing::TempDir() + "vantrel-long.rec";
    const auto write = [&rec](const std::vector<std::string>& chunks, double stepMs) {
        std::ofstream out(rec);
        out << "vantrel-display recording 1\nprogram: vantrel-display 1\nport: COM1\nspeed: 9600\nemulation: CD5220\n\n";
        for (std::size_t i = 0; i < chunks.size(); ++i) out << i * stepMs << " T 9600 " << chunks[i] << "\n";
    };
    const auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
        return n;
    };
    // 10,000 writes, then a speed frame and a write at the old speed: explained
    // whole, and warned of. Then the line is held after 11,000 writes of 16
    // bytes: the failed write is named by its own number.
    {
        const std::string sixteen = "41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41";
        std::vector<std::string> chunks(10000, sixteen);
        chunks.insert(chunks.end(), {"02 05 43 37 03", "02 05 42 37 03", "42"});
        chunks.resize(20000, sixteen);
        write(chunks, 0);
        Pty pty;
        termios t{};
        tcgetattr(pty.Slave(), &t);
        t.c_iflag |= IXON;
        tcsetattr(pty.Slave(), TCSANOW, &t);
        std::thread far([&pty] {
            char buffer[4096];
            std::size_t got = 0;
            for (pollfd p{pty.Master(), POLLIN, 0}; got < 11000 * 16 && poll(&p, 1, 5000) > 0;)
                if (const ssize_t r = read(pty.Master(), buffer, sizeof buffer); r > 0) got += static_cast<std::size_t>(r);
            (void)!::write(pty.Master(), "\x13", 1);  // XOFF: the far end holds the line
        });
        const Outcome run = Send("--port " + pty.Path() + " --explain --replay " + rec);
        far.join();
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("warning: after its speed frame the display expects 19200 bit/s"), std::string::npos) << run.err;
        const std::size_t failed = std::strtoul(run.err.c_str() + run.err.find("replay, write ") + 14, nullptr, 10);
        EXPECT_GT(failed, 11000u) << run.err;
        EXPECT_LT(failed, 20000u) << run.err;
        EXPECT_EQ(count(run.out, "\nreplay: "), failed - 1) << "each write up to the failed one, explained";
        EXPECT_EQ(count(run.out, "FAILED, not written"), 1u);
    }
    // Rewritten (cut short) while it plays: the run fails, and says what was not sent.
    {
        write(std::vector<std::string>(300, "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50"), 4);
        Pty pty;
        LineRecorder line(pty.Master());
        const std::string err = testing::TempDir() + "vantrel-changed-err";
        const ShellRun run = RunShell("(sleep 0.5; echo 'vantrel-display recording 1' >" + rec + ") & timeout 20 " VANTREL_BIN
                                      " send --port " + pty.Path() + " --replay " + rec + " --clear 2>" + err + "; s=$?; wait; exit $s");
        std::ifstream in(err);
        const Outcome said{run.status, {}, std::string(std::istreambuf_iterator<char>(in), {})};
        EXPECT_EQ(said.status, 1) << said.err;
        EXPECT_NE(said.err.find("changed while it was replayed: what it held after write "), std::string::npos) << said.err;
        EXPECT_NE(said.err.find(" was not sent (action 1); the action after it was not sent\n"), std::string::npos) << said.err;
        EXPECT_LT(line.All().size(), 300u * 16) << "the rest of the checked recording was not sent";
    }
}

// Standard output closed by its reader partway: every action still goes on
// the line, and the run fails once, as any failed write does.
TEST(Send, AClosedPipeIsAFailedWriteAndEveryActionStillGoesOut) {
    Pty pty;
    LineRecorder line(pty.Master());
    std::string args = "--port " + pty.Path() + " --explain", kilobyte;
    for (int i = 0; i < 1024; ++i) kilobyte += "41 ";
    for (int i = 0; i < 6; ++i) args += " --bytes '" + kilobyte + "'";
    const std::string err = testing::TempDir() + "vantrel-pipe-err", status = testing::TempDir() + "vantrel-pipe-status";
    // The reader is gone before the first line is printed.
    RunShell("(sleep 0.3; " VANTREL_BIN " send " + args + " --clear 2>" + err + "; echo $? >" + status + ") | true");
    std::ifstream said(err), code(status);
    const std::string words((std::istreambuf_iterator<char>(said)), {});
    int exit = -1;
    code >> exit;
    EXPECT_EQ(exit, 1) << words;
    EXPECT_EQ(words, "vantrel: write error: Broken pipe\n");
    EXPECT_TRUE(line.WaitFor(6 * 1024 + 1, 2000ms)) << line.All().size();
    EXPECT_EQ(line.All().back(), 0x0C) << "the last action, the clear, went out";
}

// What goes on the line for text and bytes that are easy to get wrong.
TEST(Send, BytesAndLinesAsTheyGoOut) {
    // "Send: " and a line frame: the hex given, then spaces (20) up to 20 bytes.
    const auto line = [](std::string hex) {
        while (hex.size() < 20 * 3 - 1) hex += hex.empty() ? "20" : " 20";
        return "Send: " + hex + "\n";
    };
    const struct {
        const char* env;
        std::string args;
        std::string writes;  // as --dry-run prints them, without the readings
    } cases[] = {
        {"", "--bytes 'C 1B 40 D' --bytes 1b:4:c,0", "bytes: 0C 1B 40 0D\nbytes: 1B 04 0C 00\n"},
        {"", "--clear -- -5.00 DISCOUNT", "Clean: 0C\nSend: 0C\n" + line("2D 35 2E 30 30") + line("44 49 53 43 4F 55 4E 54")},
        // Overlong ESC in two and three bytes, an encoded surrogate, past U+10FFFF, a cut sequence: one '?' each.
        {"LANG=C.UTF-8", "'\xC0\x9B@X\xE0\x80\x9B\xED\xA0\x80\xF4\x90\x80\x80\xE4\xB8'",
         "Send: 0C\n" + line("3F 40 58 3F 3F 3F 3F") + line("")},
        // A line is text: C0 (ESC, TAB, LF), DEL and C1 (U+0085, U+009B) are '?', never commands.
        {"LANG=C.UTF-8", "\"$(printf '\\033@X\\tY\\nZ\\177\\302\\205\\302\\233')\"",
         "Send: 0C\n" + line("3F 40 58 3F 59 3F 5A 3F 3F 3F") + line("")},
        // A decomposed é (e, U+0301) is the one character it composes to.
        {"LANG=C.UTF-8", "'e\xCC\x81'", "Send: 0C\n" + line("E9") + line("")},
        // GBK: nine characters fit after "A"; the tenth would take bytes 20 and 21, and is left out.
        {"LANG=zh_CN.UTF-8", "'A一二三四五六七八九十' B",
         "Send: 0C\n" + line("41 D2 BB B6 FE C8 FD CB C4 CE E5 C1 F9 C6 DF B0 CB BE C5") + line("42")},
    };
    for (const auto& c : cases) {
        const Outcome run = Send("--dry-run " + c.args, c.env);
        EXPECT_EQ(run.status, 0) << c.args << ": " << run.err;
        std::string writes;  // the lines of bytes, not the readings indented under them
        for (std::size_t at = 0; at < run.out.size(); at = run.out.find('\n', at) + 1)
            if (run.out[at] != ' ') writes += run.out.substr(at, run.out.find('\n', at) - at + 1);
        EXPECT_EQ(writes, c.writes) << c.args;
    }
}

// A shop: three tills' displays behind one ser2net, set up by one parallel run
// over a file of URLs, as the manual page shows.
TEST(Send, AShopOfThreeTillsInParallel) {
    if (access(Ser2net::Path, X_OK) != 0) GTEST_SKIP() << "ser2net is not installed";
    vantrel::display::VirtualDisplay tills[3];
    std::vector<Ser2net::Line> lines;
    const std::string file = testing::TempDir() + "vantrel-shop.txt";
    std::ofstream shop(file);
    for (int i = 0; i < 3; ++i) {
        lines.push_back({tills[i].SlavePath(), FreePort()});
        shop << "rfc2217://127.0.0.1:" << lines.back().second << " TILL-" << i + 1 << "\n";
    }
    shop.close();
    Ser2net server(lines);
    const std::string command = "xargs -P 3 -L 1 sh -c '" VANTREL_BIN " send --port \"$0\" --set CD5220 \"$1\"' < " + file;
    EXPECT_EQ(std::system(("env -u DISPLAY " + command).c_str()), 0) << command;
    for (int i = 0; i < 3; ++i) {
        tills[i].Pump(300ms);
        EXPECT_EQ(tills[i].Model().Line(0), "TILL-" + std::to_string(i + 1) + std::string(14, ' ')) << i;
        EXPECT_STREQ(tills[i].Model().Emulation(), "CD5220");
    }
    std::remove(file.c_str());
}
