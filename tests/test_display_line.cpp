// SPDX-License-Identifier: GPL-3.0-or-later
// The display on a line other than its own: a port, a tap, a recording, and
// the ranking of what a till speaks. Pseudo-terminal pairs stand in for ports.
#include "Pty.h"
#include "common/Files.h"
#include "display/Commands.h"
#include "posix/Posix.h"
#include "recording/Recorder.h"
#include "virtual-display/LineMain.h"
#include "virtual-display/PortReader.h"
#include "virtual-display/Ranking.h"
#include "virtual-display/Replayer.h"
#include "virtual-display/Tap.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace vantrel::display;
using namespace std::chrono_literals;

namespace {

using Chunks = std::vector<VirtualDisplay::Chunk>;

// Pumps the display until `done` holds for what came so far, or 5 s pass.
Chunks PumpUntil(VirtualDisplay& display, const std::function<bool(const Chunks&)>& done) {
    Chunks all;
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!done(all) && std::chrono::steady_clock::now() < until)
        for (auto& chunk : display.Pump(20ms)) all.push_back(std::move(chunk));
    return all;
}

bool HasNotice(const Chunks& chunks, const std::string& words) {
    for (const auto& chunk : chunks)
        if (chunk.notice.find(words) != std::string::npos) return true;
    return false;
}

void WriteAll(int fd, const std::string& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

void SetSpeed(int fd, speed_t speed) {
    termios t{};
    tcgetattr(fd, &t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}

std::string Temp(const std::string& name) {
    const std::string path = testing::TempDir() + name;
    std::filesystem::remove(path);
    return path;
}

}  // namespace

TEST(MarkDecoder, TakesTheMarksOfATerminalApart) {
    struct Case {
        std::vector<Bytes> reads;
        std::vector<std::pair<Bytes, bool>> runs;
    } cases[] = {
        {{Hex("41 42")}, {{Hex("41 42"), false}}},
        {{Hex("41 FF FF 42")}, {{Hex("41 FF 42"), false}}},                        // a real 0xFF, doubled
        {{Hex("41 FF 00 E3 FF 00 00 42")}, {{Hex("41"), false}, {Hex("E3 00"), true}, {Hex("42"), false}}},
        {{Hex("41 FF"), Hex("00"), Hex("E3 42")}, {{Hex("41"), false}, {Hex("E3"), true}, {Hex("42"), false}}},  // split
        {{Hex("FF"), Hex("FF 0C")}, {{Hex("FF 0C"), false}}},
    };
    for (const Case& c : cases) {
        vantrel::posix::MarkDecoder decoder;
        std::vector<vantrel::ReadRun> runs;
        for (const Bytes& read : c.reads) decoder.Decode(read, runs);
        std::vector<std::pair<Bytes, bool>> merged;
        for (const auto& run : runs) {
            if (!merged.empty() && merged.back().second == run.framingErrors)
                merged.back().first.insert(merged.back().first.end(), run.bytes.begin(), run.bytes.end());
            else merged.emplace_back(run.bytes, run.framingErrors);
        }
        EXPECT_EQ(merged, c.runs) << ToHex(c.reads[0]);
    }
}

// Framing errors show as garbage and are counted, with the reason, in the status.
TEST(PortLine, BytesWithFramingErrorsAreGarbageAndSaidInTheStatus) {
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    const std::string hello = "\x0CHELLO";
    display.Deliver({reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size()}, 9600, Direction::TillToDisplay, true);
    const Chunks chunks = display.Pump(10ms);
    EXPECT_EQ(display.Model().Line(0).find("HELLO"), std::string::npos);
    for (const char* words : {"framing errors: the till sends at another speed, display expects 9600",
                              "6 bytes with framing errors, shown as garbage: the till sends at another speed"})
        EXPECT_NE(StatusLine(display).find(words), std::string::npos) << StatusLine(display);
    ASSERT_FALSE(chunks.empty());
    ASSERT_FALSE(chunks[0].readings.empty());
    EXPECT_TRUE(chunks[0].readings.back().meaning.starts_with("shown as garbage: they came with framing errors at 9600 bit/s"))
        << chunks[0].readings.back().meaning;
}

// A port named by its path: read as the display reads its pseudo-terminal;
// pulled, said and waited for; back under the same name, read again.
TEST(PortLine, APulledPortIsSaidAndReadAgainWhenItIsBack) {
    auto first = std::make_unique<Pty>();
    Pty second;
    const std::string link = Temp("vantrel-port-link");
    std::filesystem::create_symlink(first->Path(), link);
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    std::string error;
    auto port = OpenListening(link, 9600, error);
    ASSERT_TRUE(port) << error;
    EXPECT_FALSE(OpenListening(link, 9600, error)) << "a second open of a held port";
    EXPECT_NE(error.find("busy"), std::string::npos) << error;
    PortReader reader(display, std::move(port), link, link, 9600);
    WriteAll(first->Master(), "\x0CONE");
    PumpUntil(display, [&](const Chunks&) { return display.Model().Line(0).starts_with("ONE"); });
    EXPECT_EQ(display.Model().Line(0), "ONE" + std::string(17, ' '));

    first->CloseMaster();
    const Chunks gone = PumpUntil(display, [](const Chunks& c) { return HasNotice(c, "is gone"); });
    EXPECT_TRUE(HasNotice(gone, link + " is gone (a pulled adapter?): waiting for it to come back"));
    first.reset();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.Path(), link);
    EXPECT_TRUE(HasNotice(PumpUntil(display, [](const Chunks& c) { return HasNotice(c, "is back"); }), "is back"));
    WriteAll(second.Master(), "\x0CTWO");
    PumpUntil(display, [&](const Chunks&) { return display.Model().Line(0).starts_with("TWO"); });
    EXPECT_EQ(display.Model().Line(0), "TWO" + std::string(17, ' '));
    std::filesystem::remove(link);
}

