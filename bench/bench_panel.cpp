// SPDX-License-Identifier: GPL-3.0-or-later
// How fast and how exact the panel is on the line: click to wire, the pace of
// the auto-send cycle, stop latency, heap allocations per frame, and a full
// "Send" at the top speed. Runs the real panel offscreen on a pseudo-terminal.
#include "Peers.h"
#include "Pty.h"
#include "Stats.h"
#include "app/LineLogDlg.h"
#include "app/Messages.h"
#include "app/PanelDlg.h"
#include "commands/CommandFrames.h"
#include "content/AutoSend.h"
#include "content/CharTest.h"
#include "content/LineMessage.h"
#include "display/DisplayModel.h"
#include "serial/SerialLink.h"

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <random>
#include <thread>
#include <unistd.h>
#ifdef VANTREL_BENCH_VTERM
#include <vterm.h>
#endif

using namespace vantrel;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// ---- heap allocations of the measuring thread ----
// malloc itself is interposed, so allocations by C code (iconv, libc) count
// too; operator new goes through it.
namespace {
thread_local bool Counting = false;
thread_local long Allocations = 0;
}  // namespace

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t n) {
    if (Counting) ++Allocations;
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    if (Counting) ++Allocations;
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    if (Counting) ++Allocations;
    return __libc_realloc(p, n);
}
}

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Waits for the first byte of a frame, then takes whatever else has arrived.
void WaitAndDrain(Pty& line) {
    line.Read(1, 1000ms);
    line.ReadUntilQuiet(0ms);
}

void Click(CPanelDlg& panel, int id) { QTest::mouseClick(panel.GetDlgItem(id), Qt::LeftButton); }

