// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-display: a virtual 2 x 20 customer display on a pseudo-terminal.
//
//   vantrel-display [--link PATH] [--printer PATH] [--headless] [--emulation NAME]
//                   [--state FILE]
//
// Prints the slave's path on standard output, then shows the display in a
// window, or with --headless prints the two screen lines and the status after
// every change. It writes to the line only what a printer behind it
// (--printer) answers. On Windows, which has no pseudo-terminal, it listens
// on a COM port or replays a recording (LineMain.h), and one of them is needed.
#include "common/Desktop.h"
#include "common/WindowStart.h"
#include "serial/SerialLink.h"
#include "common/ControlCharacters.h"
#include "common/UsageError.h"
#include "virtual-display/DisplayWindow.h"
#include "virtual-display/LineMain.h"
#include "virtual-display/VirtualDisplay.h"

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#ifdef _WIN32
#include "windows/Wide.h"

#include <windows.h>
#endif

namespace {

#ifdef _WIN32
constexpr bool Windows = true;  // "/?" asks for the help, as Windows' own programs take it
#else
constexpr bool Windows = false;
#endif
volatile std::sig_atomic_t Stop = 0;
#ifdef _WIN32
// The console was made just for this start (the Start menu's), not one it was started from.
bool OwnConsole = false;
#endif

// False once standard output is gone (a closed pipe, a full disk): the
// headless display then ends as if asked to.
bool PrintScreen(vantrel::display::VirtualDisplay& display) {
    const auto& model = display.Model();
    std::printf("|%s|\n|%s|\n[%s]\n", model.Line(0).c_str(), model.Line(1).c_str(), vantrel::display::StatusLine(display).c_str());
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int RunHeadless(vantrel::display::VirtualDisplay& display) {
    auto& model = display.Model();
    bool out = PrintScreen(display);
    std::string shown = vantrel::display::StatusLine(display);
    auto last = std::chrono::steady_clock::now();
    while (!Stop && out) {
        bool changed = false;
        if (display.WaitReady(250)) {
            // One bounded slice at a time, so a flood never holds off the end.
            for (const auto& chunk : display.ReadAvailable()) {
                changed = true;
                if (chunk.direction == vantrel::display::Direction::DisplayToTill)
                    std::printf("%s\n", vantrel::display::ToTillLine(chunk).c_str());
                for (const auto& reading : chunk.readings)
                    std::printf("> %s\n", vantrel::display::DescribeReading(reading).c_str());
                if (chunk.readingsLeftOut) std::printf("> ... %zu more readings left out\n", chunk.readingsLeftOut);
                if (!chunk.printer.empty()) std::printf("%s\n", vantrel::display::PrinterLine(chunk).c_str());
            }
        }
        // Time for the model; blinking changes no line, so prints nothing.
        const auto now = std::chrono::steady_clock::now();
        const std::string before = model.Line(0) + model.Line(1);
        model.Elapse(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count()));
        last = now;
        // The printer's counts change also while the host is silent (answers it does not read).
        std::string status = vantrel::display::StatusLine(display);
        changed = changed || model.Line(0) + model.Line(1) != before || status != shown;
        if (changed) {
            out = PrintScreen(display);
            shown = std::move(status);
        }
    }
    return 0;
}

// Whether two paths name one place, the links on the way followed. A path
// that cannot be resolved (a name too long, a folder not to be searched) is
// the same only as itself, written alike: its own use then says what is wrong.
bool SamePath(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    const auto place = [](const std::string& p) {
        std::error_code error;
        auto path = std::filesystem::weakly_canonical(std::filesystem::absolute(p, error), error);
        return error ? std::filesystem::absolute(p, error).lexically_normal() : path;
    };
    const auto first = place(a);
    return !first.empty() && first == place(b);
}

#ifdef _WIN32
// Ctrl+C and Ctrl+Break; a closed console ends the process.
constexpr int EndSignals[] = {SIGINT, SIGTERM, SIGBREAK};
void OnSignal(int signal, void (*handler)(int)) { std::signal(signal, handler); }
#else
constexpr int EndSignals[] = {SIGINT, SIGTERM, SIGHUP};
void OnSignal(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}
#endif

constexpr const char* Usage =
#ifdef _WIN32
    "Usage: vantrel-display --port COMn | --tap TILL DISPLAY | --replay FILE\n"
    "                       [--headless] [--emulation NAME] [--state FILE] [options]\n"
    "  or:  vantrel-display --help | --version\n"
    "A virtual two-line, twenty-position customer display on a COM port, between\n"
    "a till and its display, or fed from a recording: shows what the display\n"
    "shows for every byte that comes, in a window or, with --headless, on\n"
    "standard output. Windows has no pseudo-terminal for a line of the display's\n"
    "own: a port, a tap or a recording is needed.\n"
    "\n"
#else
    "Usage: vantrel-display [--link PATH] [--printer PATH] [--headless]\n"
    "                       [--emulation NAME] [--state FILE]\n"
    "  or:  vantrel-display --help | --version\n"
    "A virtual two-line, twenty-position customer display on a pseudo-terminal:\n"
    "prints the line's path, then shows what the display shows for every byte\n"
    "written there, in a window or, with --headless, on standard output.\n"
    "\n"
    "  --link PATH       make PATH a symbolic link to the display's line\n"
    "  --printer PATH    a printer behind the display: PATH links to a second\n"
    "                    pseudo-terminal where the bytes for the printer come out\n"
#endif
    "  --headless        no window: on standard output, after every change, the\n"
    "                    two screen lines between bars (|TOTAL 3.50   |) and the\n"
    "                    status line in brackets; each reading on a line of its\n"
    "                    own after '> ' (ESC \"QA\" ... CR  upper line); on a\n"
    "                    port, a tap or a replay also the line's notices ('-- '),\n"
    "                    the bytes to the till ('< ') and the ranking ('likely: ')\n"
    "  --emulation NAME  start in this emulation (power-on: DSP800); NAME is one of\n"
    "                    DSP800 ESCPOS ADM787 AEDEX UTC_S UTC_E CD5220 NCR PD6000\n"
    "                    ICD2002\n"
    "  --state FILE      keep the set-up (emulation, own speed, international set,\n"
    "                    code page, kept user-defined characters) in FILE from one\n"
    "                    start to the next; a FILE that cannot be used is never\n"
    "                    written, and the set-up is then kept in memory only\n"
    "  --help            print this help and exit\n"
    "  --version         print the version and exit\n"
    "\n"
    "Exit status: 0 when ended by a signal or a closed window, 1 when the display\n"
    "cannot start, 2 for a wrong command line.\n";

// The line modes' part of the usage.
constexpr const char* LineUsage =
#ifdef _WIN32
    "\n"
    "On a serial port, between a till and its display, or from a recording\n"
    "(Windows has no pseudo-terminal: one of them is needed):\n"
    "       vantrel-display --port NAME [--baud N|auto] [options]\n"
    "       vantrel-display --tap TILL DISPLAY [--baud N] [options]\n"
    "       vantrel-display --replay FILE [--replay-speed X] [options]\n"
    "  --port NAME       listen on a COM port: COM1 to COM9 (mapped as the panel\n"
    "                    maps them), any other COMn, or \\\\.\\COMn\n"
    "  --baud N|auto     the port's speed (50 ... 115200 ... 4000000; default the\n"
    "                    display's own); auto finds the till's speed\n"
    "  --tap TILL DISPLAY  stand between a till and its display: every byte passed\n"
    "                    on both ways, the till's read and shown\n"
#else
    "\n"
    "On a serial port, between a till and its display, or from a recording:\n"
    "       vantrel-display --port NAME [--baud N|auto] [options]\n"
    "       vantrel-display --tap TILL DISPLAY [--baud N] [options]\n"
    "       vantrel-display --replay FILE [--replay-speed X] [options]\n"
    "  --port NAME       listen on a serial port, not a pseudo-terminal: COM1 to\n"
    "                    COM9 (mapped as the panel maps them) or a device path\n"
    "  --baud N|auto     the port's speed (50 ... 115200 ... 4000000; default the\n"
    "                    display's own); auto finds the till's speed on a real port\n"
    "  --tap TILL DISPLAY  stand between a till and its display: every byte passed\n"
    "                    on both ways, the till's read and shown\n"
#endif
    "  --record FILE     write every chunk with its time and direction to FILE\n"
    "  --force           let --record replace a FILE that exists\n"
    "  --replay FILE     feed a recording into the display with its timing\n"
    "  --replay-speed X  the replay X times as fast; 0 as fast as it can\n"
    "  --json            with --headless: one JSON object a line instead, from a\n"
    "                    'start' event (format version, line, path) to an 'end'\n"
    "                    event (counts): every reading with its kind, screen\n"
    "                    change, notice and ranking, the bytes passed to the\n"
    "                    printer and the bytes to the till; see json.md in the\n"
    "                    documentation\n";

int UsageError(const std::string& what) { return vantrel::UsageError("vantrel-display", what); }

// The help or the version on standard output. One that cannot be written (a
// pipe its reader closed, a full disk) fails as GNU tools' does: one line and
// status 1, never a death by SIGPIPE.
int Print(std::initializer_list<const char*> texts) {
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
#endif
    for (const char* text : texts) std::fputs(text, stdout);
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "vantrel-display: write error: %s\n", std::strerror(errno ? errno : EIO));
    return 1;
}

}  // namespace