TEST(PortLine, NamesThatCannotBeListenedOnAreRefused) {
    std::string error;
    EXPECT_FALSE(OpenListening("/dev/null", 9600, error));
    EXPECT_EQ(error, "not a serial device");
    bool missing = false;
    EXPECT_FALSE(OpenListening("/dev/no-such-port", 9600, error, &missing));
    EXPECT_TRUE(missing);
    PortMapping network(3, "rfc2217://127.0.0.1:7000");
    EXPECT_EQ(ListenDevice("COM3", error), "");
    EXPECT_NE(error.find("network port"), std::string::npos);
}

// --baud auto on a pseudo-terminal that another program made (a socat pair's
// end): its settings are not the writer's, so the speed is not known, and
// every byte is read at the display's own speed, whatever the termios say,
// also after the port was gone and back.
TEST(PortLine, AutoOnAnotherProgramsPseudoTerminalSaysTheSpeedIsNotKnown) {
    auto first = std::make_unique<Pty>();
    Pty second;
    const std::string link = Temp("vantrel-auto-link");
    std::filesystem::create_symlink(first->Path(), link);
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    std::string error;
    SetSpeed(first->Master(), B38400);
    auto port = OpenListening(link, AutoBaud, error);
    ASSERT_TRUE(port) << error;
    PortReader reader(display, std::move(port), link, link, AutoBaud);
    const auto show = [&](const Pty& pty, speed_t speed, const std::string& text) {
        WriteAll(pty.Master(), "\x0C" + text);
        SetSpeed(pty.Master(), speed);  // after the bytes, before they are read
        const Chunks chunks = PumpUntil(display, [&](const Chunks&) { return display.Model().Line(0).starts_with(text); });
        EXPECT_EQ(display.Model().Line(0), text + std::string(20 - text.size(), ' ')) << StatusLine(display);
        for (const auto& chunk : chunks)
            EXPECT_TRUE(chunk.bytes.empty() || !chunk.speedMeasured) << text;
    };
    show(*first, B19200, "AT 4800");
    show(*first, B115200, "AT 19200");
    EXPECT_EQ(display.Speed().baud, 9600);
    EXPECT_FALSE(display.Speed().measured);
    EXPECT_NE(StatusLine(display).find("the speed is not known on this line: read at 9600 bit/s"), std::string::npos)
        << StatusLine(display);
    first->CloseMaster();
    PumpUntil(display, [](const Chunks& c) { return HasNotice(c, "is gone"); });
    first.reset();
    std::filesystem::remove(link);
    SetSpeed(second.Master(), B2400);
    std::filesystem::create_symlink(second.Path(), link);
    PumpUntil(display, [](const Chunks& c) { return HasNotice(c, "is back"); });
    show(second, B2400, "BACK");
    EXPECT_FALSE(display.Model().SpeedMismatch());
    std::filesystem::remove(link);
}

namespace {

// A real port's stand-in: reads given in turn (an empty one: the line is
// quiet), each at the speed set last; then Stopped.
class FakePort final : public vantrel::Port {
public:
    explicit FakePort(std::vector<std::vector<vantrel::ReadRun>> reads) : reads_(std::move(reads)) {}
    vantrel::PortResult Write(const std::uint8_t*, std::size_t, int) override { return {}; }
    vantrel::PortResult Read(std::vector<vantrel::ReadRun>& runs, int timeoutMs) override {
        std::unique_lock lock(mutex_);
        if (next_ < reads_.size() && (timeoutMs >= 0 || !reads_[next_].empty())) {
            runs = reads_[next_++];
            return {};
        }
        stopped_.wait(lock, [this] { return stop_; });
        return {vantrel::PortError::Stopped, ""};
    }
    void Interrupt() override {
        std::lock_guard lock(mutex_);
        stop_ = true;
        stopped_.notify_all();
    }
    vantrel::PortResult SetBaud(int baud) override {
        std::lock_guard lock(mutex_);
        speeds_.push_back(baud);
        return {};
    }
    std::vector<int> speeds_;  // read after the reader ended

private:
    std::vector<std::vector<vantrel::ReadRun>> reads_;
    std::size_t next_ = 0;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
};

vantrel::ReadRun Clean(const std::string& bytes, bool errors = false) { return {Bytes(bytes.begin(), bytes.end()), errors}; }

const std::string Sale = "\x1BQATOTAL      12.50\r\x1BQBTHANK YOU  \r";

}  // namespace

// --baud auto on a real port, read by read: noise with commands in one read
// keeps a speed, framing errors alone or bytes that read as nothing move on,
// 57600 and 115200 are tried too.
TEST(PortLine, AutoOnARealPortTriesTheSpeedsInTurn) {
    SpeedTrial trial;
    std::vector<vantrel::ReadRun> out;
    EXPECT_EQ(trial.Speed(), 9600);
    EXPECT_EQ(trial.Take({Clean("AB")}, out), SpeedTrial::Verdict::Wait);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(trial.Take({Clean("\xE3", true)}, out), SpeedTrial::Verdict::Next);
    ASSERT_EQ(out.size(), 2u) << "all that came at 9600, given up";
    EXPECT_EQ(trial.Speed(), 19200);
    EXPECT_EQ(trial.Take({Clean(std::string(40, 0x07))}, out), SpeedTrial::Verdict::Next) << "bytes that read as no command set";
    EXPECT_EQ(trial.Take({Clean(std::string(40, '\xF8'))}, out), SpeedTrial::Verdict::Next) << "what a wrong speed makes of text";
    EXPECT_EQ(trial.Speed(), 57600);
    EXPECT_EQ(trial.Take({Clean("\xFF\xFF\xE0\x00\x81", true), Clean(Sale)}, out), SpeedTrial::Verdict::Found)
        << "noise and commands in one read";
    EXPECT_EQ(out.size(), 2u);
    SpeedTrial around;
    for (int i = 0; i < 10; ++i) around.Take({Clean("\x00", true)}, out);
    EXPECT_EQ(around.Speed(), 9600) << "after the last speed, the first again";
    SpeedTrial quiet;
    EXPECT_EQ(quiet.Take({Clean("\x0CHI")}, out), SpeedTrial::Verdict::Wait);
    EXPECT_EQ(quiet.Quiet(out), SpeedTrial::Verdict::Wait);
    EXPECT_EQ(out.size(), 1u) << "a quiet line hands the few bytes on";
    EXPECT_EQ(quiet.Take({Clean(Sale)}, out), SpeedTrial::Verdict::Found) << "and they count toward the speed";
    EXPECT_TRUE(out.size() == 1u && out[0].bytes.size() == Sale.size());
}

