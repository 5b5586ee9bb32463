// SPDX-License-Identifier: GPL-3.0-or-later
// What the Windows port (SerialPort.cpp) makes of names and errors, for its
// tests.
#pragma once

#include "serial/SerialLink.h"

#include <string>

namespace vantrel::windows {

// "COM3" and "com12" -> "\\.\COM3", "\\.\COM12"; a "\\" path stays as it is;
// anything else (a file someone mapped) is used as it stands.
std::wstring ComDevicePath(const std::string& device);

// The open's failure for a CreateFileW error. Share mode 0 makes a port that
// another program holds answer "access denied": that is busy (the open tells
// a folder or a file, which answers the same, apart).
OpenFailure ClassifyOpenError(unsigned long error);

}  // namespace vantrel::windows