static int Run(int argc, char** argv) {
    // What the line has to say (a port mapping's complaints), on standard error.
    vantrel::SetMessageSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    std::string link, printer, emulation, state;
    bool headless = false;
    vantrel::display::LineOptions line;
    for (int i = 1; i < argc; ++i) {
        // The display on a port, a tap or a recording (LineMain.h).
        if (const int taken = vantrel::display::TakeLineOption(argc, argv, i, line)) {
            if (taken < 0) return 2;
            continue;
        }
        std::string* value = !std::strcmp(argv[i], "--link")        ? &link
                             : !std::strcmp(argv[i], "--printer")   ? &printer
                             : !std::strcmp(argv[i], "--emulation") ? &emulation
                             : !std::strcmp(argv[i], "--state")     ? &state
                                                                    : nullptr;
        if (value && i + 1 == argc) {
            return UsageError(std::string("option '") + argv[i] + "' requires an argument");
        } else if (value) {
            if (!value->empty()) return UsageError(std::string(argv[i]) + ": given more than once");
            *value = argv[++i];
            if (value->empty()) return UsageError(std::string(argv[i - 1]) + ": an empty path or name");
        } else if (!std::strcmp(argv[i], "--headless")) headless = true;
        else if (!std::strcmp(argv[i], "--help") || (Windows && !std::strcmp(argv[i], "/?"))) return Print({Usage, LineUsage});
        else if (!std::strcmp(argv[i], "--version")) return Print({"vantrel-display " VANTREL_VERSION "\n"}); else {
            return UsageError((argv[i][0] == '-' ? "unrecognized option " : "extra operand ") + vantrel::Quoted(argv[i]));
        }
    }
#ifdef _WIN32
    if (!line.External())
        return UsageError("a port is needed: --port COMn, --tap TILL DISPLAY or --replay FILE (Windows has no pseudo-terminal for the display's own line)");
#endif
    if (!vantrel::display::CheckLineOptions(line, headless, !link.empty() || !printer.empty())) return 2;
    // Two options naming one path would leave one of them without it.
    const std::pair<const char*, const std::string*> paths[] = {
        {"--link", &link}, {"--printer", &printer}, {"--state", &state}, {"--record", &line.record}};
    for (std::size_t a = 0; a < std::size(paths); ++a)
        for (std::size_t b = a + 1; b < std::size(paths); ++b)
            if (!paths[a].second->empty() && SamePath(*paths[a].second, *paths[b].second)) {
                return UsageError(std::string(paths[a].first) + " and " + paths[b].first + " name the same path " +
                                  vantrel::Quoted(*paths[b].second));
            }
    try {
        // Both modes end on SIGINT, SIGTERM and SIGHUP through a flag, so the
        // link is removed; a reader of standard output that goes away is no signal.
        for (int signal : EndSignals) OnSignal(signal, [](int) { Stop = 1; });
#ifndef _WIN32
        OnSignal(SIGPIPE, SIG_IGN);
#endif
        // Declared first, so it outlives the model that hands it set-ups; its
        // end saves the latest one, on a signal too.
        std::optional<vantrel::display::StateSaver> saver;
        // On a port, a tap or a replay the display has no pseudo-terminal of its own.
#ifdef _WIN32
        const auto owned = std::make_unique<vantrel::display::VirtualDisplay>(vantrel::display::VirtualDisplay::ExternalLine{});
#else
        const auto owned = line.External() ? std::make_unique<vantrel::display::VirtualDisplay>(vantrel::display::VirtualDisplay::ExternalLine{})
                                           : std::make_unique<vantrel::display::VirtualDisplay>();
#endif
        vantrel::display::VirtualDisplay& display = *owned;
        auto& model = display.Model();
        std::optional<std::string> saveTo;  // none: no file, or a refused one that is never written
        if (!state.empty()) saveTo = vantrel::display::LoadSetup(state, model);
        if (!emulation.empty() && !model.SetEmulation(emulation.c_str())) {
            return UsageError("unknown emulation " + vantrel::Quoted(emulation));
        }
        if (saveTo) {
            // Saved off this thread, a few times a second at most: a host that
            // sends configuration frames in a row never waits for the disk.
            saver.emplace(*saveTo);
            model.OnSetupChanged([&saver](const vantrel::display::Setup& setup) { saver->Save(setup); });
        }
        // Everything that can fail comes before the link is made, so a failed
        // start leaves nothing behind.
        std::unique_ptr<QApplication> app;
        if (!headless) {
            app = vantrel::StartWindow(argc, argv, "vantrel-display", "; use --headless");
            if (!app) return 1;
        }
#ifndef _WIN32
        if (!printer.empty()) display.AttachPrinter(printer);
#endif
        std::unique_ptr<vantrel::display::LineSession> session;
        if (line.External() || !line.record.empty()) session = vantrel::display::StartLine(line, display, !emulation.empty());
#ifndef _WIN32
        if (!link.empty()) display.Publish(link);
#endif
        // With --json the path is in the first event, never a line of its own.
        if (!line.External() && !line.json) std::printf("%s\n", display.SlavePath().c_str());
        std::fflush(stdout);
        if (headless && (line.External() || line.json)) return vantrel::display::RunLineHeadless(display, line, Stop);
        if (headless) return RunHeadless(display);
#ifdef _WIN32
        // The window alone: a console that was made just for this start (the
        // Start menu's) goes; one it was started from stays.
        if (OwnConsole) FreeConsole();
#endif
        vantrel::display::DisplayWindow window(display, session && line.External() ? session->label : std::string());
        window.show();
        QTimer stopCheck;
        QObject::connect(&stopCheck, &QTimer::timeout, [] {
            if (Stop) QCoreApplication::quit();
        });
        stopCheck.start(100);
        return app->exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantrel-display: %s\n", vantrel::Escaped(e.what()).c_str());  // names as given, escaped
        return 1;
    }
}