void ChooseBaud(CPanelDlg& panel, int index) {
    auto* list = static_cast<QComboBox*>(panel.GetDlgItem(1002));
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void ClickToWire(CPanelDlg& panel, Pty& line) {
    std::vector<double> samples;
    for (int i = 0; i < 1000; ++i) {
        const auto start = Clock::now();
        Click(panel, 1005);
        WaitAndDrain(line);
        samples.push_back(Ms(Clock::now() - start));
    }
    const Summary s = Summarise(samples);
    Row("Click to wire: \"Clean\" click to byte readable on the line", samples.size(), Fixed(s.median, "ms", 3),
        Fixed(s.worst, "ms", 3), "< 1 ms median");
}

void CyclePace(CPanelDlg& panel, Pty& line, int baud) {
    LineRecorder recorder(line.Master());
    Click(panel, 1007);
    const std::size_t turn = 2 * 1 + 20 * PatternLength;  // 802 bytes
    recorder.WaitFor(2 * turn + 1, 25s);
    Click(panel, 1007);
    const std::size_t received = recorder.All().size();
    // The first byte of every pattern of two turns.
    std::vector<Clock::time_point> starts;
    std::size_t offset = 0;
    for (int t = 0; t < 2; ++t) {
        for (int half = 0; half < 2; ++half) {
            offset += 1;  // the clear byte
            for (int k = 0; k < 10; ++k, offset += PatternLength)
                if (offset < received) starts.push_back(recorder.TimeOfByte(offset));
        }
    }
    // A pattern's time on a real line at this speed; a pseudo-terminal has none, its
    // writes return at once, so the pace there is the pause alone.
    const double onLineMs = PatternLength * 10.0 * 1000.0 / baud;
    const double expected = 500.0;
    std::vector<double> errors;
    for (std::size_t i = 1; i < starts.size(); ++i) errors.push_back(std::abs(Ms(starts[i] - starts[i - 1]) - expected));
    const Summary e = Summarise(errors);
    const double drift = starts.size() > 1 ? Ms(starts.back() - starts.front()) - expected * (starts.size() - 1) : 0;
    double mean = 0;
    for (double v : errors) mean += v;
    mean /= errors.empty() ? 1 : errors.size();
    Row("Cycle pace: error of each pattern interval against 500 ms + its time on the line, two turns (pseudo-terminal: 0 ms on the line; " +
            Fixed(onLineMs, "ms", 1) + " on a real port)",
        errors.size(), Fixed(e.median, "ms", 3) + " (mean " + Fixed(mean, "ms", 3) + ")", Fixed(e.worst, "ms", 3),
        "worst < 5 ms");
    Row("Cycle drift over two turns", 1, Fixed(drift, "ms", 3), Fixed(drift, "ms", 3), "no drift");
}

void StopLatency(CPanelDlg& panel, Pty& line) {
    std::vector<double> toEnd, press;
    std::mt19937 random(1);
    std::uniform_int_distribution<int> inPause(50, 400);
    for (int i = 0; i < 20; ++i) {
        Click(panel, 1007);
        WaitAndDrain(line);
        std::this_thread::sleep_for(std::chrono::milliseconds(inPause(random)));
        const auto start = Clock::now();
        Click(panel, 1007);
        press.push_back(Ms(Clock::now() - start));
        while (panel.AutoSenderForTest().LiveWorkers() != 0) std::this_thread::yield();
        toEnd.push_back(Ms(Clock::now() - start));
        WaitAndDrain(line);
    }
    const Summary e = Summarise(toEnd), p = Summarise(press);
    Row("Stop latency: stop press to the worker's end, stop during a pause", toEnd.size(), Fixed(e.median, "ms", 3),
        Fixed(e.worst, "ms", 3), "< 5 ms");
    Row("Stop press itself returns", press.size(), Fixed(p.median, "ms", 3), Fixed(p.worst, "ms", 3), "< 1 ms");
}

template <typename F>
long AllocationsOf(F&& send, int n) {
    Allocations = 0;
    Counting = true;
    for (int i = 0; i < n; ++i) send();
    Counting = false;
    return Allocations;
}

void AllocationsPerFrame(Pty& line) {
    // Something must keep reading, or the line fills.
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buf[4096];
        while (!stop) {
            pollfd p{line.Master(), POLLIN, 0};
            if (poll(&p, 1, 20) > 0) (void)!read(line.Master(), buf, sizeof buf);
        }
    });
    const std::u16string l1 = u"     THANK YOU      ", l2 = u"  HAVE A NICE DAY   ";
    std::array<std::uint8_t, PatternLength> workerFrame{};
    std::memcpy(workerFrame.data(), AutoPatterns[0], PatternLength);
    std::atomic<bool> running{false};
    const int n = 10000;
    struct Kind {
        const char* name;
        std::function<void()> send;
    } kinds[] = {
        {"Clean", SendCleanFrame},
        {"Reset", SendResetFrame},
        {"Demo", SendDemoFrame},
        {"ClearDemo", SendClearDemoFrame},
        {"Full Light", SendFullLightFrame},
        {"option frame", [] { SendOptionFrame(OptionFrameTable[53]); }},
        {"Send (0x0C + two lines)", [&] { SendTwoLines(l1, l2, PanelCodePage::Windows1252); }},
        {"Send, GBK", [&] { SendTwoLines(u"中文价格 12.50", l2, PanelCodePage::Gbk); }},
        {"test page", SendCharTestPage},
        {"worker pattern", [&] { WriteBytes(workerFrame.data(), workerFrame.size(), &running); }},
    };
    // The counter itself: one std::string of 100 characters is one allocation.
    const long calibration = AllocationsOf([] { std::string s(100, 'x'); (void)s; }, n);
    Row("Allocations counter check: a 100-character std::string", n, Fixed(double(calibration) / n, "", 4),
        std::to_string(calibration) + " in all", "1 (the counter works)");
    for (auto& kind : kinds) {
        kind.send();  // first use may set things up (the code page converters)
        const long total = AllocationsOf(kind.send, n);
        Row(std::string("Allocations per frame: ") + kind.name, n, Fixed(double(total) / n, "", 4),
            std::to_string(total) + " in all", "0");
    }
    stop = true;
    reader.join();
}

