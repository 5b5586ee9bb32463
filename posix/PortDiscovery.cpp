// SPDX-License-Identifier: GPL-3.0-or-later
// PortDiscovery.h on POSIX systems: the serial devices the kernel lists,
// described by libserialport; the mapping file under the XDG configuration
// folder; COMn falls back to the n-th port found, then /dev/ttyS<n-1>.
#include "serial/PortDiscovery.h"

#include "common/SmallFile.h"
#include "serial/LazyLibrary.h"
#include "serial/Platform.h"

#include <libserialport.h>
#include <cstdlib>
#include <filesystem>

namespace vantrel {

namespace {

namespace fs = std::filesystem;

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? path : p.string();
}

bool SameDevice(const std::string& a, const std::string& b) { return Canonical(a) == Canonical(b); }

// libserialport, loaded at the first discovery: start-up never pays for it.
#define VANTREL_SERIALPORT_FUNCTIONS(X)                                                                  \
    X(sp_get_port_by_name) X(sp_free_port) X(sp_get_port_description)                                  \
    X(sp_get_port_transport) X(sp_get_port_usb_vid_pid) X(sp_get_port_usb_manufacturer) X(sp_get_port_usb_serial)

VANTREL_LAZY_FUNCTIONS(SerialPortLibrary, VANTREL_SERIALPORT_FUNCTIONS, "libserialport.so.0")

const SerialPortLibrary& Lib() { return SerialPortLibrary::Get(); }

std::string Text(const char* s) { return s ? s : ""; }

// The serial devices the kernel has, by the rule of libserialport's own
// listing: each node of /sys/class/tty that is not virtual. The serial8250
// driver makes a fixed number of nodes whether a UART is behind them or not;
// the library opens each to ask the UART's type, and an open raises DTR and
// RTS. The kernel tells the same type, 0 for none, in the node's `type`
// attribute, and that is read instead: nothing is opened.
std::vector<std::string> SerialDevices() {
    std::vector<std::string> devices;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", ec)) {
        std::error_code notLink;
        const std::string target = fs::read_symlink(entry.path(), notLink).string();
        if (notLink || target.find("virtual") != std::string::npos) continue;
        if (target.find("serial8250") != std::string::npos) {
            const SmallFile type = ReadSmallFile(entry.path().string() + "/type", 4096);
            if (!type.problem.empty() || std::atoi(type.text.c_str()) == 0) continue;  // no UART behind it
        }
        devices.push_back("/dev/" + entry.path().filename().string());
    }
    return devices;
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
    if (!sp.loaded) {
        ComplainOnce("vantrel: libserialport could not be loaded; no serial ports are discovered");
        return ports;
    }
    for (const std::string& device : SerialDevices()) {
        sp_port* port = nullptr;  // what sysfs tells of it: the library reads, and opens nothing
        if (sp.sp_get_port_by_name(device.c_str(), &port) != SP_OK || !port) continue;
        PortRecord r;
        r.device = device;
        r.description = Text(sp.sp_get_port_description(port));
        if (r.description == ShortDeviceName(r.device)) r.description.clear();  // says nothing new
        int vid = 0, pid = 0;
        if (sp.sp_get_port_transport(port) == SP_TRANSPORT_USB) {
            r.manufacturer = Text(sp.sp_get_port_usb_manufacturer(port));
            r.serialNumber = Text(sp.sp_get_port_usb_serial(port));
            if (sp.sp_get_port_usb_vid_pid(port, &vid, &pid) == SP_OK) {
                r.vendorId = static_cast<std::uint16_t>(vid);
                r.productId = static_cast<std::uint16_t>(pid);
            }
        }
        sp.sp_free_port(port);
        const std::string real = Canonical(r.device);
        for (const auto& [dev, connection] : byPath)
            if (dev == real) r.byPath = connection;
        ports.push_back(std::move(r));
    }
    return ports;
}

std::string MappingFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/') return std::string(config) + "/vantrel/ports.conf";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/vantrel/ports.conf";
}

PortAssignments ResolvePorts() { return MapPorts(EnvironmentMap(), FileMap(), DiscoverPorts(), SameDevice); }

const Platform ThisPlatform = Platform::Posix;

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace vantrel
