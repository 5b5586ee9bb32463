// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include "cli/SendCommand.h"
#include "common/ControlCharacters.h"
#include "common/UsageError.h"
#include "serial/NetPort.h"
#include "serial/Platform.h"
#include "serial/PortDiscovery.h"
#include "serial/SerialLink.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>

namespace vantrel {

namespace {

// The help's words of each platform.
constexpr struct {
    Platform platform;
    PlatformHelp words;
} HelpWords[] = {
    {Platform::Posix,
     {"$VANTREL_COMn",
      "COMn=DEVICE in $XDG_CONFIG_HOME/vantrel/ports.conf (default\n"
      "~/.config/vantrel/ports.conf)",
      "; the n-th serial port found (built-in UARTs\n"
      "first, then the others by their physical connection); /dev/ttyS<n-1>.\n"
      "Opening a serial device needs membership of the dialout group.\n",
      "; a network port opens its far device",
      "path, or an rfc2217:// or socket:// URL; default COM1\n"}},
    {Platform::Windows,
     {"%VANTREL_COMn%", "COMn=DEVICE in %APPDATA%\\Vantrel\\ports.conf",
      "; else Windows' own COMn.\n"
      "COM10 and above, and \\\\.\\ device paths, open with vantrel send --port.\n",
      "", "path (COM10 and above, \\\\.\\COMn); default COM1\n"}},
};

}  // namespace

const PlatformHelp& ThisPlatformHelp() {
    return std::find_if(std::begin(HelpWords), std::end(HelpWords), [](const auto& w) { return w.platform == ThisPlatform; })
        ->words;
}

namespace {

std::string Usage() {
    const PlatformHelp& words = ThisPlatformHelp();
    return std::string("Usage: vantrel [OPTION]\n"
                       "  or:  vantrel send [OPTION]... [LINE1 [LINE2]]   (see vantrel send --help)\n"
                       "Test and configuration panel for point-of-sale customer displays.\n"
                       "With no option, vantrel starts the panel.\n"
                       "\n"
                       "      --list-ports  show the device each of COM1 to COM9 opens, and exit;\n"
                       "                    no device is opened\n"
                       "      --probe       with --list-ports: open each device, and close it, to\n"
                       "                    tell whether it can be opened now (this raises and\n"
                       "                    drops DTR and RTS") +
           words.probeNetwork +
           ")\n"
           "      --help        display this help and exit\n"
           "      --version     output version information and exit\n"
           "\n"
           "COMn opens, first match wins: the device named by " +
           words.environment + "; a line\n" + words.mappingFile + words.fallback;
}

// Options of the window toolkit itself, which it takes with a value or alone.
constexpr std::string_view ToolkitOptionsWithValue[] = {
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-qwindowtitle",
    "-qwindowicon", "-style", "-stylesheet", "-session", "-display", "-geometry"};
constexpr std::string_view ToolkitOptions[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};

// `probed`: the device was opened; otherwise only looked at ("present").
const char* ShortFailure(OpenFailure failure, const std::string& device, bool probed) {
    switch (failure) {
    case OpenFailure::None: return probed ? "ready" : "present";
    case OpenFailure::NoDevice: return IsNetworkPort(device) ? "no answer" : "no such device";
    case OpenFailure::Busy: return "busy";
    case OpenFailure::AccessDenied: return "access denied";
    case OpenFailure::NotATerminal: return "not serial";
    case OpenFailure::Other: break;
    }
    return "cannot open";
}

// How many terminal columns `text` (valid UTF-8) takes: one a character, two
// for the wide ones of East Asian scripts.
std::size_t DisplayWidth(std::string_view text) {
    constexpr std::pair<char32_t, char32_t> Wide[] = {
        {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xA000, 0xA4CF},
        {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE30, 0xFE4F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x20000, 0x3FFFD}};
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Step step = NextUtf8(text, at);
        at += step.length;
        width += std::any_of(std::begin(Wide), std::end(Wide), [&](const auto& r) { return step.c >= r.first && step.c <= r.second; }) ? 2 : 1;
    }
    return width;
}

// `text`, escaped, padded with spaces to `width` columns; a wider text keeps
// its width and one space.
std::string Column(const std::string& text, std::size_t width) {
    const std::string shown = Escaped(text);
    const std::size_t used = DisplayWidth(shown);
    return shown + std::string(used < width ? width - used : 1, ' ');
}

void ListPorts(bool probe) {
    const PortAssignments ports = ResolvePorts();
    // One row's columns, the heading's too: name, device, source, state, then the description.
    auto row = [](const std::string& name, const std::string& device, const std::string& from, const std::string& state) {
        return Column(name, 6) + Column(device, 41) + Column(from, 13) + Column(state, 17);
    };
    // What a device or a server says of itself is shown, never obeyed.
    auto print = [](const std::string& text) { std::puts(Escaped(text.substr(0, text.find_last_not_of(' ') + 1)).c_str()); };
    std::puts((row("NAME", "DEVICE", "FROM", "STATE") + "DESCRIPTION").c_str());
    for (int i = 0; i < PortCount; ++i) {
        const PortAssignment& p = ports[i];
        const bool network = IsNetworkPort(p.device);
        // Without --probe, what can be told without opening anything, by
        // the open's own rules: the kind of node, the form of the address.
        const PortProbe look = probe ? ProbePort(p.device) : LookAtPort(p.device);
        const std::string state =
            probe || !network || look.failure != OpenFailure::None ? ShortFailure(look.failure, p.device, probe) : "network";
        std::string text = row("COM" + std::to_string(i + 1), p.device, MapSourceName(p.source), state);
        // A port that can't be opened says why, in the open's own words, when they say more.
        if (look.failure != OpenFailure::None && !look.detail.empty()) text += look.detail;
        else if (p.record) text += DescribeRecord(*p.record);
        print(text);
    }
    // The ports that no name of the list reaches (on Windows COM10 and up), and the line that would.
    const std::vector<PortRecord> unreached = UnreachedPorts(ports, DiscoverPorts());
    for (const PortRecord& r : unreached) {
        const OpenFailure failure = (probe ? ProbePort(r.device) : LookAtPort(r.device)).failure;
        print(row("-", r.device, "discovered", ShortFailure(failure, r.device, probe)) + DescribeRecord(r));
    }
    if (!unreached.empty()) print("A port marked - is not in the panel's list. " + ReachHint(ports, unreached.front().device));
}

// Standard output that could not be written (a full disk, a closed pipe) is a
// failure, as for GNU tools: one line and status 1. A closed pipe is such a
// failure too, never a death by SIGPIPE: a send then still puts every action on
// the line, on every kind of port, and a device's exclusive mode is cleared as
// at any end.
void OutputFailsInsteadOfKilling() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

int FinishOutput(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "vantrel: write error: %s\n", std::strerror(errno ? errno : EIO));
    return 1;
}

}  // namespace