// The port reader around the trial: a few bytes on a quiet line are shown and
// recorded, not held; the bytes of a speed given up are garbage; a speed
// found is said as measured, and bytes after it are read at it.
TEST(PortLine, AutoOnARealPortShowsWhatItHoldsAndMeasuresTheSpeed) {
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    display.Model().SetEmulation("CD5220");
    std::vector<VirtualDisplay::Chunk> seen;
    display.OnLine([&seen](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point) { seen.push_back(chunk); });
    auto port = std::make_unique<FakePort>(std::vector<std::vector<vantrel::ReadRun>>{
        {Clean("\x0CHI")}, {}, {Clean(std::string(40, 0x07))}, {Clean(Sale)}, {Clean("\x0C" "FOUND")}});
    FakePort* fake = port.get();
    Chunks chunks;
    {
        PortReader reader(display, std::move(port), "COM1", "/dev/ttyS0", AutoBaud);
        chunks = PumpUntil(display, [&](const Chunks&) { return display.Model().Line(0).starts_with("FOUND"); });
        EXPECT_EQ(display.Model().Line(0), "FOUND" + std::string(15, ' ')) << display.Model().Emulation();
        EXPECT_EQ(fake->speeds_, (std::vector<int>{9600, 19200}));
    }
    EXPECT_TRUE(HasNotice(chunks, "--baud auto: 19200 bit/s, measured")) << StatusLine(display);
    EXPECT_EQ(display.Model().OwnBaud(), 19200);
    EXPECT_EQ(display.Speed().baud, 19200);
    EXPECT_TRUE(display.Speed().measured);
    const auto bytesAt = [&chunks](const std::string& bytes) -> const VirtualDisplay::Chunk* {
        for (const auto& chunk : chunks)
            if (chunk.bytes == Bytes(bytes.begin(), bytes.end())) return &chunk;
        return nullptr;
    };
    const VirtualDisplay::Chunk* held = bytesAt("\x0CHI");
    ASSERT_TRUE(held) << "shown when the line went quiet";
    EXPECT_EQ(held->lineBaud, 9600);
    EXPECT_FALSE(held->speedMeasured);
    const VirtualDisplay::Chunk* givenUp = bytesAt(std::string(40, 0x07));
    ASSERT_TRUE(givenUp);
    EXPECT_EQ(givenUp->lineBaud, vantrel::UnknownBaud);
    EXPECT_EQ(givenUp->readings.back().kind, ReadingKind::Garbage);
    EXPECT_TRUE(bytesAt(Sale)->speedMeasured);
    EXPECT_EQ(seen.size(), 7u) << "every chunk and notice recorded";
}

// --baud takes the standard rates of a line, beyond the display's own eight;
// a port at such a speed is the display's receiver and reads its bytes.
TEST(PortLine, FastLinesAreTakenAndRead) {
    for (const auto& [text, baud] : {std::pair{"57600", 57600}, {"115200", 115200}, {"4000000", 4000000}, {"50", 50},
                                     {"auto", AutoBaud}, {"115201", -1}, {"14400", -1}, {"", -1}})
        EXPECT_EQ(ParseBaud(text), baud) << text;
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    display.SetReceiverBaud(115200);
    EXPECT_EQ(display.Speed().baud, 115200);
    EXPECT_FALSE(display.Speed().measured);
    display.Deliver(Hex("0C 46 41 53 54"), 115200);
    display.Pump(5ms);
    EXPECT_EQ(display.Model().Line(0), "FAST" + std::string(16, ' '));
    EXPECT_EQ(display.Model().OwnBaud(), 9600) << "the display's own speeds do not change";
}

// Each emulation's own commands, from its table, put it first in the ranking.
TEST(Ranking, AStreamOfAnEmulationsCommandsPutsItFirst) {
    for (const CommandSet* set : AllCommandSets()) {
        if (!set->name || !DisplayModel().SetEmulation(set->name)) continue;  // the tables of modes, not emulations
        std::string stream;
        for (const Command& c : set->commands) {
            // Rows with arguments of their own rules, and a new attention code, which the rest would not follow.
            if (c.end == End::Rule || (c.end == End::Count && c.count) || std::string_view(c.words) == "attention code now") continue;
            const std::string start = std::string(c.attention ? set->attention : "") + std::string(c.start);
            // With arguments that the emulation itself takes.
            const auto takes = [set](const std::string& row) {
                Ranking alone;
                alone.Feed({reinterpret_cast<const std::uint8_t*>(row.data()), row.size()}, 9600);
                for (const auto& rank : alone.Ranks())
                    if (std::string(rank.emulation) == set->name) return rank.doubtful == 0;
                return false;
            };
            for (const char* arguments : {"", "AB", "1230", "123045"}) {
                const std::string row = c.end == End::Terminator ? start + arguments + static_cast<char>(c.count) : start;
                if (takes(row)) {
                    stream += row + (set->text != Text::None ? "TEXT " : "");
                    break;
                }
            }
        }
        EXPECT_GT(stream.size(), 20u) << set->name;
        Ranking ranking;
        ranking.Feed({reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size()}, 9600);
        const auto ranks = ranking.Ranks();
        const auto own = std::find_if(ranks.begin(), ranks.end(), [set](const Ranking::Rank& r) { return std::string(r.emulation) == set->name; });
        ASSERT_NE(own, ranks.end());
        EXPECT_EQ(own->doubtful, ranks.front().doubtful) << set->name << ": " << ranking.Likely();
        EXPECT_EQ(own->commands, ranks.front().commands) << set->name << ": " << ranking.Likely();
        EXPECT_EQ(ranking.Speed(), 9600);
    }
}

