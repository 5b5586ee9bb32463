// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's exclusive open of a terminal device (TtyPort.cpp), for the
// programs that listen on a port instead of writing to it.
#pragma once

#include "serial/SerialLink.h"

#include <string>

namespace vantrel {

// Opens `path` read-write, non-blocking, for exclusive use: flock, and on a
// real serial port its exclusive mode (TIOCEXCL, then `exclusive` is set and
// the caller clears it with TIOCNXCL before closing). A descriptor, or -1
// with the failure and, for OpenFailure::Other, words of detail in `why`.
int OpenExclusive(const std::string& path, OpenFailure& failure, std::string& why, bool& exclusive);

}  // namespace vantrel
