// SPDX-License-Identifier: GPL-3.0-or-later
#include "posix/LineSettings.h"

namespace vantrel {

speed_t SpeedConstant(int baud) {
    switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B0;
    }
}

termios ConfigureLine(termios t, int baud) {
    // Parity checking off; PARENB/PARODD (the scheme) stay as the port reported.
    t.c_iflag &= ~INPCK;
    // Binary input: no break, CR/NL or case translation, no stripping to 7 bits.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
    // Binary output: our bytes go out exactly as built (no NL->CRNL, no tab expansion).
    t.c_oflag &= ~OPOST;
    // No echo: a tty that echoes would put the display's bytes back on the line.
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN);
    // 8 data bits, 1 stop bit. CLOCAL: a missing carrier must not block a write.
    // CRTSCTS, IXON, IXOFF (flow control) are left alone.
    t.c_cflag &= ~(CSIZE | CSTOPB);
    t.c_cflag |= CS8 | CLOCAL;
    const speed_t speed = SpeedConstant(baud);
    cfsetospeed(&t, speed);
    cfsetispeed(&t, speed);
    return t;
}

}  // namespace vantrel