TEST(Ranking, CountsTheSpeedOfCleanBytesOnly) {
    Ranking ranking;
    const Bytes text = Hex("48 49 48 49");
    ranking.Feed(text, 19200, true);
    ranking.Feed(text, 19200, true);
    ranking.Feed(text, 9600);
    EXPECT_EQ(ranking.Speed(), 9600);
    EXPECT_EQ(ranking.Bytes(), 4u);
    EXPECT_TRUE(ranking.Likely().starts_with("DSP800, ESCPOS and 7 more read it alike at 9600 (100% read)")) << ranking.Likely();
}

// A frame that selects a command set is read by every emulation alike; the
// stream after it still tells them apart, and alone it names its own.
TEST(Ranking, AFrameThatSelectsACommandSetDoesNotMakeThemAllAlike) {
    const std::pair<std::string, std::string> cases[] = {
        {"02 05 43 37 03", "CD5220 at 9600 (100% read)"},                     // the frame alone: the set it selects
        {"02 05 43 37 03 1B 51 41 48 49 0D", "CD5220 at 9600 (100% read)"},  // then CD5220's own upper line
    };
    for (const auto& [hex, best] : cases) {
        Ranking ranking;
        ranking.Feed(Hex(hex.c_str()), 9600);
        EXPECT_TRUE(ranking.Likely().starts_with(best)) << hex << ": " << ranking.Likely();
        if (hex.size() > 14) {
            EXPECT_LT(ranking.ReadPercent(ranking.Ranks().back()), 100) << ranking.Likely();
        }
    }
}

// Streams as tills send them, in pieces with a quiet line between: the set
// first and how many read it alike. Noise that opens a long command (US ( with
// a length of 64 KiB in ESC/POS: pL + pH x 256 bytes follow, as Epson's DM-D
// reference gives its US ( commands) hides nothing once the line goes quiet, a
// set-up frame ends or the stream ends; a client's arguments out of range,
// which its display ignores, still count for its set.
TEST(Ranking, NoiseAndAClientsHabitsDoNotHideTheSetItIsWrittenFor) {
    const std::string cdSale = "0C 1B 51 41 43 4F 46 46 45 45 20 33 2E 35 30 0D 1B 51 42 54 4F 54 41 4C 20 33 2E 35 30 0D";
    const std::string escSale = "1B 40 0C 43 4F 46 46 45 45 20 33 2E 35 30 1F 24 01 02 54 4F 54 41 4C 20 33 2E 35 30";
    const std::string noise = "1F 28 41 FF FF ";
    const struct {
        const char* what;
        std::vector<std::string> pieces;
        bool quietAtEnd;
        const char* first;
        std::size_t alike;
    } cases[] = {
        {"noise, a quiet, a CD5220 sale", {noise, cdSale}, true, "CD5220", 1},
        {"noise and a CD5220 sale at once", {noise + cdSale}, true, "CD5220", 1},
        {"noise and an ESC/POS sale at once", {noise + escSale}, true, "ESCPOS", 1},
        {"a frame's end, no quiet yet", {noise + "02 05 43 37 03 " + cdSale}, false, "CD5220", 1},
        {"rows counted from 0, a column past 20", {"1B 40 1F 24 01 00 48 49 1F 24 15 01 48 49"}, true, "ESCPOS", 1},
        {"text and line controls alone", {"0C 48 45 4C 4C 4F 0D 0A 41"}, true, "DSP800", 4},
    };
    for (const auto& c : cases) {
        Ranking ranking;
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            if (i) ranking.Quiet();
            ranking.Feed(Hex(c.pieces[i].c_str()), 9600);
        }
        if (c.quietAtEnd) ranking.Quiet();
        const Ranking::Answer answer = ranking.Result();
        EXPECT_STREQ(answer.ranks[0].emulation, c.first) << c.what << ": " << ranking.Likely();
        EXPECT_EQ(answer.alike, c.alike) << c.what << ": " << ranking.Likely();
        EXPECT_EQ(answer.clear, c.alike == 1 && ranking.Bytes() >= Ranking::ClearBytes) << c.what << ": " << ranking.Likely();
    }
}

// A tie names no set alone, says why, and which bytes would part them.
TEST(Ranking, ATieIsSaidWithTheBytesThatWouldTellThemApart) {
    Ranking ranking;
    ranking.Feed(Hex("0C 48 49 0D"), 9600);
    const Ranking::Answer answer = ranking.Result();
    ASSERT_TRUE(answer.Tied());
    EXPECT_TRUE(answer.onlyTextAndLineControls);
    EXPECT_FALSE(answer.clear);
    EXPECT_EQ(std::count(answer.tellApart.begin(), answer.tellApart.end(), 0x0C), 0) << "it came, and they read it alike";
    EXPECT_NE(std::count(answer.tellApart.begin(), answer.tellApart.end(), 0x1F), 0) << "ESCPOS and CD5220 have US commands, DSP800 none";
    EXPECT_TRUE(ranking.Likely().starts_with("DSP800, ESCPOS and 3 more read it alike at 9600 (100% read): the till sends only "
                                             "text and line controls; "))
        << ranking.Likely();
    EXPECT_NE(ranking.Likely().find(" would tell them apart. UTC_S 75%, "), std::string::npos) << ranking.Likely();
    EXPECT_EQ(ranking.Best(), "DSP800, ESCPOS and 3 more alike at 9600");
}

namespace {

std::string Recording(const std::string& body) {
    return "vantrel-display recording 1\nprogram: vantrel-display 1\nport: COM1\nspeed: 9600\nemulation: CD5220\n\n" + body;
}

}  // namespace