// The line log open while the far end holds the line and Auto Send runs: the
// worker spends each write's whole bound inside the link. The interface
// thread's longest wait: one turn of its events and the log's refresh.
void LogWhileLineHeld(CPanelDlg& panel, Pty& line) {
    panel.ShowLineLog();
    QApplication::processEvents();  // the window's first painting is not a wait
    line.FillLine();
    Click(panel, 1007);
    std::vector<double> turns;
    for (const auto until = Clock::now() + 3s; Clock::now() < until;) {
        const auto start = Clock::now();
        QApplication::processEvents();
        panel.LineLogForTest()->Refresh();
        turns.push_back(Ms(Clock::now() - start));
        std::this_thread::sleep_for(10ms);
    }
    Click(panel, 1007);
    panel.LineLogForTest()->hide();
    while (panel.AutoSenderForTest().LiveWorkers() != 0) line.ReadUntilQuiet(10ms);
    line.ReadUntilQuiet(50ms);
    const Summary s = Summarise(turns);
    Row("Line log open, Auto Send held by flow control for 3 s: the interface thread's events and log refresh, longest wait",
        turns.size(), Fixed(s.median, "ms", 3), Fixed(s.worst, "ms", 3), "< 50 ms");
}

void SendAtTopSpeed(CPanelDlg& panel, Pty& line) {
    ChooseBaud(panel, 7);  // 38400
    Click(panel, 1003);
    std::vector<double> samples;
    for (int i = 0; i < 1000; ++i) {
        const auto start = Clock::now();
        Click(panel, 1006);
        samples.push_back(Ms(Clock::now() - start));
        WaitAndDrain(line);
    }
    const Summary s = Summarise(samples);
    Row("\"Send\" (41 bytes) at 38400 bit/s, click to return (10.7 ms on a real line)", samples.size(),
        Fixed(s.median, "ms", 3), Fixed(s.worst, "ms", 3), "panel's share << 10.7 ms");
    Click(panel, 1003);
}

void ChoosePort(CPanelDlg& panel, int index) {
    auto* list = static_cast<QComboBox*>(panel.GetDlgItem(1001));
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// "Send" from the click until all 41 bytes can be read on the far side: a
// local pseudo-terminal (COM2) beside the same behind ser2net over RFC 2217 on
// the loopback (COM3).
void SendLocalAndOverNetwork(CPanelDlg& panel) {
    Pty local, far;
    const int port = FreePort();
    PortMapping com2(2, local.Path());
    PortMapping com3(3, "rfc2217://127.0.0.1:" + std::to_string(port));
    Ser2net server(far.Path(), port);
    const std::pair<const char*, Pty*> routes[] = {{"local pseudo-terminal", &local},
                                                   {"RFC 2217 via ser2net on the loopback", &far}};
    for (int route = 0; route < 2; ++route) {
        ChoosePort(panel, route + 1);
        Click(panel, 1003);
        std::vector<double> samples;
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            Click(panel, 1006);
            if (routes[route].second->Read(41, 2000ms).size() != 41) break;
            samples.push_back(Ms(Clock::now() - start));
        }
        Click(panel, 1003);
        const Summary s = Summarise(samples);
        Row(std::string("\"Send\" click to its 41 bytes on the far side: ") + routes[route].first, samples.size(),
            Fixed(s.median, "ms", 3), Fixed(s.worst, "ms", 3), route == 0 ? "(reference)" : "< 1 ms median on the loopback");
    }
    ChoosePort(panel, 0);
}

}  // namespace

