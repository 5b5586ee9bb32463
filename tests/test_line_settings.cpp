// SPDX-License-Identifier: GPL-3.0-or-later
#include "posix/LineSettings.h"
#include "serial/PortTables.h"

#include <gtest/gtest.h>

using namespace vantrel;

namespace {

termios Settings(tcflag_t iflag, tcflag_t oflag, tcflag_t cflag, tcflag_t lflag) {
    termios t{};
    t.c_iflag = iflag;
    t.c_oflag = oflag;
    t.c_cflag = cflag;
    t.c_lflag = lflag;
    cfsetospeed(&t, B115200);
    cfsetispeed(&t, B115200);
    return t;
}

}  // namespace

TEST(LineSettings, KeepsParitySchemeAndFlowControlButStopsParityChecking) {
    const termios read = Settings(INPCK | IXON | IXOFF | IXANY | ICRNL, OPOST | ONLCR,
                                  PARENB | PARODD | CRTSCTS | CS7 | CSTOPB | CREAD | HUPCL, ECHO | ICANON | ISIG);
    const termios t = ConfigureLine(read, 9600);
    EXPECT_EQ(t.c_iflag & INPCK, 0u);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), tcflag_t(PARENB | PARODD));
    EXPECT_EQ(t.c_cflag & CRTSCTS, tcflag_t(CRTSCTS));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), tcflag_t(IXON | IXOFF | IXANY));
    EXPECT_EQ(t.c_cflag & (CREAD | HUPCL), tcflag_t(CREAD | HUPCL));
}

TEST(LineSettings, EightDataBitsOneStopBitRawNoEchoModemLinesIgnored) {
    const termios read = Settings(ICRNL | INLCR | ISTRIP | IGNCR | BRKINT, OPOST | ONLCR | OCRNL,
                                  CS5 | CSTOPB, ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    const termios t = ConfigureLine(read, 38400);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CLOCAL, tcflag_t(CLOCAL));
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | ISTRIP | IGNCR | BRKINT), 0u);
}

TEST(LineSettings, EveryRateOfTheListIsSetBothWays) {
    const speed_t expected[] = {B300, B600, B1200, B2400, B4800, B9600, B19200, B38400};
    for (std::size_t i = 0; i < BaudRates.size(); ++i) {
        const termios t = ConfigureLine(Settings(0, 0, CS8, 0), BaudRates[i]);
        EXPECT_EQ(cfgetospeed(&t), expected[i]) << BaudRates[i];
        EXPECT_EQ(cfgetispeed(&t), expected[i]) << BaudRates[i];
    }
}

TEST(PortTables, IndexesMapToNamesAndRatesWithDefaultsOutsideTheTable) {
    EXPECT_STREQ(PortNameForIndex(0), "COM1");
    EXPECT_STREQ(PortNameForIndex(8), "COM9");
    EXPECT_STREQ(PortNameForIndex(-1), "COM1");
    EXPECT_STREQ(PortNameForIndex(9), "COM1");
    EXPECT_EQ(BaudValueForIndex(0), 300);
    EXPECT_EQ(BaudValueForIndex(7), 38400);
    EXPECT_EQ(BaudValueForIndex(-1), 9600);
    EXPECT_EQ(BaudValueForIndex(8), 9600);
}
