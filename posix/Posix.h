// SPDX-License-Identifier: GPL-3.0-or-later
// What the POSIX files share: the kinds of node, the port on a terminal
// device that the relay of a tap reads and writes through its descriptor, and
// the making of a file beside another.
#pragma once

#include "serial/Port.h"

#include <cstdint>
#include <functional>
#include <string>
#include <span>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <vector>

namespace vantrel::posix {

// A Unix 98 pseudo-terminal's slave.
inline bool IsPseudoTerminal(const struct stat& st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

// Makes something new beside `path`, to be renamed onto it: `make` is tried
// with fresh names in the same folder until it succeeds or fails otherwise
// than with EEXIST. The name is short, so that any name that fits the
// folder's limit can be the final one, and new: nothing there is replaced.
// Returns the name made; empty, errno set, when none was.
std::string MakeBeside(const std::string& path, const std::function<bool(const std::string&)>& make);

// Bytes as a terminal with PARMRK and INPCK hands them over, back as runs of
// clean bytes and of bytes that came with an error (framing, parity or a
// break): 0xFF 0xFF is one 0xFF, 0xFF 0x00 X an erroneous X. A mark split
// between two reads is kept for the next.
class MarkDecoder {
public:
    void Decode(std::span<const std::uint8_t> in, std::vector<ReadRun>& out);

private:
    void Put(std::vector<ReadRun>& out, std::uint8_t b, bool error);
    int marked_ = 0;  // bytes of a mark read so far: 0, 1 (0xFF) or 2 (0xFF 0x00)
};

// A port on a terminal device (SerialPort.cpp).
class TerminalPort : public Port {
public:
    virtual int Fd() const = 0;
    // Reads what the device holds now, without waiting: Ok with no runs when
    // nothing waits, Gone for a hang-up or a device that went away.
    virtual PortResult ReadNow(std::vector<ReadRun>& runs) = 0;
};

}  // namespace vantrel::posix
