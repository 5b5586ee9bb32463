// SPDX-License-Identifier: GPL-3.0-or-later
// The platforms' shared part of the port lookup: the environment, the
// mapping file, one name's device, and the open of a device or network port.
// The discovery itself and the mapping file's place are each platform's
// (posix/PortDiscovery.cpp, windows/PortDiscovery.cpp).
#include "serial/PortDiscovery.h"

#include "common/SmallFile.h"
#include "resources/Texts.h"
#include "serial/NetPort.h"
#include "serial/Platform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <set>

namespace vantrel {

// The list is resolved at every drop-down: each complaint is said once.
void ComplainOnce(const std::string& message) {
    static std::mutex mutex;
    static std::set<std::string> said;
    std::lock_guard lock(mutex);
    if (said.insert(message).second) Say(message);
}

PortNameMap EnvironmentMap() {
    PortNameMap map;
    for (int i = 0; i < PortCount; ++i) {
        const std::string name = "VANTREL_COM" + std::to_string(i + 1), value = EnvironmentValue(name.c_str());
        if (value.empty()) continue;
        if (HasControlCharacter(value)) {
            ComplainOnce("vantrel: " + name + ": a control character in the value; ignored");
        } else if (const NamedPort mapped = ReadMappedDevice(value, ThisPlatform); !mapped.refusal.empty()) {
            // Kept, so that the port refuses to open instead of opening another one.
            ComplainOnce("vantrel: " + name + ": " + mapped.refusal + "; COM" + std::to_string(i + 1) + " will not open");
            map[i] = value;
        } else {
            map[i] = mapped.device;
        }
    }
    return map;
}

PortNameMap FileMap() {
    const std::string path = MappingFilePath();
    const SmallFile file = ReadSmallFile(path, MappingFileLimit);
    if (!file.exists) return {};  // no file: nothing to say
    if (!file.problem.empty()) {
        ComplainOnce("vantrel: " + Shortened(path) + ": " + file.problem + "; the mapping file is ignored");
        return {};
    }
    return ParseMappingFile(file.text, path, ComplainOnce, ThisPlatform);
}

namespace {
constexpr std::string_view SchemeNames[] = {"", "rfc2217://", "socket://"};  // by NetScheme
}

NetScheme SchemeOf(std::string_view device) {
    for (const NetScheme scheme : {NetScheme::Rfc2217, NetScheme::Socket}) {
        const std::string_view name = SchemeNames[static_cast<int>(scheme)];
        if (device.size() >= name.size() &&
            std::equal(name.begin(), name.end(), device.begin(), [](char a, char b) {
                return a == std::tolower(static_cast<unsigned char>(b));
            }))
            return scheme;
    }
    return NetScheme::None;
}

std::size_t SchemeLength(NetScheme scheme) { return SchemeNames[static_cast<int>(scheme)].size(); }

bool IsNetworkPort(const std::string& device) { return SchemeOf(device) != NetScheme::None; }

std::string PortsFoundWords() {
    std::string words;
    for (const PortRecord& r : OrderDiscovered(DiscoverPorts())) words += (words.empty() ? "" : ", ") + Shortened(r.device);
    return words.empty() ? "no serial port was found on this computer" : "serial ports on this computer: " + words;
}

std::string ReachHint(const PortAssignments& ports, const std::string& device, int language) {
    const int free = FreePortNumber(ports);
    const std::string values[] = {Shortened(device), free ? "COM" + std::to_string(free) : "COMn",
                                  Shortened(MappingFilePath())};
    std::string out;
    for (const char* c = TextIn(Text::ReachHint, language); *c; ++c) {
        if (c[0] == '%' && c[1] >= '1' && c[1] <= '3') out += values[*++c - '1'];
        else out += *c;
    }
    return out;
}

std::string FirstReachHint(int language) {
    const PortAssignments ports = ResolvePorts();
    const std::vector<PortRecord> unreached = UnreachedPorts(ports, DiscoverPorts());
    return unreached.empty() ? std::string() : ReachHint(ports, unreached.front().device, language);
}

PortAssignment ResolvePort(const char* portName) {
    const int n = std::max(PortNumber(portName), 1);  // anything else is COM1, as the list does
    // The environment answers without discovery.
    if (const std::string mapped = EnvironmentMap()[n - 1]; !mapped.empty())
        return {mapped, MapSource::Environment, std::nullopt};
    return ResolvePorts()[n - 1];
}

namespace {

// Why a mapped device is refused before any open (ReadMappedDevice); empty when it is not.
std::string Refusal(const std::string& device) { return ReadMappedDevice(device, ThisPlatform).refusal; }

}  // namespace

PortProbe LookAtPort(const std::string& device) {
    PortProbe look;
    if (look.detail = Refusal(device); !look.detail.empty()) look.failure = OpenFailure::Other;
    else if (!IsNetworkPort(device)) look.failure = LookAtDevice(device);
    else if (!(look.detail = NetworkPortRefusal(device)).empty()) look.failure = OpenFailure::Other;
    return look;
}

PortProbe ProbePort(const std::string& device) {
    PortProbe probe;
    if (probe.detail = Refusal(device); !probe.detail.empty()) probe.failure = OpenFailure::Other;
    else if (!IsNetworkPort(device)) probe.failure = ProbeDevice(device);
    else {
        std::unique_ptr<Port> port;  // and closed again at once
        const PortResult opened = OpenNetworkPort(device, 9600, port);
        probe.failure = OpenFailureOf(opened.error);
        probe.detail = opened.words;
    }
    return probe;
}

void OpenPort(int baudValue) { OpenPortAt(ResolvePort(PortName).device, baudValue); }

void OpenPortAt(const std::string& device, int baudValue) {
    if (const std::string refusal = Refusal(device); !refusal.empty()) {
        return OpenWith(device, baudValue, [&](std::unique_ptr<Port>&) { return PortResult{PortError::Other, refusal}; });
    }
    if (!IsNetworkPort(device)) return OpenDevice(device, baudValue);
    OpenWith(device, baudValue, [&](std::unique_ptr<Port>& port) { return OpenNetworkPort(device, baudValue, port); });
}

}  // namespace vantrel