TEST(Recording, DamagedRecordingsAreRefusedWhole) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty"},
        {"vantrel-display recording 2\n", "a recording of format version 2; this vantrel-display reads version 1"},
        {"GIF89a\n", "not a vantrel-display recording"},
        {"vantrel-display recording 1\nport: COM1\n\n", "the header has no program"},
        {"vantrel-display recording 1\nprogram: x\nport: COM1\nspeed: 19200 bit/s\nemulation: CD5220\n\n", "the header's speed is not"},
        {"vantrel-display recording 1\nport: COM1\n", "cut short in its header"},
        {"vantrel-display recording 1\nport: \x1B]0;title\x07\n", "line 2: a control character in the header"},
        {Recording("1.000 T 9600 41\n0.500 T 9600 42\n"), "line 8: not a time"},
        {Recording("1.000 X 9600 41\n"), "line 7: not a direction"},
        {Recording("1.000 T 9600 4G\n"), "line 7: no bytes, or not two hex digits"},
        {Recording("1.000 T 9600 41  42\n"), "line 7: no bytes"},
        {Recording("1.000 T fast 41\n"), "line 7: not a speed"},
        {Recording("1.000 T 9601 41\n"), "line 7: not a speed"},
        {Recording("1.000 S ?\n"), "line 7: a speed taken is a standard rate and no bytes"},
        {Recording("1.000 S 9600 41\n"), "line 7: a speed taken is a standard rate and no bytes"},
        {Recording("1.000 T 9600 41\n" + std::string(RecordingLineLimit + 1, 'A') + "\n"), "line 8 is longer than any recording line"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string path = Temp("vantrel-damaged.rec");
        std::ofstream(path) << text;
        RecordingReader reader;
        std::string error, note;
        EXPECT_FALSE(reader.Open(path, error, note)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_NE(error.find("nothing is replayed"), std::string::npos) << error;
    }
}

// Notepad's UTF-8 byte-order mark and its CR LF line ends are read past.
TEST(Recording, AByteOrderMarkIsSkipped) {
    const std::string path = Temp("vantrel-bom.rec");
    std::ofstream(path) << "\xEF\xBB\xBFvantrel-display recording 1\r\nprogram: x\r\nport: COM1\r\nspeed: 9600\r\n"
                           "emulation: CD5220\r\n\r\n1.000 T 9600 41\r\n";
    RecordingReader reader;
    std::string error, note;
    ASSERT_TRUE(reader.Open(path, error, note)) << error;
    RecordedChunk chunk;
    ASSERT_TRUE(reader.Next(chunk));
    EXPECT_EQ(chunk.bytes, Hex("41"));
    std::filesystem::remove(path);
}

// A recording is held while it is written: a second writer, --force or not,
// is refused and leaves it whole; a device is never written, --force or not.
TEST(Recording, ARecordingIsHeldWhileItIsWritten) {
    const std::string path = Temp("vantrel-held.rec");
    std::filesystem::remove(path);
    {
        Recorder first(path, false, {"COM1", 9600, "CD5220"});
        for (bool force : {false, true}) {
            const vantrel::NewFile second = vantrel::MakeToWrite(path, force);
            EXPECT_LT(second.fd, 0);
            EXPECT_EQ(second.problem, force ? vantrel::FileBusy : std::strerror(EEXIST)) << force;
        }
        VirtualDisplay display{VirtualDisplay::ExternalLine{}};
        display.OnLine([&first](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) { first.Add(chunk, at); });
        display.Deliver(Hex("41 42"), 9600);
        display.Pump(2ms);
    }
    RecordingReader reader;
    std::string error, note;
    ASSERT_TRUE(reader.Open(path, error, note)) << error;
    EXPECT_EQ(reader.Chunks(), 1u);
    const vantrel::NewFile again = vantrel::MakeToWrite(path, true);  // free once the first is done with it, and emptied
    ASSERT_GE(again.fd, 0) << again.problem;
    vantrel::CloseFile(again.fd);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    std::filesystem::remove(path);
    for (bool force : {false, true}) EXPECT_EQ(vantrel::MakeToWrite("/dev/null", force).problem, "not a regular file") << force;
}

TEST(Recording, ALastLineCutShortIsLeftOutAndSaid) {
    const std::string path = Temp("vantrel-cut.rec");
    std::ofstream(path) << Recording("# a note\n1.000 T 9600 41 42\n2.000 T 96");
    RecordingReader reader;
    std::string error, note;
    ASSERT_TRUE(reader.Open(path, error, note)) << error;
    EXPECT_NE(note.find("the last line is cut short"), std::string::npos);
    RecordedChunk chunk;
    ASSERT_TRUE(reader.Next(chunk));
    EXPECT_EQ(chunk.bytes, Hex("41 42"));
    EXPECT_FALSE(reader.Next(chunk));
}

