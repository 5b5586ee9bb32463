// SPDX-License-Identifier: GPL-3.0-or-later
#include "posix/LineSettings.h"

#include "serial/Port.h"
#include "serial/PortTables.h"

#include <iterator>
#include <utility>

namespace vantrel {

namespace {

// Every standard rate and its constant, in the order of LineRates.
constexpr std::pair<int, speed_t> Speeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000}};

static_assert(std::size(Speeds) == LineRates.size(), "one list of a line's rates");
constexpr bool InTheOrderOfLineRates() {
    for (std::size_t i = 0; i < LineRates.size(); ++i)
        if (Speeds[i].first != LineRates[i]) return false;
    return true;
}
static_assert(InTheOrderOfLineRates());

}  // namespace

speed_t SpeedConstant(int baud) {
    for (const auto& [rate, constant] : Speeds)
        if (rate == baud) return constant;
    return B0;
}

int StandardRate(speed_t speed) {
    for (const auto& [rate, constant] : Speeds)
        if (constant == speed) return rate;
    return UnknownBaud;
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

termios ConfigureListening(termios read, int baud) {
    // Raw, 8 data bits, no parity, as the panel writes, no flow control.
    termios t = ConfigureLine(read, baud == KeepSpeed ? 9600 : baud);
    if (baud == KeepSpeed) {  // the speed as it is: a pseudo-terminal's writer's
        cfsetispeed(&t, cfgetispeed(&read));
        cfsetospeed(&t, cfgetospeed(&read));
    }
    // Every byte is data: DC1 and DC3 are commands of some displays, never
    // flow control here; nor does a missing CTS hold a tap's bytes back.
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cflag &= ~(PARENB | CRTSCTS);
    t.c_cflag |= CREAD;
    // Every byte that came with an error marked, a break too.
    t.c_iflag |= INPCK | PARMRK;
    t.c_iflag &= ~(IGNPAR | IGNBRK | BRKINT | ISTRIP);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

}  // namespace vantrel
