// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal settings of a port: the one table of speeds, and the changes
// the programs make, as pure functions so that they can be checked without a
// device.
#pragma once

#include <termios.h>

namespace vantrel {

// The termios constant of a standard rate (serial/PortTables.h's LineRates);
// B0 for any other rate.
speed_t SpeedConstant(int baud);
// The rate of a termios speed constant (B9600: 9600); UnknownBaud for none.
int StandardRate(speed_t speed);

// Settings as read from the port -> settings to apply for writing: parity
// checking off (the parity scheme itself kept), `baud` in both directions, 8
// data bits, 1 stop bit, raw (binary) transfer with no echo, modem lines
// ignored. Flow control and every other flag stay as read.
termios ConfigureLine(termios read, int baud);

// Settings as read -> settings to listen with: as ConfigureLine at `baud`
// (KeepSpeed: the speed as read), no parity and no flow control, every byte
// that came with an error marked (INPCK, PARMRK), a break too.
termios ConfigureListening(termios read, int baud);

}  // namespace vantrel
