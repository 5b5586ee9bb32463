// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/LineMain.h"

#include "common/ControlCharacters.h"
#include "common/UsageError.h"
#include "recording/Recorder.h"
#include "serial/Platform.h"
#include "serial/PortMap.h"

#include "virtual-display/JsonEvents.h"
#include "virtual-display/PortReader.h"
#include "virtual-display/Ranking.h"
#include "virtual-display/Replayer.h"
#include "virtual-display/Tap.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace vantrel::display {

namespace {

int Bad(const char* option, const std::string& why) {
    UsageError("vantrel-display", std::string(option) + ": " + why);
    return -1;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        char h[4];
        std::snprintf(h, sizeof h, text.empty() ? "%02X" : " %02X", b);
        text += h;
    }
    return text;
}

// The names of the ranking best first, and the speed: what a "likely:" line
// is printed again for.
std::string RankingOrder(const Ranking& ranking) {
    std::string order = std::to_string(ranking.Speed());
    for (const auto& rank : ranking.Ranks()) order += std::string(" ") + rank.emulation;
    return order;
}

// Two names of one file: the same name, or links (hard or symbolic) to one.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return a == b || std::filesystem::equivalent(std::filesystem::u8path(a), std::filesystem::u8path(b), error);
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        // What is no UTF-8 (a name's stray byte) is U+FFFD: the line stays JSON.
        const Utf8Step step = NextUtf8(text, at);
        const char c = text[at];
        if (step.valid && (c == '"' || c == '\\')) {
            json += '\\', json += c;
        } else if (!step.valid || IsControlCharacter(step.c)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(step.c));
            json += escape;
        } else {
            json.append(text, at, step.length);
        }
        at += step.length;
    }
    return json + "\"";
}

int TakeLineOption(int argc, char** argv, int& i, LineOptions& o) {
    const char* option = argv[i];
    std::string* value = !std::strcmp(option, "--port")     ? &o.port
                         : !std::strcmp(option, "--baud")   ? &o.baud
                         : !std::strcmp(option, "--record") ? &o.record
                         : !std::strcmp(option, "--replay") ? &o.replay
                                                            : nullptr;
    if (value) {
        if (i + 1 >= argc || !*argv[i + 1]) return Bad(option, "a value is needed");
        if (!value->empty()) return Bad(option, "given more than once");
        *value = argv[++i];
        // A name refused by the rule that vantrel send follows is a wrong command line, as there.
        if (value == &o.port)
            if (const NamedPort named = ReadPortName(o.port, ThisPlatform); !named.refusal.empty()) return Bad(option, named.refusal);
        if (value == &o.baud && ParseBaud(o.baud) < 0)
            return Bad(option, "a standard rate from 50 to 4000000 (300 ... 9600, 19200, 38400, 57600, 115200 ...), or auto");
        return 1;
    }
    if (!std::strcmp(option, "--tap")) {
        if (i + 2 >= argc || !*argv[i + 1] || !*argv[i + 2]) return Bad(option, "two ports are needed: TILL DISPLAY");
        if (!o.till.empty()) return Bad(option, "given more than once");
        o.till = argv[++i];
        o.toDisplay = argv[++i];
        for (const std::string* name : {&o.till, &o.toDisplay})
            if (const NamedPort named = ReadPortName(*name, ThisPlatform); !named.refusal.empty()) return Bad(option, named.refusal);
        return 1;
    }
    if (!std::strcmp(option, "--replay-speed")) {
        // A plain decimal number (digits, one point between or before them):
        // no blank, sign, exponent or hexadecimal form; a factor below 0.001
        // would make a second last longer than a fortnight.
        const std::string text = i + 1 < argc ? argv[i + 1] : "";
        const std::size_t point = text.find('.');
        const bool plain = !text.empty() && text.back() != '.' && text.find_first_not_of("0123456789.") == std::string::npos &&
                           (point == std::string::npos || text.find('.', point + 1) == std::string::npos);
        if (o.replaySpeedGiven) return Bad(option, "given more than once");
        o.replaySpeed = plain ? std::strtod(text.c_str(), nullptr) : -1;
        if (!plain || !(o.replaySpeed >= 0) || o.replaySpeed > 1e6 || (o.replaySpeed > 0 && o.replaySpeed < 1e-3))
            return Bad(option, "0 (as fast as it can), or a factor from 0.001 to 1000000");
        ++i;
        o.replaySpeedGiven = true;
        return 1;
    }
    if (!std::strcmp(option, "--force")) return o.force = true, 1;
    if (!std::strcmp(option, "--json")) return o.json = true, 1;
    return 0;
}

