// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortDiscovery.h"

#include "common/SmallFile.h"
#include "serial/LazyLibrary.h"
#include "serial/NetPort.h"
#include "serial/SerialLink.h"

#include <libserialport.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

namespace vantrel {

namespace {

namespace fs = std::filesystem;

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? path : p.string();
}

bool SameDevice(const std::string& a, const std::string& b) { return Canonical(a) == Canonical(b); }

// Each distinct complaint once per run: the list is resolved at every drop-down.
void ComplainOnce(const std::string& message) {
    static std::mutex mutex;
    static std::set<std::string> said;
    std::lock_guard lock(mutex);
    if (said.insert(message).second) std::fprintf(stderr, "%s\n", message.c_str());
}

// libserialport, loaded at the first discovery: start-up never pays for it.
#define VANTREL_SERIALPORT_FUNCTIONS(X)                                                                  \
    X(sp_list_ports) X(sp_free_port_list) X(sp_get_port_name) X(sp_get_port_description)                \
    X(sp_get_port_transport) X(sp_get_port_usb_vid_pid) X(sp_get_port_usb_manufacturer) X(sp_get_port_usb_serial)

VANTREL_LAZY_FUNCTIONS(SerialPortLibrary, VANTREL_SERIALPORT_FUNCTIONS, "libserialport.so.0")

const SerialPortLibrary& Lib() { return SerialPortLibrary::Get(); }

std::string Text(const char* s) { return s ? s : ""; }

PortNameMap EnvironmentMap() {
    PortNameMap map;
    for (int i = 0; i < PortCount; ++i) {
        const std::string name = "VANTREL_COM" + std::to_string(i + 1);
        if (const char* value = std::getenv(name.c_str()); value && *value) map[i] = value;
    }
    return map;
}

PortNameMap FileMap() {
    const std::string path = MappingFilePath();
    const SmallFile file = ReadSmallFile(path, MappingFileLimit);
    if (!file.exists) return {};  // no file: nothing to say
    if (!file.problem.empty()) {
        ComplainOnce("vantrel: " + path + ": " + file.problem + "; the mapping file is ignored");
        return {};
    }
    return ParseMappingFile(file.text, path, ComplainOnce);
}

}  // namespace

std::vector<PortRecord> DiscoverPorts() {
    // Physical connections: /dev/serial/by-path/<connection> -> ../../ttyUSB0.
    std::vector<std::pair<std::string, std::string>> byPath;  // device, connection
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-path", ec))
        byPath.emplace_back(Canonical(entry.path().string()), entry.path().filename().string());

    std::vector<PortRecord> ports;
    const SerialPortLibrary& sp = Lib();
    sp_port** list = nullptr;
    if (!sp.loaded) {
        ComplainOnce("vantrel: libserialport could not be loaded; no serial ports are discovered");
        return ports;
    }
    // The library leaves out built-in UARTs with no hardware behind them.
    if (sp.sp_list_ports(&list) != SP_OK || !list) return ports;
    for (sp_port** p = list; *p; ++p) {
        PortRecord r;
        r.device = Text(sp.sp_get_port_name(*p));
        r.description = Text(sp.sp_get_port_description(*p));
        if (r.description == ShortDeviceName(r.device)) r.description.clear();  // says nothing new
        int vid = 0, pid = 0;
        if (sp.sp_get_port_transport(*p) == SP_TRANSPORT_USB) {
            r.manufacturer = Text(sp.sp_get_port_usb_manufacturer(*p));
            r.serialNumber = Text(sp.sp_get_port_usb_serial(*p));
            if (sp.sp_get_port_usb_vid_pid(*p, &vid, &pid) == SP_OK) {
                r.vendorId = static_cast<std::uint16_t>(vid);
                r.productId = static_cast<std::uint16_t>(pid);
            }
        }
        const std::string real = Canonical(r.device);
        for (const auto& [device, connection] : byPath)
            if (device == real) r.byPath = connection;
        ports.push_back(std::move(r));
    }
    sp.sp_free_port_list(list);
    return ports;
}

std::string MappingFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/') return std::string(config) + "/vantrel/ports.conf";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/vantrel/ports.conf";
}

PortAssignments ResolvePorts() { return MapPorts(EnvironmentMap(), FileMap(), DiscoverPorts(), SameDevice); }

PortAssignment ResolvePort(const char* portName) {
    const int n = std::max(PortNumber(portName), 1);  // anything else is COM1, as the list does
    // The environment answers without discovery.
    if (const std::string mapped = EnvironmentMap()[n - 1]; !mapped.empty())
        return {mapped, MapSource::Environment, std::nullopt};
    return ResolvePorts()[n - 1];
}

PortProbe ProbePort(const std::string& device) {
    PortProbe probe;
    if (!IsNetworkPort(device)) probe.failure = ProbeDevice(device);
    else OpenNetworkPort(device, 9600, probe.failure, probe.detail);  // and closed again at once
    return probe;
}

void OpenPort(int baudValue) { OpenPortAt(ResolvePort(PortName).device, baudValue); }

void OpenPortAt(const std::string& device, int baudValue) {
    if (!IsNetworkPort(device)) return OpenDevice(device, baudValue);
    OpenWith(device, baudValue, [&](OpenFailure& failure, std::string& detail) {
        return OpenNetworkPort(device, baudValue, failure, detail);
    });
}

}  // namespace vantrel
