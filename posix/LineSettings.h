// SPDX-License-Identifier: GPL-3.0-or-later
// The one change the panel makes to a port's terminal settings, as a pure
// function so that it can be checked without a device.
#pragma once

#include <termios.h>

namespace vantrel {

// termios speed constant for a rate of the baud list; B0 for any other rate.
speed_t SpeedConstant(int baud);

// Settings as read from the port -> settings to apply: parity checking off
// (the parity scheme itself kept), `baud` in both directions, 8 data bits,
// 1 stop bit, raw (binary) transfer with no echo, modem lines ignored.
// Flow control and every other flag stay as read.
termios ConfigureLine(termios read, int baud);

}  // namespace vantrel
