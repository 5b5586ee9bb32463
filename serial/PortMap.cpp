// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortMap.h"

#include "serial/Platform.h"

#include <algorithm>
#include <cstdio>

namespace vantrel {

namespace {

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// N of /dev/ttyS<N>, or -1 for any other device.
long BuiltinUartNumber(const std::string& device) {
    constexpr std::string_view prefix = "/dev/ttyS";
    if (device.size() <= prefix.size() || device.compare(0, prefix.size(), prefix) != 0) return -1;
    const std::string digits = device.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
    return std::stol(digits);
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// n of "COMn" in any case with at most one colon after it, n from 1 and
// written without a leading zero; else 0.
long ComNumber(std::string_view name) {
    if (name.ends_with(':')) name.remove_suffix(1);
    if (name.size() < 4 || name.size() > 7 || Upper(name.substr(0, 3)) != "COM") return 0;
    const std::string_view digits = name.substr(3);
    if (!AllDigits(digits) || digits[0] == '0') return 0;
    return std::stol(std::string(digits));
}

// A COM name spelled in a way no rule takes ("COM1::", "COM 1", "COM01",
// " COM3", "COM0", "COM1:x", "COM1:COM2"): why, with the spelling that is
// meant; else nothing. Windows opens its own COMn for anything after a colon
// there, so whatever follows the first colon is no part of the number.
std::string OddComName(std::string_view name) {
    const std::string_view trimmed = Trim(name);
    if (trimmed.size() < 3 || Upper(trimmed.substr(0, 3)) != "COM") return {};
    std::string_view rest = trimmed.substr(3);
    rest = rest.substr(0, std::min(rest.find(':'), rest.size()));
    std::string digits;
    for (const char c : rest)
        if (c != ' ' && c != '.') digits += c;
    if (digits.empty())
        return Quoted(name) + " is not a port name: COM needs its number, as in COM1 (COM and its number, in any case, "
                             "with at most one colon after it)";
    if (!AllDigits(digits) || digits.size() > 4) return {};
    const long n = std::stol(digits);
    if (n == 0) return Quoted(name) + ": there is no COM0, the ports count from COM1";
    return Quoted(name) + " is not a port name: write COM" + std::to_string(n) +
           " (COM and its number, in any case, with at most one colon after it)";
}

// The Windows device alias that Windows opens for `name` instead of a file,
// or nothing: the last part of a path, what follows a dot or a colon in it
// ("AUX:x") and its blanks at the end aside, is CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, LPTn or (with `comToo`) COMn, n a digit or a superscript 1 to 3.
std::string DeviceAlias(std::string_view name, bool comToo) {
    std::size_t start = name.find_last_of("\\/");
    start = start == std::string_view::npos ? 0 : start + 1;
    if (start == 0 && name.size() >= 2 && name[1] == ':') start = 2;  // "C:NUL"
    std::string_view last = name.substr(start);
    last = last.substr(0, std::min(last.find_first_of(".:"), last.size()));
    while (!last.empty() && last.back() == ' ') last.remove_suffix(1);
    const std::string upper = Upper(last);
    for (const char* alias : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (upper == alias) return upper;
    const std::string_view kind = std::string_view(upper).substr(0, 3);
    if (kind != "LPT" && !(comToo && kind == "COM")) return {};
    const std::string_view number = std::string_view(upper).substr(3);
    constexpr std::string_view superscripts[] = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    if ((number.size() == 1 && AllDigits(number)) ||
        std::find(std::begin(superscripts), std::end(superscripts), number) != std::end(superscripts))
        return upper;
    return {};
}

}  // namespace

int PortNumber(std::string_view name) {
    const long n = ComNumber(name);
    return n <= PortCount ? static_cast<int>(n) : 0;
}

NamedPort ReadPortName(std::string_view name, Platform platform) {
    const bool windows = platform == Platform::Windows;
    if (name.empty()) return {0, {}, "no port named ''"};
    if (HasControlCharacter(name))
        return {0, {}, Quoted(name) + " is not a port name: it holds a control character"};
    const std::string dropped = Quoted(name) + ": Windows drops blanks and dots at the end of a name, so it would open "
                                              "another one than this";
    // Windows' device namespace (\\.\, \\?\, //./ alike) takes the name as it
    // stands, but an alias is one there too; a COM port there has one spelling,
    // so that two spellings of one port are known for one.
    const auto slash = [](char c) { return c == '\\' || c == '/'; };
    if (windows && name.size() >= 4 && slash(name[0]) && slash(name[1]) && (name[2] == '.' || name[2] == '?') && slash(name[3])) {
        if (const std::string alias = DeviceAlias(name.substr(4), false); !alias.empty())
            return {0, {}, Quoted(name) + " is the Windows device alias " + alias + ", not a serial port"};
        if (name.ends_with(' ') || name.ends_with('.')) return {0, {}, dropped};
        if (name.find(':', 4) != std::string_view::npos)
            return {0, {}, Quoted(name) + " is not a device name: Windows would open the part before the colon"};
        if (const long n = ComNumber(name.substr(4))) return {0, "\\\\.\\COM" + std::to_string(n), {}};
        return {0, std::string(name), {}};
    }
    if (const long n = ComNumber(name)) {
        if (n <= PortCount) return {static_cast<int>(n), {}, {}};
        if (windows) return {0, "COM" + std::to_string(n), {}};
        return {0, {}, Quoted(name) + " is not one of the panel's ports (COM1 to COM9): map one of them to the device "
                                     "in the mapping file, or give the device's path"};
    }
    if (std::string odd = OddComName(name); !odd.empty()) return {0, {}, std::move(odd)};
    if (windows) {
        if (const std::string alias = DeviceAlias(name, true); !alias.empty())
            return {0, {}, Quoted(name) + " is the Windows device alias " + alias +
                               ", not a port name: give COM1 to COM9, or COMn for Windows' own port n"};
        const std::string_view last = name.substr(std::min(name.find_last_of("\\/") + 1, name.size()));
        if ((name.ends_with(' ') || name.ends_with('.')) && last.find_first_not_of('.') != std::string_view::npos)
            return {0, {}, dropped};
    }
    return {0, std::string(name), {}};
}

NamedPort ReadMappedDevice(std::string_view value, Platform platform) {
    if (platform != Platform::Windows && (ComNumber(value) || !OddComName(value).empty()))
        return {0, {}, Quoted(value) + " is a port name, not a device: a mapping names the device's path, such as "
                                      "/dev/ttyUSB0"};
    NamedPort port = ReadPortName(value, platform);
    if (port.panel) port = {0, "COM" + std::to_string(port.panel), {}};  // Windows' own port, not the panel's name again
    return port;
}

const char* MapSourceName(MapSource source) {
    switch (source) {
    case MapSource::Environment: return "environment";
    case MapSource::File: return "file";
    case MapSource::Discovered: return "discovered";
    case MapSource::Fallback: return "fallback";
    }
    return "";
}

namespace {

// Why a mapping line's name is none of COM1..COM9.
std::string KeyFault(std::string_view key) {
    if (const long n = ComNumber(key)) return "only COM1 to COM9 are mapped, not COM" + std::to_string(n);
    if (std::string odd = OddComName(key); !odd.empty()) return odd;
    return Quoted(key) + " is not a port name: expected COMn=DEVICE, n from 1 to 9";
}

}  // namespace

PortNameMap ParseMappingFile(std::string_view text, const std::string& fileName,
                             const std::function<void(const std::string&)>& complain, Platform platform) {
    PortNameMap map;
    // A text editor may begin the file with a byte-order mark (Notepad does):
    // UTF-8's is skipped; UTF-16 and UTF-32 are not read at all, nor is a file
    // with a NUL in every fourth byte or more, which is no UTF-8 text (UTF-16
    // or UTF-32 without a mark); a stray NUL is a line's control character.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const char* encoding = text.starts_with(std::string_view("\xFF\xFE\0\0", 4)) ||
                                   text.starts_with(std::string_view("\0\0\xFE\xFF", 4))
                               ? "written as UTF-32"
                           : text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ? "written as UTF-16"
                           : 4 * static_cast<std::size_t>(std::count(text.begin(), text.end(), '\0')) >= text.size() &&
                                     !text.empty()
                               ? "not UTF-8 text (it holds NUL bytes, as UTF-16 and UTF-32 do)"
                                                                       : nullptr;
    if (encoding) {
        complain("vantrel: " + Shortened(fileName) + ": " + encoding + "; save it as UTF-8 (file ignored)");
        return map;
    }
    int lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        const auto eq = line.find('=');
        const std::string_view key = Trim(line.substr(0, eq));
        const int n = eq == std::string_view::npos ? 0 : PortNumber(key);
        const std::string_view device = eq == std::string_view::npos ? std::string_view{} : Trim(line.substr(eq + 1));
        const std::string where = "vantrel: " + Shortened(fileName) + ":" + std::to_string(lineNumber) + ": ";
        const std::string name = "COM" + std::to_string(n);
        if (HasControlCharacter(line)) {
            complain(where + "a control character in the line; line ignored");
        } else if (eq == std::string_view::npos || key.empty()) {
            complain(where + "expected COMn=DEVICE, n from 1 to 9; line ignored");
        } else if (n == 0) {
            complain(where + KeyFault(key) + "; line ignored");
        } else if (device.empty()) {
            complain(where + "no device after '='; line ignored");
        } else if (!map[n - 1].empty()) {
            complain(where + name + " is mapped twice; the first mapping is used");
        } else if (const NamedPort mapped = ReadMappedDevice(device, platform); !mapped.refusal.empty()) {
            complain(where + mapped.refusal + "; " + name + " will not open until the line is mended");
            map[n - 1] = std::string(device);  // kept, so that the port refuses to open instead of opening another
        } else {
            map[n - 1] = mapped.device;
        }
    }
    return map;
}

std::vector<PortRecord> OrderDiscovered(std::vector<PortRecord> ports) {
    // Sort key: built-in UARTs first by number, then ports with a physical
    // connection by it, then the rest by device name.
    auto key = [](const PortRecord& p) {
        const long uart = BuiltinUartNumber(p.device);
        const int rank = uart >= 0 ? 0 : !p.byPath.empty() ? 1 : 2;
        return std::tuple(rank, rank == 0 ? uart : rank == 2 ? ComNumber(p.device) : 0, rank == 1 ? p.byPath : p.device);
    };
    std::sort(ports.begin(), ports.end(), [&](const PortRecord& a, const PortRecord& b) { return key(a) < key(b); });
    return ports;
}

bool TakeMapping(PortAssignment& port, const PortNameMap& environment, const PortNameMap& file, int index) {
    if (!environment[index].empty()) {
        port.device = environment[index];
        port.source = MapSource::Environment;
    } else if (!file[index].empty()) {
        port.device = file[index];
        port.source = MapSource::File;
    } else {
        return false;
    }
    return true;
}

std::vector<PortRecord> UnreachedPorts(const PortAssignments& ports, std::vector<PortRecord> discovered) {
    std::erase_if(discovered, [&](const PortRecord& r) {
        return std::any_of(ports.begin(), ports.end(), [&](const PortAssignment& a) {
            return a.device == r.device || (a.record && a.record->device == r.device);
        });
    });
    return OrderDiscovered(std::move(discovered));
}

int FreePortNumber(const PortAssignments& ports) {
    for (int i = 0; i < PortCount; ++i)
        if (ports[i].source == MapSource::Fallback && !ports[i].record) return i + 1;
    return 0;
}

PortAssignments MapPorts(const PortNameMap& environment, const PortNameMap& file, std::vector<PortRecord> discovered,
                         const std::function<bool(const std::string&, const std::string&)>& sameDevice) {
    discovered = OrderDiscovered(std::move(discovered));
    PortAssignments out;
    for (int i = 0; i < PortCount; ++i) {
        PortAssignment& a = out[i];
        if (!TakeMapping(a, environment, file, i)) {
            if (static_cast<std::size_t>(i) < discovered.size()) {
                a.device = discovered[i].device;
                a.source = MapSource::Discovered;
                a.record = discovered[i];
                continue;
            }
            a.device = "/dev/ttyS" + std::to_string(i);
            a.source = MapSource::Fallback;
        }
        for (const PortRecord& r : discovered)
            if (sameDevice(a.device, r.device)) a.record = r;
    }
    return out;
}

std::string ShortDeviceName(const std::string& device) {
    constexpr std::string_view dev = "/dev/";
    if (device.compare(0, dev.size(), dev) == 0 && device.find('/', dev.size()) == std::string::npos)
        return device.substr(dev.size());
    return device;
}

std::string DescribeRecord(const PortRecord& record) {
    std::string out;
    auto add = [&out](const std::string& part) {
        if (part.empty()) return;
        if (!out.empty()) out += ", ";
        out += part;
    };
    add(record.description);
    add(record.manufacturer);
    if (!record.serialNumber.empty()) add("serial " + record.serialNumber);
    if (record.vendorId && record.productId) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", *record.vendorId, *record.productId);
        add(ids);
    }
    return out;
}

}  // namespace vantrel
