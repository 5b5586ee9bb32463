// SPDX-License-Identifier: GPL-3.0-or-later
// Which device each port name opens. First match wins: the environment
// (VANTREL_COMn), the user's mapping file, the ports that discovery found in a
// stable order, and last /dev/ttyS<n-1>.
//
// The mapping itself is a pure function over port records, so it is tested
// without hardware; PortDiscovery.h fills the records from the system.
#pragma once

#include "common/ControlCharacters.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

inline constexpr int PortCount = 9;  // COM1..COM9

// One serial port that discovery found.
struct PortRecord {
    std::string device;        // /dev/ttyUSB0
    std::string byPath;        // its /dev/serial/by-path name; empty when it has none
    std::string description;   // "FT232R USB UART"
    std::string manufacturer;  // "FTDI"
    std::string serialNumber;
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
};

enum class MapSource { Environment, File, Discovered, Fallback };

// "environment", "file", "discovered", "fallback".
const char* MapSourceName(MapSource source);

enum class Platform;  // serial/Platform.h

// 1..9 for the panel's COM1..COM9, else 0. Windows' device names ignore case
// and take one colon after them, and so do ours: "com3" and "COM3:" are COM3.
int PortNumber(std::string_view name);

// What a port name that a user gives means (vantrel send --port, the device
// of a mapping): one of the panel's names, a device opened as it stands, or a
// refusal that says why. On Windows COM10 and up are Windows' own ports, and
// a name that Windows would take for one of its device aliases (AUX, NUL,
// LPT1, "COM1 ", "COM1.txt"), or whose blanks and dots at the end it would
// drop, is refused: it would open something other than what it says.
struct NamedPort {
    int panel = 0;        // 1..9: the panel's COMn, mapped as the panel maps it
    std::string device;   // otherwise the device ("COM12", "\\.\COM3", "/dev/ttyUSB0")
    std::string refusal;  // not empty: the name is refused, for this reason
};
NamedPort ReadPortName(std::string_view name, Platform platform);

// The device that a mapping's value names. A COM name there is Windows' own
// port ("com2:" is COM2), which on other systems is no device: refused.
NamedPort ReadMappedDevice(std::string_view value, Platform platform);

struct PortAssignment {
    std::string device;
    MapSource source = MapSource::Fallback;
    // The discovered port behind the device, when there is one.
    std::optional<PortRecord> record;
};

// A mapping per port name, index 0 = COM1; empty = not mapped.
using PortNameMap = std::array<std::string, PortCount>;
using PortAssignments = std::array<PortAssignment, PortCount>;

// The most a mapping file may hold; a larger one is ignored.
inline constexpr std::size_t MappingFileLimit = 64 * 1024;

// Reads "COMn=DEVICE" lines; blank lines and lines starting with '#' are
// skipped. A line with a control character (HasControlCharacter: a NUL, a
// tab, U+0085) is malformed, leading and trailing blanks aside. Each malformed
// line goes to `complain` as one message naming `fileName`, the line number
// and its fault, and is ignored; the good lines still count. A device that
// ReadMappedDevice refuses is said the same way but kept, so that its port
// refuses to open rather than open another one.
PortNameMap ParseMappingFile(std::string_view text, const std::string& fileName,
                             const std::function<void(const std::string&)>& complain, Platform platform);

// Discovered ports in their stable order: built-in UARTs (ttyS<N>) by N, then
// the others by their /dev/serial/by-path name (their physical connection),
// those without one last: Windows' COMn by n (COM2 before COM12), then by
// device name.
std::vector<PortRecord> OrderDiscovered(std::vector<PortRecord> ports);

// Port `index`'s device as the environment, then the mapping file, name it:
// false when neither does and the platform's own rule decides.
bool TakeMapping(PortAssignment& port, const PortNameMap& environment, const PortNameMap& file, int index);

// The discovered ports that none of COM1..COM9 reaches (on Windows, COM10
// and up unless a mapping names them), in OrderDiscovered's order.
std::vector<PortRecord> UnreachedPorts(const PortAssignments& ports, std::vector<PortRecord> discovered);

// The first of COM1..COM9 with no device behind it (1..9), or 0: the name a
// mapping line suggests for a port the list lacks.
int FreePortNumber(const PortAssignments& ports);

// The assignment of COM1..COM9. `sameDevice` tells whether two paths name one
// device (symbolic links resolved); it links a mapped path to its record.
PortAssignments MapPorts(const PortNameMap& environment, const PortNameMap& file, std::vector<PortRecord> discovered,
                         const std::function<bool(const std::string&, const std::string&)>& sameDevice);

// "ttyUSB0" for a device directly under /dev, else the path as it stands.
std::string ShortDeviceName(const std::string& device);

// "FT232R USB UART, FTDI, serial A1B2C3, 0403:6001": what is known of a port.
std::string DescribeRecord(const PortRecord& record);

}  // namespace vantrel