// Record a line, replay the recording: the same readings and screens.
TEST(Recording, AReplayShowsWhatTheRecordingSaw) {
    const std::string path = Temp("vantrel-round.rec");
    const std::string stream[] = {"\x0C", "HELLO", "\x1BQA", "UPPER\r", "\x02\x05S2\x03", "[\\]", "\x1B@", "AGAIN"};
    std::vector<std::string> seen, replayed;
    const auto describe = [](const Chunks& chunks, const VirtualDisplay& display) {
        std::vector<std::string> out;
        for (const auto& chunk : chunks)
            for (const auto& reading : chunk.readings) out.push_back(DescribeReading(reading));
        out.push_back(display.Model().Line(0) + display.Model().Line(1));
        return out;
    };
    {
        VirtualDisplay display{VirtualDisplay::ExternalLine{}};
        display.Model().SetEmulation("CD5220");
        Recorder recorder(path, false, {"COM1 (/dev/ttyS0)", 9600, "CD5220"});
        display.OnLine([&recorder](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) { recorder.Add(chunk, at); });
        Chunks chunks;
        for (const std::string& bytes : stream) {
            display.Deliver({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, 9600);
            for (auto& chunk : display.Pump(2ms)) chunks.push_back(std::move(chunk));
        }
        display.Deliver(Hex("06"), 9600, Direction::DisplayToTill);
        display.Pump(2ms);
        seen = describe(chunks, display);
        EXPECT_EQ(recorder.Problem(), "");
    }
    EXPECT_THROW(Recorder(path, false, {"COM1", 9600, "CD5220"}), std::runtime_error) << "an existing file is never overwritten";
    auto reader = std::make_unique<RecordingReader>();
    std::string error, note;
    ASSERT_TRUE(reader->Open(path, error, note)) << error;
    EXPECT_EQ(reader->Chunks(), std::size(stream) + 1);
    EXPECT_EQ(reader->Header().at("port"), "COM1 (/dev/ttyS0)");
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    display.Model().SetEmulation(reader->Header().at("emulation").c_str());
    Chunks chunks;
    {
        Replayer replayer(display, std::move(reader), path, 0);
        chunks = PumpUntil(display, [](const Chunks& c) { return !c.empty() && c.back().end; });
    }
    replayed = describe(chunks, display);
    EXPECT_EQ(replayed, seen);
    EXPECT_EQ(chunks[chunks.size() - 2].direction, Direction::DisplayToTill);
    std::filesystem::remove(path);
}

// A replay without --emulation shows the sale in the set the till speaks, says
// that it follows it, and a recording of the replay keeps that; --emulation
// keeps its own.
TEST(Recording, AReplayFollowsTheTillUnlessTheEmulationIsGiven) {
    const std::string path = Temp("vantrel-follow.rec"), again = Temp("vantrel-follow-again.rec");
    std::ofstream(path) << "vantrel-display recording 1\nprogram: vantrel-display 1\nport: COM1\nspeed: 9600\nemulation: DSP800\n\n"
                           "0.000 T 9600 1F 28 41 FF FF\n"
                           "300.000 T 9600 0C 1B 51 41 43 4F 46 46 45 45 20 33 2E 35 30 0D 1B 51 42 54 4F 54 41 4C 20 33 2E 35 30 0D\n";
    for (const bool keep : {false, true}) {
        VirtualDisplay display{VirtualDisplay::ExternalLine{}};
        LineOptions options;
        options.replay = path;
        options.replaySpeed = 0;
        if (!keep) options.record = again;
        Chunks chunks;
        {
            const auto session = StartLine(options, display, keep);
            chunks = PumpUntil(display, [](const Chunks& c) { return !c.empty() && c.back().end; });
        }
        const std::string said = "the till speaks CD5220 (94% read): the display follows it";
        EXPECT_EQ(HasNotice(chunks, said), !keep);
        EXPECT_STREQ(display.Model().Emulation(), keep ? "DSP800" : "CD5220");
        if (keep) continue;
        EXPECT_EQ(display.Model().Line(0) + "|" + display.Model().Line(1), "COFFEE 3.50         |TOTAL 3.50          ");
        std::ifstream recorded(again);
        const std::string text{std::istreambuf_iterator<char>(recorded), {}};
        EXPECT_NE(text.find("# " + said), std::string::npos) << text;
    }
    std::filesystem::remove(path);
    std::filesystem::remove(again);
}

// A recording that cannot be written any more stops and says why; the display goes on.
TEST(Recording, AFullDiskStopsTheRecordingAndTheDisplayGoesOn) {
    const std::string path = Temp("vantrel-full.rec");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    Recorder recorder(path, false, {"COM1", 9600, "DSP800"}, [&display](const std::string& why) { display.SetSideNote(why); });
    rlimit small = old;
    small.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    display.OnLine([&](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) { recorder.Add(chunk, at); });
    testing::internal::CaptureStderr();
    for (int i = 0; i < 20; ++i) {
        display.Deliver(Bytes(100, 'A' + i % 26), 9600);
        display.Pump(1ms);
    }
    for (int i = 0; i < 500 && recorder.Problem().empty(); ++i) std::this_thread::sleep_for(10ms);  // the writer's thread
    setrlimit(RLIMIT_FSIZE, &old);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(recorder.Problem().find("recording stopped: " + path + ": File too large"), std::string::npos) << recorder.Problem();
    EXPECT_NE(StatusLine(display).find("recording stopped"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(display.Model().Line(1), std::string(20, 'T')) << "the display read on";
    std::filesystem::remove(path);
}

// A disk that stalls never holds the line: the recording waits within its
// bound, then stops and says so, while every byte is still handed on.
TEST(Recording, AStalledDiskNeverHoldsTheLine) {
    const std::string path = Temp("vantrel-stalled.rec");
    std::signal(SIGPIPE, SIG_IGN);
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    std::string said;
    int stall[2];
    ASSERT_EQ(pipe(stall), 0);
    {
        Recorder recorder(path, false, {"COM1", 9600, "DSP800"}, [&said](const std::string& why) { said = why; });
        // The recording's descriptor becomes a pipe that nobody reads: a disk that takes nothing.
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
            if (std::error_code e; std::filesystem::read_symlink(fd.path(), e) == path) {
                ASSERT_GE(dup2(stall[1], std::stoi(fd.path().filename().string())), 0);
            }
        display.OnLine([&](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) { recorder.Add(chunk, at); });
        testing::internal::CaptureStderr();
        std::size_t handed = 0;
        for (int i = 0; i < 64; ++i) handed += display.Deliver(Bytes(32 * 1024, 'A'), 9600, Direction::TillToDisplay, false, false);
        EXPECT_GT(handed, 0);
        EXPECT_EQ(recorder.Problem(), said);
        EXPECT_NE(said.find("recording stopped: " + path + ": the disk fell 4 MiB behind the line"), std::string::npos) << said;
        close(stall[0]);  // the disk gives up: the writer's thread ends
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    close(stall[1]);
    std::filesystem::remove(path);
}

namespace {

// Both ends of a tap: what the test writes as the till and as the display,
// and what arrives at each.
struct TapEnds {
    Pty till, display;
    VirtualDisplay screen{VirtualDisplay::ExternalLine{}};
    std::unique_ptr<Tap> tap;
    TapEnds() {
        std::string error;
        auto a = OpenListening(till.Path(), 9600, error), b = OpenListening(display.Path(), 9600, error);
        if (!a || !b) throw std::runtime_error(error);
        tap = std::make_unique<Tap>(screen, Tap::Side{"till", till.Path(), std::move(a)},
                                    Tap::Side{"display", display.Path(), std::move(b)}, 9600);
    }
};

}  // namespace

// A flood both ways at once: every byte arrives, in order, unchanged, and is
// recorded, though the screen is never read and falls behind.
TEST(Tap, PassesAndRecordsAFloodBothWaysByteForByte) {
    TapEnds ends;
    const std::string path = Temp("vantrel-tap.rec");
    Recorder recorder(path, false, {"till", 9600, "DSP800"});
    ends.screen.OnLine([&recorder](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) { recorder.Add(chunk, at); });
    std::mt19937 random(33);
    Bytes fromTill(1 << 20), fromDisplay(1 << 18);
    for (auto& b : fromTill) b = static_cast<std::uint8_t>(random());
    for (auto& b : fromDisplay) b = static_cast<std::uint8_t>(random());
    Bytes atDisplay, atTill;
    std::size_t sentTill = 0, sentDisplay = 0;
    const auto until = std::chrono::steady_clock::now() + 60s;
    while ((atDisplay.size() < fromTill.size() || atTill.size() < fromDisplay.size()) && std::chrono::steady_clock::now() < until) {
        pollfd p[2] = {{ends.till.Master(), POLLIN, 0}, {ends.display.Master(), POLLIN, 0}};
        if (sentTill < fromTill.size()) p[0].events |= POLLOUT;
        if (sentDisplay < fromDisplay.size()) p[1].events |= POLLOUT;
        poll(p, 2, 100);
        std::uint8_t buf[4096];
        ssize_t n;
        if ((n = read(ends.till.Master(), buf, sizeof buf)) > 0) atTill.insert(atTill.end(), buf, buf + n);
        if ((n = read(ends.display.Master(), buf, sizeof buf)) > 0) atDisplay.insert(atDisplay.end(), buf, buf + n);
        if (sentTill < fromTill.size() && (n = write(ends.till.Master(), fromTill.data() + sentTill, std::min<std::size_t>(777, fromTill.size() - sentTill))) > 0)
            sentTill += static_cast<std::size_t>(n);
        if (sentDisplay < fromDisplay.size() &&
            (n = write(ends.display.Master(), fromDisplay.data() + sentDisplay, std::min<std::size_t>(333, fromDisplay.size() - sentDisplay))) > 0)
            sentDisplay += static_cast<std::size_t>(n);
    }
    EXPECT_TRUE(atDisplay == fromTill) << atDisplay.size() << " of " << fromTill.size();
    EXPECT_TRUE(atTill == fromDisplay) << atTill.size() << " of " << fromDisplay.size();
    EXPECT_FALSE(ends.tap->TakeDwellTimes().empty());
    ends.tap.reset();
    EXPECT_NE(StatusLine(ends.screen).find("passed on but not shown"), std::string::npos);
    RecordingReader reader;
    std::string error, note;
    ASSERT_TRUE(reader.Open(path, error, note)) << error;
    Bytes recorded[2];
    for (RecordedChunk chunk; reader.Next(chunk);)
        recorded[chunk.direction == 'D'].insert(recorded[chunk.direction == 'D'].end(), chunk.bytes.begin(), chunk.bytes.end());
    EXPECT_TRUE(recorded[0] == fromTill) << recorded[0].size() << " of " << fromTill.size();
    EXPECT_TRUE(recorded[1] == fromDisplay) << recorded[1].size() << " of " << fromDisplay.size();
    std::filesystem::remove(path);
}

// A tap that ends while the display's side takes nothing: what it read from
// the till is passed on within a bound, and what is left is said and
// recorded as not passed, never as passed.
TEST(Tap, BytesReadButNotPassedAtTheEndAreSaid) {
    const std::string path = Temp("vantrel-tap-end.rec");
    TapEnds ends;
    {
        Recorder recorder(path, false, {"till", 9600, "DSP800"});
        ends.screen.OnLine([&recorder](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) { recorder.Add(chunk, at); });
        fcntl(ends.till.Master(), F_SETFL, fcntl(ends.till.Master(), F_GETFL) | O_NONBLOCK);
        const Bytes block(1000, 'A');
        for (auto until = std::chrono::steady_clock::now() + 300ms; std::chrono::steady_clock::now() < until;)
            if (write(ends.till.Master(), block.data(), block.size()) < 0) std::this_thread::sleep_for(5ms);
        ends.tap.reset();
    }
    std::size_t received = 0;
    fcntl(ends.display.Master(), F_SETFL, fcntl(ends.display.Master(), F_GETFL) | O_NONBLOCK);
    for (std::uint8_t buf[4096]; ;) {
        const ssize_t n = read(ends.display.Master(), buf, sizeof buf);
        if (n <= 0) break;
        received += static_cast<std::size_t>(n);
    }
    std::ifstream file(path);
    std::size_t recorded = 0, notPassed = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.find(" T 9600 ") != std::string::npos) recorded += (line.size() - line.find(" T 9600 ") - 7) / 3;
        if (const auto at = line.find("# the tap ended: "); at != std::string::npos) notPassed = std::stoul(line.substr(at + 17));
    }
    EXPECT_GT(notPassed, 0u) << "the display's side took nothing in the bound";
    EXPECT_EQ(recorded, received + notPassed);
    std::filesystem::remove(path);
}

// The display's side pulled while bytes wait for it: those are said lost
// once, when it goes; when it is back, only the bytes lost while it was gone.
TEST(Tap, LostBytesAreCountedOnce) {
    const std::string path = Temp("vantrel-tap-lost.rec"), link = Temp("vantrel-tap-display");
    Pty till, second;
    auto first = std::make_unique<Pty>();
    std::filesystem::create_symlink(first->Path(), link);
    VirtualDisplay screen{VirtualDisplay::ExternalLine{}};
    {
        Recorder recorder(path, false, {"till", 9600, "DSP800"});
        screen.OnLine([&recorder](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) { recorder.Add(chunk, at); });
        std::string error;
        auto a = OpenListening(till.Path(), 9600, error), b = OpenListening(link, 9600, error);
        ASSERT_TRUE(a && b) << error;
        Tap tap(screen, {"till", till.Path(), std::move(a)}, {"display", link, std::move(b)}, 9600);
        fcntl(till.Master(), F_SETFL, fcntl(till.Master(), F_GETFL) | O_NONBLOCK);
        const Bytes block(1000, 'A');
        for (auto until = std::chrono::steady_clock::now() + 300ms; std::chrono::steady_clock::now() < until;)
            if (write(till.Master(), block.data(), block.size()) < 0) std::this_thread::sleep_for(5ms);
        first->CloseMaster();
        PumpUntil(screen, [](const Chunks& c) { return HasNotice(c, "is gone"); });
        first.reset();
        std::filesystem::remove(link);
        std::filesystem::create_symlink(second.Path(), link);
        PumpUntil(screen, [](const Chunks& c) { return HasNotice(c, "is back"); });
    }
    std::ifstream file(path);
    std::size_t saidGone = 0, saidBack = 0, readWhileGone = 0;
    bool gone = false;
    for (std::string line; std::getline(file, line);) {
        if (const auto at = line.find("is gone (a pulled cable?): waiting for it; "); at != std::string::npos)
            gone = true, saidGone = std::stoul(line.substr(at + 43));
        else if (const auto back = line.find("is back: "); back != std::string::npos)
            gone = false, saidBack = std::stoul(line.substr(back + 9));
        else if (gone && line.find(" T 9600 ") != std::string::npos)
            readWhileGone += (line.size() - line.find(" T 9600 ") - 7) / 3;
    }
    EXPECT_GT(saidGone, 0u) << "bytes waited for the display's side when it went";
    EXPECT_EQ(saidBack, readWhileGone);
    std::filesystem::remove(link);
    std::filesystem::remove(path);
}

// The display's cable pulled: said, and the till's side still read and shown.
TEST(Tap, APulledSideIsSaidAndTheOtherFlowsOn) {
    TapEnds ends;
    ends.display.CloseMaster();
    const Chunks gone = PumpUntil(ends.screen, [](const Chunks& c) { return HasNotice(c, "is gone"); });
    EXPECT_TRUE(HasNotice(gone, "the display's side, display (" + ends.display.Path() + "), is gone (a pulled cable?)"));
    WriteAll(ends.till.Master(), "\x0CSTILL READ");
    PumpUntil(ends.screen, [&](const Chunks&) { return ends.screen.Model().Line(0).starts_with("STILL READ"); });
    EXPECT_EQ(ends.screen.Model().Line(0), "STILL READ" + std::string(10, ' '));
}

TEST(Tap, TheSamePortTwiceIsRefused) {
    Pty one;
    const std::string link = Temp("vantrel-same-port");
    std::filesystem::create_symlink(one.Path(), link);
    LineOptions options;
    options.till = one.Path();
    options.toDisplay = link;
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    try {
        StartLine(options, display, false);
        ADD_FAILURE() << "a tap onto one port started";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("are the same port '" + one.Path() + "'; a tap needs two"), std::string::npos) << e.what();
    }
    std::filesystem::remove(link);
}

TEST(LineOutput, JsonStringsAreEscaped) {
    EXPECT_EQ(JsonString("a\"b\\c\x01\xC3\xA4"), "\"a\\\"b\\\\c\\u0001\xC3\xA4\"");
    EXPECT_EQ(JsonString("x\xFF" "y\xC2\x85"), "\"x\\uFFFDy\\u0085\"") << "no UTF-8, and C1";
}

// A port opened to listen: its bytes as runs, marks decoded; a read that
// waits ends at Interrupt() from another thread, and every later one too; a
// hang-up is the port gone.
TEST(SerialPort, AListeningReadEndsAtInterruptAndAtAHangUp) {
    Pty till;
    std::unique_ptr<vantrel::Port> port;
    ASSERT_TRUE(vantrel::OpenSerialPort(till.Path(), vantrel::PortUse::Listen, 9600, port).Ok());
    EXPECT_EQ(port->Baud(), 9600);
    EXPECT_TRUE(port->PseudoTerminal());
    WriteAll(till.Master(), "\x0C" "AB");
    std::vector<vantrel::ReadRun> runs;
    ASSERT_TRUE(port->Read(runs, 2000).Ok());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].bytes, Hex("0C 41 42"));
    EXPECT_FALSE(runs[0].framingErrors);

    runs.clear();
    EXPECT_TRUE(port->Read(runs, 10).Ok()) << "nothing came in time";
    EXPECT_TRUE(runs.empty());
    std::thread stopper([&port] {
        std::this_thread::sleep_for(50ms);
        port->Interrupt();
    });
    EXPECT_EQ(port->Read(runs, -1).error, vantrel::PortError::Stopped);
    stopper.join();
    EXPECT_EQ(port->Read(runs, -1).error, vantrel::PortError::Stopped) << "an interrupt ends every later wait";

    std::unique_ptr<vantrel::Port> other;
    Pty gone;
    ASSERT_TRUE(vantrel::OpenSerialPort(gone.Path(), vantrel::PortUse::Listen, vantrel::KeepSpeed, other).Ok());
    gone.CloseMaster();
    EXPECT_EQ(other->Read(runs, 2000).error, vantrel::PortError::Gone);
}