#ifdef _WIN32
// Whether a failed start is to wait before its console closes: a person
// started the program with a double-click, so the console is its own, shown,
// and both its standard input and its standard error; never without a window
// to read it in, with redirected handles (as schedulers and test runners
// start programs) or headless.
bool WaitBeforeClosing(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--headless")) return false;
    const auto console = [](DWORD which) {
        DWORD mode = 0;
        return GetConsoleMode(GetStdHandle(which), &mode) != 0;
    };
    const HWND window = GetConsoleWindow();
    return OwnConsole && window && IsWindowVisible(window) && console(STD_INPUT_HANDLE) && console(STD_ERROR_HANDLE);
}

// The command line in UTF-16, as UTF-8 for the rest.
int wmain(int argc, wchar_t** wargv) {
    // A library loaded at run time comes from the program's folder or
    // Windows' own, never from the working folder or PATH.
    vantrel::RestrictLibrarySearch();
    // The program's text is UTF-8: so is the console's while it runs.
    const UINT consoleOutput = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    vantrel::windows::Utf8Arguments arguments(argc, wargv);
    DWORD processes[2];
    OwnConsole = GetConsoleProcessList(processes, 2) == 1;
    const bool wait = WaitBeforeClosing(argc, arguments.Argv());
    const int status = Run(argc, arguments.Argv());
    // Such a console closes with the program: a failed start waits, so that its reason can be read.
    if (status != 0 && wait) {
        std::fputs("Press Enter to close this window.\n", stderr);
        std::getchar();
    }
    if (consoleOutput) SetConsoleOutputCP(consoleOutput);
    return status;
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
