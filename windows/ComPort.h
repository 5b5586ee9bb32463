// SPDX-License-Identifier: GPL-3.0-or-later
// The link's port on Windows: a COM port opened with CreateFileW, exclusive
// (share mode 0), set with one full DCB, each write bounded by COMMTIMEOUTS.
// It also defines SerialLink.h's ProbeDevice, LookAtDevice and OpenDevice.
#pragma once

#include "serial/SerialLink.h"

#include <memory>
#include <string>

struct _DCB;

namespace vantrel::windows {

// "COM3" and "com12" -> "\\.\COM3", "\\.\COM12"; a "\\" path stays as it is;
// anything else (a file someone mapped) is used as it stands.
std::wstring ComDevicePath(const std::string& device);

// The open's failure for a CreateFileW error. Share mode 0 makes a port that
// another program holds answer "access denied": that is busy (the open tells
// a folder or a file, which answers the same, apart).
OpenFailure ClassifyOpenError(unsigned long error);

// Opens `device` exclusively at `baud`, 8 data bits, no parity, 1 stop bit,
// no flow control. A handle that takes no DCB is not a serial device.
std::unique_ptr<LinkPort> OpenComPort(const std::string& device, int baud, OpenFailure& failure, std::string& detail);

// For a program that listens on a port (vantrel-display): opens and claims
// `device` as OpenComPort does, for overlapped I/O (a read and a write at
// once), and reads its DCB into `dcb`; the handle, or INVALID_HANDLE_VALUE
// with the failure (and its words for Other in `detail`).
void* AcquireComPort(const std::string& device, _DCB& dcb, OpenFailure& failure, std::string& detail);
// Sets `dcb` to the line OpenComPort sets.
void ConfigureComLine(_DCB& dcb, int baud);

}  // namespace vantrel::windows
