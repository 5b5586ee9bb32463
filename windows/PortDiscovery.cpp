// SPDX-License-Identifier: GPL-3.0-or-later
// PortDiscovery.h on Windows. COM1..COM9 are Windows' own ports: COMn opens
// the device named by %VANTREL_COMn%, else a line of
// %APPDATA%\Vantrel\ports.conf, else COMn itself. Discovery reads the ports
// that Windows lists (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM) and SetupAPI's
// description, maker and USB ids for them; it opens nothing.
#include "serial/PortDiscovery.h"

#include "common/SmallFile.h"
#include "serial/Platform.h"
#include "windows/Wide.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <windows.h>
#include <devguid.h>
#include <setupapi.h>
#include <shlobj.h>

namespace vantrel {

namespace {

using windows::Utf8;
using windows::Wide;

// "COM3" for "COM3", "com3" and "\\.\COM3"; anything else as it stands.
std::string ComName(std::string device) {
    if (device.rfind("\\\\.\\", 0) == 0) device.erase(0, 4);
    std::transform(device.begin(), device.end(), device.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    return device;
}

std::wstring RegistryText(HKEY key, const wchar_t* name) {
    wchar_t value[256];
    DWORD size = sizeof value - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS || type != REG_SZ)
        return {};
    value[size / sizeof(wchar_t)] = L'\0';
    return value;
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t value[512];
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(value),
                                           sizeof value - sizeof(wchar_t), nullptr) || type != REG_SZ)
        return {};
    value[511] = L'\0';
    return Utf8(value);
}

// The hexadecimal number after `key` ("VID_") in a device instance id, if any.
std::optional<std::uint16_t> IdAfter(const std::string& id, const char* key) {
    const auto at = id.find(key);
    if (at == std::string::npos) return std::nullopt;
    unsigned value = 0;
    if (std::sscanf(id.c_str() + at + std::strlen(key), "%4x", &value) != 1) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// Description, maker and USB ids of the ports SetupAPI knows, by COM name.
void Describe(std::vector<PortRecord>& ports) {
    const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::string name = ComName(Utf8(RegistryText(key, L"PortName")));
        RegCloseKey(key);
        const auto port = std::find_if(ports.begin(), ports.end(), [&](const PortRecord& p) { return p.device == name; });
        if (port == ports.end()) continue;
        port->description = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
        if (port->description.empty()) port->description = DeviceProperty(set, device, SPDRP_DEVICEDESC);
        port->manufacturer = DeviceProperty(set, device, SPDRP_MFG);
        wchar_t instance[512];
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 512, nullptr)) {
            // USB\VID_0403&PID_6001\A1B2C3: the last part is the adapter's serial
            // number when it has one (Windows makes up one with '&' otherwise).
            const std::string id = Utf8(instance);
            if (id.rfind("USB\\", 0) == 0 || id.rfind("FTDIBUS\\", 0) == 0) {
                port->vendorId = IdAfter(id, "VID_");
                port->productId = IdAfter(id, "PID_");
                if (!port->vendorId || !port->productId) port->vendorId = port->productId = std::nullopt;
                const std::string last = id.substr(id.rfind('\\') + 1);
                if (id.rfind("USB\\", 0) == 0 && last.find('&') == std::string::npos) port->serialNumber = last;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<PortRecord> DiscoverPorts() {
    std::vector<PortRecord> ports;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], value[256];
        DWORD nameSize = 256, valueSize = sizeof value - sizeof(wchar_t), type = 0;
        const LONG r = RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(value), &valueSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        value[valueSize / sizeof(wchar_t)] = L'\0';
        PortRecord record;
        record.device = ComName(Utf8(value));
        if (std::none_of(ports.begin(), ports.end(), [&](const PortRecord& p) { return p.device == record.device; }))
            ports.push_back(std::move(record));
    }
    RegCloseKey(key);
    Describe(ports);
    return ports;
}

std::string MappingFilePath() {
    wchar_t* roaming = nullptr;
    std::string path;
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming) == S_OK) path = Utf8(roaming);
    CoTaskMemFree(roaming);
    if (path.empty()) path = windows::Environment("APPDATA");
    return path + "\\Vantrel\\ports.conf";
}

PortAssignments ResolvePorts() {
    const PortNameMap environment = EnvironmentMap(), file = FileMap();
    const std::vector<PortRecord> discovered = DiscoverPorts();
    auto find = [&](const std::string& device) -> std::optional<PortRecord> {
        const std::string name = ComName(device);
        for (const PortRecord& r : discovered)
            if (r.device == name) return r;
        return std::nullopt;
    };
    PortAssignments out;
    for (int i = 0; i < PortCount; ++i) {
        PortAssignment& a = out[i];
        if (!TakeMapping(a, environment, file, i)) {  // else Windows' own COMn
            a.device = "COM" + std::to_string(i + 1);
            a.source = MapSource::Fallback;
        }
        a.record = find(a.device);
        if (a.source == MapSource::Fallback && a.record) a.source = MapSource::Discovered;
    }
    return out;
}

const Platform ThisPlatform = Platform::Windows;

std::string EnvironmentValue(const char* name) { return windows::Environment(name); }

}  // namespace vantrel
