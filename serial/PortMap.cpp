// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortMap.h"

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

}  // namespace

int PortNumber(std::string_view name) {
    return name.size() == 4 && name.substr(0, 3) == "COM" && name[3] >= '1' && name[3] <= '9' ? name[3] - '0' : 0;
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

PortNameMap ParseMappingFile(std::string_view text, const std::string& fileName,
                             const std::function<void(const std::string&)>& complain) {
    PortNameMap map;
    // A text editor may begin the file with a byte-order mark (Notepad does):
    // UTF-8's is skipped; UTF-16 is not read at all.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        complain("vantrel: " + Escaped(fileName) + ": written as UTF-16; save it as UTF-8 (file ignored)");
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
        const int n = eq == std::string_view::npos ? 0 : PortNumber(Trim(line.substr(0, eq)));
        const std::string_view device = eq == std::string_view::npos ? std::string_view{} : Trim(line.substr(eq + 1));
        const std::string where = "vantrel: " + Escaped(fileName) + ":" + std::to_string(lineNumber) + ": ";
        if (HasControlCharacter(line)) {
            complain(where + "a control character in the line; line ignored");
        } else if (n == 0 || device.empty()) {
            complain(where + "expected COMn=DEVICE with n from 1 to 9; line ignored");
        } else if (!map[n - 1].empty()) {
            complain(where + "COM" + std::to_string(n) + " is mapped twice; the first mapping is used");
        } else {
            map[n - 1] = std::string(device);
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
        return std::tuple(rank, uart, rank == 1 ? p.byPath : p.device);
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
