// SPDX-License-Identifier: GPL-3.0-or-later
// The display on a line other than its own: a port, a tap, a recording, and
// the ranking of what a till speaks. Pseudo-terminal pairs stand in for ports.
#include "Pty.h"
#include "display/Commands.h"
#include "posix/Posix.h"
#include "recording/Recorder.h"
#include "virtual-display/LineMain.h"
#include "virtual-display/PortReader.h"
#include "virtual-display/Ranking.h"
#include "virtual-display/Replayer.h"
#include "virtual-display/Tap.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <random>
#include <sys/resource.h>
#include <termios.h>
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

// --baud auto on a pseudo-terminal takes the writer's speed, and follows it.
TEST(PortLine, AutoTakesTheWritersSpeed) {
    Pty till;
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    std::string error;
    auto port = OpenListening(till.Path(), AutoBaud, error);
    ASSERT_TRUE(port) << error;
    SetSpeed(till.Master(), B4800);
    PortReader reader(display, std::move(port), till.Path(), till.Path(), AutoBaud);
    for (const auto& [speed, rate] : {std::pair{B4800, 4800}, {B19200, 19200}, {B2400, 2400}}) {
        SetSpeed(till.Master(), speed);
        const std::string text = "AT " + std::to_string(rate);
        WriteAll(till.Master(), "\x0C" + text);
        const Chunks chunks = PumpUntil(display, [&](const Chunks&) { return display.Model().Line(0).starts_with(text); });
        EXPECT_EQ(display.Model().Line(0), text + std::string(20 - text.size(), ' '));
        EXPECT_EQ(display.Model().OwnBaud(), rate);
        EXPECT_FALSE(display.Model().SpeedMismatch());
        ASSERT_FALSE(chunks.empty());
        EXPECT_EQ(chunks.back().lineBaud, rate);
    }
    // A speed the display has not: said, and the display keeps its own.
    SetSpeed(till.Master(), B57600);
    WriteAll(till.Master(), "\x0C" "FAST");
    const Chunks fast = PumpUntil(display, [](const Chunks& c) { return HasNotice(c, "57600"); });
    EXPECT_TRUE(HasNotice(fast, "the writer's speed is now 57600 bit/s, none of the display's speeds")) << StatusLine(display);
    PumpUntil(display, [&](const Chunks&) { return display.Model().SpeedMismatch(); });
    EXPECT_EQ(display.Model().OwnBaud(), 2400);
}

// --baud auto on a real port: a framing error or bytes that read as nothing
// move on to the next speed, clean commands keep it.
TEST(PortLine, AutoOnARealPortTriesTheSpeedsInTurn) {
    SpeedTrial trial;
    std::vector<std::uint8_t> bytes;
    const std::string commands = "\x1BQATOTAL      12.50\r\x1BQBTHANK YOU  \r";
    const Bytes clean(commands.begin(), commands.end());
    EXPECT_EQ(trial.Speed(), 9600);
    EXPECT_EQ(trial.Take(Hex("41 42"), false, bytes), SpeedTrial::Verdict::Wait);
    EXPECT_EQ(trial.Take(Hex("E3"), true, bytes), SpeedTrial::Verdict::Next);
    EXPECT_EQ(bytes, Hex("41 42 E3")) << "all that came at 9600, given up";
    EXPECT_EQ(trial.Speed(), 19200);
    EXPECT_EQ(trial.Take(Bytes(40, 0x07), false, bytes), SpeedTrial::Verdict::Next) << "bytes that read as no command set";
    EXPECT_EQ(trial.Speed(), 38400);
    EXPECT_EQ(trial.Take(Bytes(40, 0xF8), false, bytes), SpeedTrial::Verdict::Next) << "what a wrong speed makes of text";
    EXPECT_EQ(trial.Speed(), 4800);
    EXPECT_EQ(trial.Take(Bytes(clean.begin(), clean.begin() + 10), false, bytes), SpeedTrial::Verdict::Wait);
    EXPECT_EQ(trial.Take(Bytes(clean.begin() + 10, clean.end()), false, bytes), SpeedTrial::Verdict::Found);
    EXPECT_EQ(bytes, clean);
    SpeedTrial around;
    for (int i = 0; i < 8; ++i) around.Take(Hex("00"), true, bytes);
    EXPECT_EQ(around.Speed(), 9600) << "after the last speed, the first again";
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
    EXPECT_TRUE(ranking.Likely().starts_with("DSP800 at 9600 (100% read)")) << ranking.Likely();
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
        {Recording("1.000 S 57600\n"), "line 7: a speed taken is one of the display's speeds"},
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

// A recording that cannot be written any more stops and says why; the display goes on.
TEST(Recording, AFullDiskStopsTheRecordingAndTheDisplayGoesOn) {
    const std::string path = Temp("vantrel-full.rec");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    Recorder recorder(path, false, {"COM1", 9600, "DSP800"});
    rlimit small = old;
    small.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    VirtualDisplay display{VirtualDisplay::ExternalLine{}};
    display.OnLine([&](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) {
        recorder.Add(chunk, at);
        if (!recorder.Problem().empty()) display.SetSideNote(recorder.Problem());
    });
    testing::internal::CaptureStderr();
    for (int i = 0; i < 20; ++i) {
        display.Deliver(Bytes(100, 'A' + i % 26), 9600);
        display.Pump(1ms);
    }
    setrlimit(RLIMIT_FSIZE, &old);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(recorder.Problem().find("recording stopped: " + path + ": File too large"), std::string::npos) << recorder.Problem();
    EXPECT_NE(StatusLine(display).find("recording stopped"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(display.Model().Line(1), std::string(20, 'T')) << "the display read on";
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
