// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/SendCommand.h"

#include "serial/WriteNames.h"
#include "cli/CommandLine.h"
#include "commands/CommandFrames.h"
#include "common/ControlCharacters.h"
#include "common/UsageError.h"
#include "content/CharTest.h"
#include "content/LineMessage.h"
#include "display/DisplayModel.h"
#include "serial/NetPort.h"
#include "serial/Platform.h"
#include "serial/PortDiscovery.h"
#include "serial/PortTables.h"
#include "serial/SerialLink.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>
#include <utility>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

namespace {

constexpr const char* UsageHead =
    "Usage: vantrel send [OPTION]... [--] [LINE1 [LINE2]]\n"
    "Put on the line what the panel's buttons put there, in the order given.\n"
    "\n"
    "      --port NAME       COM1 to COM9 (mapped as the panel maps them), a device\n"
    "                        ";
constexpr const char* UsageRest =
    "      --baud N          300, 600, 1200, 2400, 4800, 9600, 19200 or 38400;\n"
    "                        default 9600\n"
    "      --sample N        what \"Send\" sends with the sample text N (1 to 3)\n"
    "      --clear, --reset, --demo, --clear-demo, --full-light\n"
    "                        the buttons of those names\n"
    "      --page N          a character-set page: 80, 90, ... F0 (hex)\n"
    "      --set LABEL       an option box by its label in any case (CD5220, 19200,\n"
    "                        USA, pc437, ...), at most one a group; all are sent\n"
    "                        together where the first is given, as \"Send Command\"\n"
    "                        sends them\n"
    "      --bytes HEX       raw bytes, such as \"1B 40 0C\": each byte one or two hex\n"
    "                        digits, apart by spaces, commas or colons; at most\n"
    "                        1024 bytes\n"
    "      --replay FILE     the till's bytes of a vantrel-display recording, with\n"
    "                        their timing, at the speed of --baud\n"
    "      --explain         print each write, its bytes and how the display reads them\n"
    "      --emulation NAME  the display's emulation for --explain (default: the\n"
    "                        power-on DSP800, then as the frames sent set it)\n"
    "      --dry-run         print as --explain does, and open no port\n"
    "      --help            display this help and exit\n"
    "      --version         output version information and exit\n"
    "      --                the options end: what follows are lines, even one\n"
    "                        that starts with '-' (vantrel send -- -5.00 OFF)\n"
    "\n";
constexpr const char* UsageEnd =
    "LINE1 and LINE2: what \"Send\" sends: a clear, then both lines cut or padded to\n"
    "20 positions (Windows-1252, or GBK under a Chinese locale, where a character\n"
    "that does not fit whole is left out); a missing LINE2 is blank. What is no\n"
    "UTF-8, and a control character (a tab, ESC, ...), is sent as '?'.\n"
    "\n";
// The exit statuses, where there are network ports and where there are none (Windows).
constexpr const char* UsageExit[] = {
    "Exit status: 0 every write went out (on a network port: the server took every\n"
    "byte, which is all it tells), 1 a write failed (to the line or to standard\n"
    "output), 2 a usage error, 3 the port could not be opened.\n",
    "Exit status: 0 every write went out, 1 a write failed (to the line or to\n"
    "standard output), 2 a usage error, 3 the port could not be opened.\n"};
static_assert(TxBufferSize == 1024, "the usage gives --bytes' limit");

// A label as the option boxes show it: without the trailing space some have ("Spain1 ").
std::string Trimmed(const char* label) {
    std::string s = label;
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

// Labels alike but for the case of ASCII letters ("cd5220", "Pc437").
bool SameLabel(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// Every option box's label by group, as the usage lists them, within 80 columns.
std::string Labels() {
    constexpr std::pair<char, const char*> Groups[] = {
        {'C', "command styles:    "}, {'B', "speeds:            "},
        {'S', "international sets:"}, {'F', "code pages:        "}};
    std::string all = "LABEL of --set, in any case:\n";
    for (const auto& [group, words] : Groups) {
        std::string line = std::string("  ") + words;
        for (const OptionFrame& f : OptionFrameTable) {
            if (f.group != group) continue;
            if (line.size() + 1 + Trimmed(f.label).size() > 79) all += line + "\n", line = std::string(21, ' ');
            line += " " + Trimmed(f.label);
        }
        all += line + "\n";
    }
    return all + "\n";
}

std::string Usage() {
    return std::string(UsageHead) + ThisPlatformHelp().portNames + UsageRest + Labels() + UsageEnd +
                       UsageExit[ThisPlatform == Platform::Windows];
}

// Called after each write of an action that makes many (a replay): the run
// takes account of the writes so far; false once one of them failed.
using Settle = std::function<bool()>;

struct Action {
    WriteSource source;
    std::function<void(const Settle&)> run;
    const char* name = "bytes";  // the cause of writes with no panel control (--bytes, --replay)
};

int UsageError(const std::string& problem) { return vantrel::UsageError("vantrel send", problem); }

// A number as the usage writes it: digits of `base` only, with no sign, blank
// or leading zero (so "09600", "+1", " 80" and "0x80" are none).
bool ParseNumber(std::string_view text, int base, int& value) {
    const auto digit = [base](char c) {
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return (lower >= '0' && lower <= '9' && lower - '0' < base) || (base > 10 && lower >= 'a' && lower < 'a' + base - 10);
    };
    if (text.empty() || text.size() > 5 || (text[0] == '0' && text.size() > 1) || !std::all_of(text.begin(), text.end(), digit))
        return false;
    value = std::stoi(std::string(text), nullptr, base);
    return true;
}

// "1B 40 0C", "1B,40" or "1b:4:c": each byte one or two hex digits, apart
// from the next by spaces, commas or colons. The problem, or nothing.
std::string ParseHex(const char* text, std::vector<std::uint8_t>& bytes) {
    constexpr std::string_view separators = " ,:";
    const std::string_view all = text;
    for (std::size_t at = all.find_first_not_of(separators); at != std::string_view::npos;
         at = all.find_first_not_of(separators, at)) {
        const std::string_view byte = all.substr(at, all.find_first_of(separators, at) - at);
        const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        if (byte.size() > 2 || !std::all_of(byte.begin(), byte.end(), hex))
            return "not a hex byte: " + Quoted(byte) + (byte.size() < all.size() ? " in " + Quoted(text) : "") +
                   " (a byte is one or two hex digits, apart from the next by spaces, commas or colons)";
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(byte), nullptr, 16)));
        at += byte.size();
    }
    if (bytes.empty()) return "no hex bytes in " + Quoted(text);
    if (bytes.size() > TxBufferSize)
        return "more than " + std::to_string(TxBufferSize) + " bytes (" + std::to_string(bytes.size()) + ") in one --bytes";
    return {};
}