bool CheckLineOptions(const LineOptions& o, bool headless, bool pseudoTerminal) {
    const int sources = !o.port.empty() + !o.till.empty() + !o.replay.empty();
    const char* problem = sources > 1                                   ? "--port, --tap and --replay each name the line: give one"
                          : sources && pseudoTerminal                   ? "--link and --printer are for the display's own pseudo-terminal, not --port, --tap or --replay"
                          : !o.baud.empty() && o.port.empty() && o.till.empty() ? "--baud goes with --port or --tap"
                          : !o.till.empty() && o.baud == "auto"          ? "--tap takes a speed of the list, not auto: it passes bytes on as they came"
                          : o.replaySpeedGiven && o.replay.empty()       ? "--replay-speed goes with --replay"
                          : o.force && o.record.empty()                  ? "--force goes with --record"
                          : o.json && !headless                          ? "--json goes with --headless"
                          : !o.record.empty() && SameFile(o.record, o.replay) ? "--record and --replay name the same file"
                                                                         : nullptr;
    if (problem) UsageError("vantrel-display", problem);
    return !problem;
}

LineSession::~LineSession() {
    // The threads that deliver end first, then the recording of what they delivered.
    reader.reset();
    tap.reset();
    replayer.reset();
    if (display) display->OnLine({});
}

std::unique_ptr<LineSession> StartLine(const LineOptions& o, VirtualDisplay& display, bool keepEmulation) {
    auto session = std::make_unique<LineSession>();
    session->display = &display;
    DisplayModel& model = display.Model();
    const auto takeSpeed = [&model](int baud) {
        Setup setup = model.StoredSetup();
        setup.ownBaud = baud;
        model.Restore(setup);
    };
    std::string label = display.SlavePath();
    int baud = o.baud.empty() ? model.OwnBaud() : ParseBaud(o.baud);
    std::unique_ptr<Port> port, till, toDisplay;
    std::string device, tillDevice, displayDevice, error;
    std::unique_ptr<RecordingReader> recording;
    if (!o.port.empty()) {
        if ((device = ListenDevice(o.port, error)).empty() || !(port = OpenListening(device, baud, error)))
            throw std::runtime_error("--port " + Quoted(o.port) + ": " + error);
        label = PortLabel(o.port, device);
    } else if (!o.till.empty()) {
        if ((tillDevice = ListenDevice(o.till, error)).empty() ||
            (displayDevice = ListenDevice(o.toDisplay, error)).empty())
            throw std::runtime_error("--tap: " + error);
        if (SameSerialPort(tillDevice, displayDevice))
            throw std::runtime_error("--tap: " + Quoted(o.till) + " and " + Quoted(o.toDisplay) + " are the same port " + Quoted(tillDevice) +
                                     "; a tap needs two");
        if (!(till = OpenListening(tillDevice, baud, error))) throw std::runtime_error("--tap " + Quoted(o.till) + " (the till): " + error);
        if (!(toDisplay = OpenListening(displayDevice, baud, error)))
            throw std::runtime_error("--tap " + Quoted(o.toDisplay) + " (the display): " + error);
        label = PortLabel(o.till, tillDevice) + " tapped to " + PortLabel(o.toDisplay, displayDevice);
    } else if (!o.replay.empty()) {
        recording = std::make_unique<RecordingReader>();
        std::string note;
        if (!recording->Open(o.replay, error, note)) throw std::runtime_error("--replay " + error);
        if (!note.empty()) std::fprintf(stderr, "vantrel-display: --replay %s\n", note.c_str());
        // The display as it was when the recording began.
        const auto& header = recording->Header();
        const std::string& emulation = header.at("emulation");
        if (!keepEmulation && !model.SetEmulation(emulation.c_str()))
            std::fprintf(stderr, "vantrel-display: --replay %s: the recording's emulation %s is none the display knows; it reads in %s\n",
                         Quoted(o.replay).c_str(), Quoted(emulation).c_str(), model.Emulation());
        if (const int recorded = std::atoi(header.at("speed").c_str()); recorded > 0) {
            takeSpeed(recorded);
            if (model.OwnBaud() != recorded) display.SetReceiverBaud(recorded);  // a line faster than the display's own speeds
        }
        const auto measured = header.find("speed-measured");
        display.SetSpeedMeasured(measured != header.end() && measured->second == "yes");
        label = o.replay;
    }
    session->label = label;
    // A fixed speed on a port is the display's own: it reads what its UART
    // takes, also at a speed none of its own eight.
    if ((port || till) && baud != AutoBaud) {
        takeSpeed(baud);
        if (model.OwnBaud() != baud) display.SetReceiverBaud(baud);
    }
    if (!o.record.empty()) {
        session->recorder = std::make_unique<Recorder>(
            o.record, o.force,
            RecordingHeader{label, baud == AutoBaud ? 0 : display.Speed().baud, model.Emulation(), display.Speed().measured},
            [&display](const std::string& problem) { display.SetSideNote(problem); });
        Recorder* recorder = session->recorder.get();
        display.OnLine(
            [recorder](const VirtualDisplay::Chunk& chunk, VirtualDisplay::Clock::time_point at) { recorder->Add(chunk, at); });
    }
    if (o.External()) display.KeepRanking(!keepEmulation);
    if (port) session->reader = std::make_unique<PortReader>(display, std::move(port), o.port, device, baud);
    if (till)
        session->tap = std::make_unique<Tap>(display, Tap::Side{o.till, tillDevice, std::move(till)},
                                             Tap::Side{o.toDisplay, displayDevice, std::move(toDisplay)}, baud);
    if (recording) session->replayer = std::make_unique<Replayer>(display, std::move(recording), Quoted(o.replay), o.replaySpeed);
    return session;
}