// The display's reader beside a terminal's (libvterm, a parser with a screen,
// 2 x 20 here): the same three streams of 1 MiB in the same slices, the
// readings taken after every slice as the virtual display's monitor does.
void DisplayReader() {
    std::string chunk;
    for (int i = 0; i < 8; ++i)
        chunk += "\x0C" "TOTAL DUE     12.34\x1F$\x01\x02" "CASH          20.00\x1F" "C\x01\x1FX\x04\x1Fr\x01" "CHANGE" +
                 std::string("\x1Fr\x00\x1F" "B  7.66 EUR", 12) + "\x1BR\x02\x1F\x0D";
    constexpr std::size_t Size = 1u << 20;
    auto fill = [](const std::string& unit) {
        std::string s;
        while (s.size() < Size) s += unit;
        s.resize(Size);
        return s;
    };
    // A clear, a row of text, CR LF and the other row: 40 bytes.
    const std::string rows = "\x0C" "TOTAL DUE     12.34\r\n" "CASH         20.00";
    // What a till sends for each item: the cursor put with US $, the row's
    // end cleared with CAN, the code table (ESC t) and the national set
    // (ESC R) chosen again, the brightness (US X) and steady lighting (US E 0)
    // set, around a few characters of text. ESC/POS reads every one of them;
    // CD5220 has neither US $ nor ESC t.
    const std::string till = std::string("\x1F$\x01\x01\x18" "MILK 1L" "\x1F$\x0F\x01" "  1.19"
                                         "\x1Bt\x10\x1BR\x02\x1FX\x04\x1F" "E\x00"
                                         "\x1F$\x01\x02\x18" "TOTAL" "\x1F$\x0E\x02" " 12.34", 54);
    const struct {
        const char* name;
        std::string bytes;
    } streams[] = {{"text alone", std::string(Size, 'A')},
                   {"text with CR LF and a clear every 40 bytes", fill(rows)},
                   {"text and commands (the ESC/POS mix)", fill(chunk)},
                   {"commands around short text, as tills send (ESC/POS)", fill(till)}};
    constexpr int Streams = sizeof streams / sizeof streams[0];
    constexpr std::size_t Slice = 16 * 1024;  // as the virtual display feeds it
    auto rate = [](std::size_t bytes, Clock::time_point start) {
        return bytes / 1e6 / std::chrono::duration<double>(Clock::now() - start).count();
    };
    auto ours = [&](const std::string& bytes, long& allocations) {
        vantrel::display::DisplayModel model;
        model.SetEmulation("ESCPOS");
        std::size_t readings = 0;
        const auto start = Clock::now();
        Counting = true;
        Allocations = 0;
        for (std::size_t at = 0; at < bytes.size(); at += Slice) {
            model.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, std::min(Slice, bytes.size() - at), 9600);
            readings += model.TakeReadings().size();
        }
        Counting = false;
        allocations = Allocations;
        const double r = rate(bytes.size(), start);
        if (readings == 0) std::fprintf(stderr, "the reader said nothing\n");
        return r;
    };
#ifdef VANTREL_BENCH_VTERM
    auto terminal = [&](const std::string& bytes) {
        VTerm* vt = vterm_new(vantrel::display::Rows, vantrel::display::Columns);
        vterm_set_utf8(vt, 0);
        VTermScreen* screen = vterm_obtain_screen(vt);
        vterm_screen_reset(screen, 1);
        const auto start = Clock::now();
        for (std::size_t at = 0; at < bytes.size(); at += Slice)
            vterm_input_write(vt, bytes.data() + at, std::min(Slice, bytes.size() - at));
        const double r = rate(bytes.size(), start);
        VTermScreenCell cell;
        if (!vterm_screen_get_cell(screen, {0, 0}, &cell)) std::fprintf(stderr, "libvterm has no screen\n");
        vterm_free(vt);
        return r;
    };