std::optional<int> RunCommandLine(int argc, char** argv) {
    // What the line has to say, on standard error (the panel installs its own).
    SetMessageSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    if (argc > 1 && std::string_view(argv[1]) == "send") {
        OutputFailsInsteadOfKilling();
        return FinishOutput(RunSend(argc - 1, argv + 1));
    }
    enum class Action { Panel, Help, Version, ListPorts } action = Action::Panel;
    bool probe = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") action = Action::Help;
        else if (arg == "--version") action = action == Action::Panel ? Action::Version : action;
        else if (arg == "--list-ports") action = action == Action::Panel ? Action::ListPorts : action;
        else if (arg == "--probe") probe = true;
        else if (std::find(std::begin(ToolkitOptionsWithValue), std::end(ToolkitOptionsWithValue), arg) !=
                     std::end(ToolkitOptionsWithValue) && i + 1 < argc) ++i;
        else if (std::find(std::begin(ToolkitOptions), std::end(ToolkitOptions), arg) == std::end(ToolkitOptions)) {
            return UsageError("vantrel", "unrecognized option " + Quoted(arg));
        }
    }
    if (probe && action != Action::ListPorts && action != Action::Help) {
        return UsageError("vantrel", "'--probe' works only with '--list-ports'");
    }
    if (action == Action::Panel) return std::nullopt;  // the panel's signals stay its own
    OutputFailsInsteadOfKilling();
    switch (action) {
    case Action::Panel: return std::nullopt;
    case Action::Help: std::fputs(Usage().c_str(), stdout); break;
    case Action::Version: std::printf("vantrel %s\n", VANTREL_VERSION); break;
    case Action::ListPorts: ListPorts(probe); break;
    }
    return FinishOutput(0);
}

}  // namespace vantrel