// The command line's UTF-8 as UTF-16, as the panel's fields hold text. Each
// sequence that is no UTF-8 (a stray byte, a cut sequence, an overlong form
// such as C0 9B for ESC, an encoded surrogate, a value past U+10FFFF) becomes
// one U+FFFD, which the encoders send as '?'.
std::u16string Utf16(const char* text) {
    std::u16string out;
    const std::string_view all = text;
    for (std::size_t at = 0; at < all.size();) {
        const Utf8Step step = NextUtf8(all, at);
        at += step.length;
        if (step.c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((step.c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((step.c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(step.c);
        }
    }
    return out;
}

// A write by its cause and, in an action of several, its place: "Send, the
// clear", "Send, line 2", "Demo, write 2", "bytes", "replay, write 3".
std::string WriteName(const LoggedWrite& w, std::size_t index, const char* name) {
    constexpr const char* SendFrames[] = {"the clear", "line 1", "line 2"};
    const std::string cause = SourceWords(w.source, 0, name);
    if (w.source.controlId == SendId && index < std::size(SendFrames)) return cause + ", " + SendFrames[index];
    return index ? cause + ", write " + std::to_string(index + 1) : cause;
}

// Each write goes through the display's reader. With `explain`, each is
// printed: its cause, bytes and how the display reads them; a failed one says
// why, and the display reads nothing of it; one that went to a network server
// says whether the server had acknowledged it or it was only handed to the network. The speed the display expects when a write went at
// another one after a speed frame of this run (the display's speed is no
// longer `startBaud`), or 0: without a speed frame the run knows nothing of
// the display's speed.
int Follow(const std::vector<LoggedWrite>& writes, display::DisplayModel& reader, int baud, int startBaud, bool explain,
           const char* name) {
    int garbled = 0;
    for (const LoggedWrite& w : writes) {
        if (explain) std::printf("%s: %s\n", SourceWords(w.source, 0, name).c_str(), HexBytes(w.bytes).c_str());
        if (w.result != WriteResult::Ok) {
            if (explain) std::printf("    FAILED, not written: %s\n", DescribeWriteResult(w.result, w.notTaken).c_str());
            continue;
        }
        if (reader.SpeedMismatch() && reader.OwnBaud() != startBaud && !garbled) garbled = reader.OwnBaud();
        if (explain && (w.takenByServer || w.handedToNetwork)) std::printf("    %s\n", DescribeNetworkWrite(w.takenByServer).c_str());
        reader.Feed(reinterpret_cast<const std::uint8_t*>(w.bytes.data()), w.bytes.size(), baud);
        const std::vector<display::Reading> readings = reader.TakeReadings();
        if (!explain) continue;
        for (const display::Reading& r : readings) std::printf("    %s\n", display::DescribeReading(r).c_str());
        if (reader.SpeedMismatch())
            std::printf("    (the display now expects %d bit/s: at %d bit/s it shows garbage)\n", reader.OwnBaud(), baud);
    }
    return garbled;
}

struct TakenWrite {
    std::string name;
    std::size_t size;
};

// The writes that a failed end concerns: those that hold the last `notTaken`
// bytes, which the server did not take; after a dropped connection, any that
// the server had taken, since which of them it passed on is not known.
std::string EndPlace(const std::vector<TakenWrite>& taken, WriteResult end, std::uint32_t notTaken) {
    if (taken.empty()) return {};
    std::size_t first = taken.size(), bytes = 0;
    if (end == WriteResult::NotTaken)
        while (first > 0 && bytes < notTaken) bytes += taken[--first].size;
    else first = 0;
    const std::size_t count = taken.size() - first;
    if (end != WriteResult::NotTaken)
        return "; which of the " + std::to_string(count) + " writes from " + taken[first].name +
               " on the server passed on is not known";
    if (count == 1) return "; the write that failed: " + taken[first].name;
    return "; the writes that failed: the last " + std::to_string(count) + ", from " + taken[first].name + " on";
}

// A dry run's port: it takes every write and sends it nowhere.
class NoPort final : public Port {
public:
    PortResult Write(const std::uint8_t*, std::size_t, int) override { return {}; }
};

}  // namespace

// Whether `path` is a regular file, or nothing (whose open says so): told
// without opening it, which for a FIFO would wait for a writer and for a
// serial device would move its modem lines.
static bool RegularFile(const char* path) {
    struct stat st {};
    return stat(path, &st) != 0 || S_ISREG(st.st_mode);
}

// The till's bytes of a recording, with their timing unless `timed` is
// false (a dry run, which waits for nothing); the first write that fails ends
// it (the line log says which). How many writes went.
std::size_t ReplayTill(display::RecordingReader& recording, bool timed, const Settle& settle) {
    const auto start = std::chrono::steady_clock::now();
    display::RecordedChunk chunk;
    std::size_t writes = 0;
    while (recording.Next(chunk)) {
        if (chunk.direction != 'T') continue;
        if (timed)
            std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                  std::chrono::duration<double, std::milli>(chunk.ms)));
        ++writes;
        if (!WriteBytes(chunk.bytes.data(), chunk.bytes.size()) || !settle()) break;
    }
    return writes;
}

int RunSend(int argc, char** argv) {
    static const option Options[] = {
        {"port", required_argument, nullptr, 'p'},   {"baud", required_argument, nullptr, 'b'},
        {"sample", required_argument, nullptr, 's'}, {"clear", no_argument, nullptr, 'c'},
        {"reset", no_argument, nullptr, 'r'},        {"demo", no_argument, nullptr, 'd'},
        {"clear-demo", no_argument, nullptr, 'D'},   {"full-light", no_argument, nullptr, 'f'},
        {"page", required_argument, nullptr, 'g'},   {"set", required_argument, nullptr, 'S'},
        {"bytes", required_argument, nullptr, 'x'},  {"explain", no_argument, nullptr, 'e'},
        {"dry-run", no_argument, nullptr, 'n'},      {"emulation", required_argument, nullptr, 'E'},
        {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, 'V'},
        {"replay", required_argument, nullptr, 'P'},
        {nullptr, 0, nullptr, 0}};
    std::string port = "COM1", emulation = "DSP800";
    int baud = 9600;
    bool explain = false, dryRun = false;
    std::vector<Action> actions;
    std::vector<const OptionFrame*> options;  // the --set boxes, one a group
    bool optionsPlaced = false;
    const auto button = [&](int controlId, void (*send)()) { actions.push_back({{controlId}, [send](const Settle&) { send(); }}); };
    // Besides a failed write, what ended an action early; the rest is not sent.
    std::string cutShort;
    // --port, --baud and --emulation name one thing: given twice, which is meant is not known.
    bool portGiven = false, baudGiven = false, emulationGiven = false;
    const auto once = [](bool& given) { return !std::exchange(given, true); };
    std::vector<const char*> lines;
    opterr = 0;
    optind = 0;  // getopt starts afresh
    // "-": the arguments in their order, lines too (code 1), so that the
    // argument an error names is the one at `at`; "--" ends the options.
    for (int c, at = 1; (c = getopt_long(argc, argv, "-:", Options, nullptr)) != -1; at = optind) {
        int n = 0;
        switch (c) {
        case 1: lines.push_back(optarg); break;
        case 'p':
            if (!once(portGiven)) return UsageError("--port: given more than once");
            if (const NamedPort named = ReadPortName(optarg, ThisPlatform); !named.refusal.empty())
                return UsageError(named.refusal);
            port = optarg;
            break;
        case 'b': {
            if (!once(baudGiven)) return UsageError("--baud: given more than once");
            const auto rate = std::find(BaudRates.begin(), BaudRates.end(), ParseNumber(optarg, 10, n) ? n : 0);
            if (rate == BaudRates.end()) return UsageError("no such speed: " + Quoted(optarg));
            baud = *rate;
            break;
        }
        case 's': {
            if (!ParseNumber(optarg, 10, n) || n < 1 || n > 3) return UsageError("no such sample: " + Quoted(optarg));
            const SampleText& sample = SampleTexts[static_cast<std::size_t>(n - 1)];
            actions.push_back({{SendId}, [&sample](const Settle&) { WriteTwoLines(Utf16(sample.line1), Utf16(sample.line2), CodePageFromLocale()); }});
            break;
        }
        case 'c': button(CleanId, SendCleanFrame); break;
        case 'r': button(ResetId, SendResetFrame); break;
        case 'd': button(DemoId, SendDemoFrame); break;
        case 'D': button(ClearDemoId, SendClearDemoFrame); break;
        case 'f': button(FullLightId, SendFullLightFrame); break;
        case 'g': {
            if (!ParseNumber(optarg, 16, n) || n < 0x80 || n > 0xF0 || n % 16)
                return UsageError("no such page: " + Quoted(optarg) + " (80, 90, ... F0)");
            const int page = (n - 0x80) / 16;
            actions.push_back({{CharTestId, nullptr, page}, [page](const Settle&) {
                                   CharTestPage = static_cast<unsigned char>(page);
                                   SendCharTestPage();
                               }});
            break;
        }
        case 'S': {
            const OptionFrame* frame = nullptr;
            for (const OptionFrame& f : OptionFrameTable)
                if (SameLabel(Trimmed(f.label), Trimmed(optarg))) frame = &f;
            if (!frame) {
                // One line, as every usage error: the labels follow it, in any case.
                std::string labels;
                for (const OptionFrame& f : OptionFrameTable) labels += " " + Trimmed(f.label);
                return UsageError("no option box is labelled " + Quoted(optarg) + "; the labels, in any case:" + labels);
            }
            for (const OptionFrame* f : options)
                if (f->group == frame->group)
                    return UsageError(std::string("'") + f->label + "' and " + Quoted(optarg) + " are of one group");
            options.push_back(frame);
            if (!optionsPlaced) {  // all of them go here, in the panel's order
                optionsPlaced = true;
                actions.push_back({{SendCommandId}, [&options](const Settle&) {
                                       for (const OptionFrame& f : OptionFrameTable)
                                           if (std::find(options.begin(), options.end(), &f) != options.end()) {
                                               const WriteSourceScope source({SendCommandId, f.label});
                                               SendOptionFrame(f);
                                           }
                                   }});
            }
            break;
        }
        case 'x': {
            std::vector<std::uint8_t> bytes;
            if (const std::string problem = ParseHex(optarg, bytes); !problem.empty()) return UsageError(problem);
            actions.push_back({{}, [bytes](const Settle&) {
                                   std::copy(bytes.begin(), bytes.end(), TxBuffer.begin());
                                   WriteFrame(bytes.size());
                               }});
            break;
        }
        case 'P': {
            auto recording = std::make_shared<display::RecordingReader>();
            std::string problem, note;
            if (!RegularFile(optarg)) return UsageError("--replay " + Quoted(optarg) + ": not a regular file");
            if (!recording->Open(optarg, problem, note)) return UsageError("--replay " + problem);
            if (!note.empty()) std::fprintf(stderr, "vantrel send: --replay %s\n", note.c_str());
            const std::string name = Quoted(optarg);
            actions.push_back({{}, [recording, name, &cutShort, &dryRun](const Settle& settle) {
                                   const std::size_t writes = ReplayTill(*recording, !dryRun, settle);
                                   if (recording->Changed())
                                       cutShort = "--replay " + name + " changed while it was replayed: " +
                                                  (writes ? "what it held after write " + std::to_string(writes) : "what it held") +
                                                  " was not sent";
                               }, "replay"});
            break;
        }
        case 'e': explain = true; break;
        case 'n': dryRun = explain = true; break;
        case 'E': {
            display::DisplayModel probe;
            if (!once(emulationGiven)) return UsageError("--emulation: given more than once");
            if (!probe.SetEmulation(optarg)) return UsageError("no such emulation: " + Quoted(optarg));
            emulation = optarg;
            break;
        }
        case 'h': std::fputs(Usage().c_str(), stdout); return 0;
        case 'V': std::printf("vantrel %s\n", VANTREL_VERSION); return 0;
        case ':': return UsageError("option " + Quoted(argv[at]) + " needs a value");
        default: {
            const std::string_view arg = argv[at];
            return UsageError("unrecognized option " + Quoted(arg) +
                              (arg.rfind("--", 0) == 0 ? "" : "; a line that starts with '-' goes after '--'"));
        }
        }
    }
    lines.insert(lines.end(), argv + optind, argv + argc);  // the lines after "--"
    if (lines.size() > 2) return UsageError("too many lines: " + Quoted(lines[2]));
    if (!lines.empty()) {
        const std::u16string line1 = Utf16(lines[0]), line2 = lines.size() > 1 ? Utf16(lines[1]) : u"";
        actions.push_back({{SendId}, [line1, line2](const Settle&) { WriteTwoLines(line1, line2, CodePageFromLocale()); }});
    }
    if (actions.empty()) return UsageError("nothing to send");

    // COM1..COM9 through the panel's mapping; anything else is a device or a URL.
    const NamedPort named = ReadPortName(port, ThisPlatform);
    std::snprintf(PortName, sizeof PortName, "%s", named.panel ? ("COM" + std::to_string(named.panel)).c_str() : "");
    const std::string device = named.panel ? ResolvePort(PortName).device : named.device;
    display::DisplayModel reader;
    reader.SetEmulation(emulation.c_str());
    const int startBaud = reader.OwnBaud();
    {
        const WriteSourceScope source({OpenComId});
        if (dryRun) {
            // Nothing is opened, but a name that the open refuses before it
            // connects is refused here too, in the same words.
            OpenWith(device, baud, [&device](std::unique_ptr<Port>& port) -> PortResult {
                std::string refusal;
                if (!(refusal = ReadMappedDevice(device, ThisPlatform).refusal).empty() ||
                    (IsNetworkPort(device) && !(refusal = NetworkPortRefusal(device)).empty()))
                    return {PortError::Other, refusal};
                port = std::make_unique<NoPort>();
                return {};
            });
        } else {
            OpenPortAt(device, baud);
        }
        if (!PortHandleValid()) return 3;  // the open said why, in one line
    }
    int status = 0;
    bool warned = false;
    std::vector<TakenWrite> taken;  // the writes that went to a server (it tells no more of them)
    // Each action's writes are read back from the line log as they go (after
    // each write of a replay), into the run's own account: what failed, and
    // what to explain. The log keeps the last rows only; the account keeps all.
    for (const Action& action : actions) {
        const WriteSourceScope source(action.source);
        const std::size_t number = static_cast<std::size_t>(&action - actions.data()) + 1;
        const std::size_t after = actions.size() - number;
        const std::string notSent = after == 0   ? ""
                                    : after == 1 ? "; the action after it was not sent"
                                                 : "; the " + std::to_string(after) + " actions after it were not sent";
        std::uint64_t from = NewestLineLogRecord();
        std::size_t index = 0;  // the action's writes accounted for
        const Settle settle = [&] {
            std::uint64_t lost = 0;
            std::vector<LoggedWrite> writes = ReadLineLog(from, lost);
            if (!writes.empty()) from = writes.back().sequence;
            std::erase_if(writes, [](const LoggedWrite& w) { return w.open; });
            // A speed frame, then bytes at the line's old speed: the display shows garbage.
            if (const int expects = Follow(writes, reader, baud, startBaud, explain, action.name); expects && !warned && !dryRun) {
                warned = true;
                std::fprintf(stderr,
                             "vantrel send: warning: after its speed frame the display expects %d bit/s, and the writes "
                             "after it went at %d bit/s: it shows garbage (send them in a run of their own with --baud %d)\n",
                             expects, baud, expects);
            }
            for (const LoggedWrite& w : writes) {
                // A write by its cause and place in the run: "bytes (action 7)".
                const std::string name = WriteName(w, index++, action.name) + " (action " + std::to_string(number) + ")";
                if (w.result == WriteResult::Ok && (w.takenByServer || w.handedToNetwork)) {
                    taken.push_back({name, w.bytes.size()});
                } else if (w.result != WriteResult::Ok) {
                    SayWriteFailure(device.c_str(), w, name + notSent);
                    status = 1;
                    break;
                }
            }
            return status == 0;
        };
        action.run(settle);
        if (settle() && !cutShort.empty()) {
            std::fprintf(stderr, "vantrel send: %s (action %zu)%s\n", cutShort.c_str(), number, notSent.c_str());
            status = 1;
        }
        if (status) break;
    }
    // The end fails too when a network server did not take everything: it
    // names the writes it concerns, as far as they are known.
    std::uint32_t notTaken = 0;
    if (const WriteResult end = ClosePort(&notTaken); end != WriteResult::Ok && status == 0) {
        const std::string why = "at the end: " + DescribeWriteResult(end, notTaken) + EndPlace(taken, end, notTaken);
        if (explain) std::printf("end\n    FAILED: %s\n", why.c_str());
        std::fprintf(stderr, "vantrel: write to %s failed: %s\n", Shortened(device).c_str(), why.c_str());
        status = 1;
    }
    return status;  // a failed standard output is the caller's to report, once
}

}  // namespace vantrel