#endif
    const auto lowest = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    std::vector<double> rates[Streams][2];
    long allocations[Streams] = {};
    for (int round = 0; round < 10; ++round) {
        for (int s = 0; s < Streams; ++s) {
            rates[s][0].push_back(ours(streams[s].bytes, allocations[s]));
#ifdef VANTREL_BENCH_VTERM
            rates[s][1].push_back(terminal(streams[s].bytes));
#endif
        }
    }
    // The slowest run is the figure that counts: "worst" is the lowest rate.
    for (int s = 0; s < Streams; ++s) {
        const std::string what = std::string("1 MiB of ") + streams[s].name + ", slices of 16 KiB";
        Row("Display reader (ESCPOS), readings on: " + what, rates[s][0].size(), Fixed(Summarise(rates[s][0]).median, "MB/s", 1),
            Fixed(lowest(rates[s][0]), "MB/s (lowest)", 1), ">= 1.5 x libvterm");
        if (rates[s][1].empty()) {
            Row("libvterm 2 x 20 screen: " + what, 0, "(not built: no libvterm-dev)", "", "(peer)");
            continue;
        }
        Row("libvterm 2 x 20 screen: " + what, rates[s][1].size(), Fixed(Summarise(rates[s][1]).median, "MB/s", 1),
            Fixed(lowest(rates[s][1]), "MB/s (lowest)", 1), "(peer)");
        Row("Display reader / libvterm: " + std::string(streams[s].name), 1,
            Fixed(Summarise(rates[s][0]).median / Summarise(rates[s][1]).median, "", 2),
            Fixed(lowest(rates[s][0]) / lowest(rates[s][1]), "(lowest / lowest)", 2), ">= 1.5");
    }
    for (int s : {0, 2, 3})
        Row(std::string("Display reader: heap allocations per 1000 bytes of ") + streams[s].name + " (readings taken per slice of 16 KiB)", 1,
            Fixed(allocations[s] * 1000.0 / streams[s].bytes.size(), "", 3), Fixed(double(allocations[s]), "in all", 0),
            "no allocation per byte");
}

// `vantrel send LINE1 LINE2` from process start to exit, against the shell
// doing the same job (stty sets the speed, printf writes the same 41 bytes).
void SendFromScripts(const std::string& vantrel) {
    Pty line;
    const std::string ours = vantrel + " send --port " + line.Path() + " '     THANK YOU      ' '  HAVE A NICE DAY   '";
    const std::string floor = "stty -F " + line.Path() + " 9600 && printf '\\014     THANK YOU        HAVE A NICE DAY   ' > " +
                              line.Path();
    auto timed = [&](const std::string& command) {
        const auto start = Clock::now();
        const int status = std::system(command.c_str());
        const double ms = Ms(Clock::now() - start);
        if (status != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
        if (line.ReadUntilQuiet(0ms).size() != 41) std::fprintf(stderr, "not 41 bytes: %s\n", command.c_str());
        return ms;
    };
    std::vector<double> send, shell;
    for (int i = 0; i < 30; ++i) {
        send.push_back(timed(ours));
        shell.push_back(timed(floor));
    }
    const Summary a = Summarise(send), b = Summarise(shell);
    Row("vantrel send LINE1 LINE2 on a pseudo-terminal, process start to exit", send.size(), Fixed(a.median, "ms", 1),
        Fixed(a.worst, "ms", 1), "<= 5 x the shell");
    Row("The shell doing the same (stty, then printf of the 41 bytes)", shell.size(), Fixed(b.median, "ms", 1),
        Fixed(b.worst, "ms", 1), "(floor)");
    Row("vantrel send / the shell", 1, Fixed(a.median / b.median, "", 2), Fixed(a.worst / b.worst, "", 2), "<= 5");
}

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && std::strcmp(argv[1], "--quick") != 0 && std::strcmp(argv[1], "--reader") != 0)) {
        std::fprintf(stderr, "Usage: bench_panel [--quick | --reader]\n"
                             "Prints the panel's and the display reader's figures as table rows;\n"
                             "--reader prints the reader's rows alone.\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMessageFunction([](const QString& text, const QString&) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    DisplayReader();
    if (argc > 1 && std::strcmp(argv[1], "--reader") == 0) return 0;  // the reader's rows alone
    const std::string self = argv[0];
    SendFromScripts(self.substr(0, self.find_last_of('/') + 1) + "vantrel");
    Pty line;
    PortMapping com1(1, line.Path());
    {
        CPanelDlg panel;
        panel.show();
        Click(panel, 1003);
        ClickToWire(panel, line);
        if (!quick) CyclePace(panel, line, 9600);
        WaitAndDrain(line);
        StopLatency(panel, line);
        AllocationsPerFrame(line);
        LogWhileLineHeld(panel, line);
        Click(panel, 1003);
        SendAtTopSpeed(panel, line);
        SendLocalAndOverNetwork(panel);
    }
    return 0;
}