int RunLineHeadless(VirtualDisplay& display, const LineOptions& o, const volatile std::sig_atomic_t& stop) {
    auto& model = display.Model();
    const LineKind kind = !o.port.empty()     ? LineKind::Port
                          : !o.till.empty()   ? LineKind::Tap
                          : !o.replay.empty() ? LineKind::Replay
                                              : LineKind::PseudoTerminal;
    JsonEvents json(display, kind);
    std::chrono::steady_clock::duration since{};  // the start, by the chunks' own times
    std::string shownScreen, likelyOrder;
    bool out = true, end = false;
    const auto print = [&out](const std::string& line) {
        out = out && std::fputs(line.c_str(), stdout) >= 0 && std::fputc('\n', stdout) != EOF;
    };
    const auto screen = [&](std::chrono::steady_clock::duration at) {
        const std::string status = StatusLine(display), now = model.Line(0) + "\n" + model.Line(1) + "\n" + status;
        if (now == shownScreen) return;
        shownScreen = now;
        print(o.json ? json.Screen(at) : "|" + model.Line(0) + "|\n|" + model.Line(1) + "|\n[" + status + "]");
    };
    const auto likely = [&](bool always, std::chrono::steady_clock::duration at) {
        const Ranking* ranking = display.Ranks();
        if (!ranking || !ranking->Bytes()) return;
        const std::string order = RankingOrder(*ranking);
        if (order == likelyOrder && !always) return;
        likelyOrder = order;
        print(o.json ? json.Likely(at) : "likely: " + ranking->Likely());
    };
    if (o.json) {
        const std::string& path = kind == LineKind::Port     ? o.port
                                  : kind == LineKind::Tap    ? o.till
                                  : kind == LineKind::Replay ? o.replay
                                                             : display.SlavePath();
        print(json.Start(path, o.toDisplay, display.Link()));
    }
    screen(since);
    // A replay's screens follow its own times: the same output at any pace.
    const bool replay = !o.replay.empty();
    if (replay) display.ElapseByChunks(screen);
    auto last = std::chrono::steady_clock::now();
    while (!stop && out && !end) {
        // A chunk at a time, each with the screen and the ranking it left, but
        // never so many that a flood keeps the clock and the stop waiting.
        for (int taken = 0; taken < 4096 && !end && !stop && display.WaitReady(taken ? 0 : 250); ++taken) {
            const auto chunks = display.ReadAvailable(1);
            if (chunks.empty()) break;
            const VirtualDisplay::Chunk& chunk = chunks.front();
            since += chunk.sincePrevious;
            if (o.json) {
                for (const std::string& line : json.Chunk(chunk, since)) print(line);
            } else {
                if (!chunk.notice.empty()) print("-- " + chunk.notice);
                if (chunk.direction == Direction::DisplayToTill) print("< " + Hex(chunk.bytes));
                for (const auto& reading : chunk.readings) print("> " + DescribeReading(reading));
                if (!chunk.printer.empty()) print(PrinterLine(chunk));
                if (chunk.readingsLeftOut)
                    print("> ... " + std::to_string(chunk.readingsLeftOut) + " more readings left out");
            }
            end = end || chunk.end;
            screen(since);
            likely(false, since);
        }
        if (!replay) {  // a replay's clock moves with its chunks
            const auto now = std::chrono::steady_clock::now();
            model.Elapse(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count()));
            last = now;
            if (display.LineWentQuiet()) likely(false, std::max(since, now - display.Started()));
            screen(std::max(since, now - display.Started()));  // a change of the clock's own is of now
        }
        out = out && std::fflush(stdout) == 0 && !std::ferror(stdout);
    }
    const auto finish = replay ? since : std::max(since, std::chrono::steady_clock::now() - display.Started());
    likely(true, finish);
    if (o.json) print(json.End(finish, end ? "replay-done" : out ? "stopped" : "output-closed"));
    std::fflush(stdout);
    return 0;
}

}  // namespace vantrel::display