// A replay's clock goes through the gaps a millisecond at a time at most: a
// step's time never runs past the chunk that ends the gap, also when the gaps
// are fractions of a millisecond and carry a remainder from one to the next.
TEST(LineOutput, TheClockThroughGapsNeverRunsAheadOfTheChunks) {
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    ASSERT_TRUE(display.Model().SetEmulation("ESCPOS"));
    std::vector<VirtualDisplay::Clock::duration> steps;
    display.ElapseByChunks([&steps](VirtualDisplay::Clock::duration at) { steps.push_back(at); });
    const std::vector<std::uint8_t> blink{0x1F, 'E', 0x05}, text{'A'};
    VirtualDisplay::Clock::duration since{}, previous{};
    std::size_t checked = 0;
    for (int i = 0; i <= 1500; ++i) {
        display.Deliver(i ? text : blink, 9600, Direction::TillToDisplay, false, true, display.Started() + i * 700us);
        for (const auto& chunk : display.ReadAvailable()) since += chunk.sincePrevious;
        for (const auto step : steps) {
            EXPECT_LE(step, since) << "a step after the chunk at " << i;
            EXPECT_GE(step, previous) << "a step before the chunk before " << i;
            previous = step;
        }
        checked += steps.size();
        steps.clear();
        previous = std::max(previous, since);
    }
    EXPECT_GT(checked, 2u) << "the blinking changed the screen through the gaps";
}
