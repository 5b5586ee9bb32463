// SPDX-License-Identifier: GPL-3.0-or-later
// The system's side of the port mapping: discovery of the serial ports, the
// environment and the user's mapping file. Runs when a port is about to be
// opened or shown, never at start-up.
#pragma once

#include "serial/PortMap.h"
#include "serial/SerialLink.h"

#include <string>
#include <vector>

namespace vantrel {

// The serial ports that exist now, as libserialport enumerates them (built-in
// UARTs with no hardware behind them left out), each with its
// /dev/serial/by-path name. Nothing is opened.
std::vector<PortRecord> DiscoverPorts();

// $XDG_CONFIG_HOME/vantrel/ports.conf, or ~/.config/vantrel/ports.conf.
std::string MappingFilePath();

// COM1..COM9 as the system stands now. A bad line in the mapping file, or a
// file that exists but cannot be read, prints one line on standard error
// (each distinct complaint once per run).
PortAssignments ResolvePorts();

// Whether a mapped device could be opened now, and the open's words when not.
struct PortProbe {
    OpenFailure failure = OpenFailure::None;
    std::string detail;
};
// A local device is opened and released; a network port is opened as the
// panel opens it (connected, and for rfc2217 its line set) and closed.
PortProbe ProbePort(const std::string& device);
// What can be told of a port without opening anything, by the open's own
// rules: a name the open refuses (with its reason), the kind of node, a
// network address's form (a well-formed one is None: only an open tells more).
PortProbe LookAtPort(const std::string& device);

// "serial ports on this computer: COM1, COM2, COM12", or that none was found:
// what a message that no device is there adds, as the panel's does.
std::string PortsFoundWords();

// How to reach `device`, a port that none of COM1..COM9 reaches (UnreachedPorts),
// from the panel's list, in a language (0 English, 1 Chinese): "To choose
// COM12 in the panel, add the line COM3=COM12 to PATH, then choose COM3.",
// with the first name that has no device behind it (FreePortNumber).
std::string ReachHint(const PortAssignments& ports, const std::string& device, int language = 0);
// The same for the first port that none of COM1..COM9 reaches now; empty
// when every port is reached.
std::string FirstReachHint(int language);

// The device behind one name ("COM1".."COM9"). The environment answers
// without discovery; the rest resolves as ResolvePorts does.
PortAssignment ResolvePort(const char* portName);

}  // namespace vantrel
