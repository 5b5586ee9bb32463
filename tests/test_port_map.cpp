// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortMap.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vantrel;

namespace {

PortRecord Port(const std::string& device, const std::string& byPath = "", const std::string& description = "") {
    PortRecord r;
    r.device = device;
    r.byPath = byPath;
    r.description = description;
    return r;
}

bool SamePath(const std::string& a, const std::string& b) { return a == b; }

// The devices of COM1..COM9 with the source letter: e=environment, f=file,
// d=discovered, b=fallback ("/dev/ttyUSB0 d").
std::vector<std::string> Summary(const PortAssignments& ports) {
    std::vector<std::string> out;
    const char* tag[] = {"e", "f", "d", "b"};  // in MapSource order
    for (const PortAssignment& p : ports) out.push_back(p.device + " " + tag[static_cast<int>(p.source)]);
    return out;
}

const PortRecord UsbRear = Port("/dev/ttyUSB1", "pci-0000:00:14.0-usb-0:2:1.0-port0", "FT232R USB UART");
const PortRecord UsbFront = Port("/dev/ttyUSB0", "pci-0000:00:14.0-usb-0:1:1.0-port0", "CP2102 USB to UART");
const PortRecord Acm = Port("/dev/ttyACM0", "pci-0000:00:14.0-usb-0:3:1.0", "VFD Customer Display");
const PortRecord Uart0 = Port("/dev/ttyS0");
const PortRecord Uart10 = Port("/dev/ttyS10");
const PortRecord Unplaced = Port("/dev/ttyXR0");  // no physical connection known

struct MapCase {
    const char* name;
    PortNameMap environment;
    PortNameMap file;
    std::vector<PortRecord> discovered;
    std::vector<std::string> expected;  // COM1.. as Summary() spells them; the rest fall back
};

TEST(PortMap, FirstMatchWinsInAStableOrder) {
    const MapCase cases[] = {
        {"nothing found: every name falls back", {}, {}, {}, {}},
        {"USB ports by their socket, whatever order the library lists them in",
         {}, {}, {UsbRear, Acm, UsbFront},
         {"/dev/ttyUSB0 d", "/dev/ttyUSB1 d", "/dev/ttyACM0 d"}},
        {"real built-in UARTs by number first, then by connection, then the rest",
         {}, {}, {Unplaced, Uart10, UsbFront, Uart0},
         {"/dev/ttyS0 d", "/dev/ttyS10 d", "/dev/ttyUSB0 d", "/dev/ttyXR0 d"}},
        {"phantom UARTs (not listed by the library) leave COM1 to the first real port",
         {}, {}, {Acm},
         {"/dev/ttyACM0 d", "/dev/ttyS1 b"}},
        {"environment beats file beats discovery, each for its own name",
         {"/dev/pts/7", "", "/dev/ttyUSB9"}, {"/dev/ttyUSB5", "/dev/serial/by-id/usb-x", ""}, {UsbFront, UsbRear, Acm},
         {"/dev/pts/7 e", "/dev/serial/by-id/usb-x f", "/dev/ttyUSB9 e"}},
        {"a name mapped elsewhere keeps the others' numbers",
         {"/dev/pts/7"}, {}, {UsbFront, UsbRear},
         {"/dev/pts/7 e", "/dev/ttyUSB1 d", "/dev/ttyS2 b"}},
    };
    for (const MapCase& c : cases) {
        std::vector<std::string> expected = c.expected;
        for (std::size_t i = expected.size(); i < PortCount; ++i) expected.push_back("/dev/ttyS" + std::to_string(i) + " b");
        EXPECT_EQ(Summary(MapPorts(c.environment, c.file, c.discovered, SamePath)), expected) << c.name;
    }
}

TEST(PortMap, AMappedDeviceCarriesWhatDiscoveryKnowsOfIt) {
    PortNameMap file;
    file[1] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    auto sameDevice = [](const std::string& a, const std::string& b) {
        return a == b || (a.find("FT232R") != std::string::npos && b == "/dev/ttyUSB1");
    };
    PortRecord rear = UsbRear;
    rear.manufacturer = "FTDI";
    rear.serialNumber = "A1B2C3";
    rear.vendorId = 0x0403;
    rear.productId = 0x6001;
    const PortAssignments ports = MapPorts({}, file, {rear}, sameDevice);
    ASSERT_TRUE(ports[1].record);
    EXPECT_EQ(DescribeRecord(*ports[1].record), "FT232R USB UART, FTDI, serial A1B2C3, 0403:6001");
    EXPECT_EQ(ShortDeviceName(ports[0].device), "ttyUSB1");
    EXPECT_EQ(ShortDeviceName("/dev/pts/3"), "/dev/pts/3");
    EXPECT_FALSE(ports[2].record);
}

TEST(PortMap, MappingFileKeepsGoodLinesAndNamesEachBadOne) {
    const char* text =
        "# fixed numbers for the tills\n"
        "COM3=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\n"
        "\n"
        "  COM1 = /dev/ttyUSB4  \r\n"
        "COM10=/dev/ttyUSB5\n"
        "garbage without an equals sign\n"
        "COM2=\n"
        "COM3=/dev/ttyUSB6\n"
        "\xff\xfe=\x01\n"
        "COM4=/tmp/x\ty\n"
        "COM5=/tmp/\xC2\x85nel\n"
        "\tCOM6=/dev/ttyUSB3\t\n"  // blanks around a line are its layout
        "COM9=/dev/ttyACM1";  // no newline at the end
    std::vector<std::string> complaints;
    const PortNameMap map = ParseMappingFile(text, "/home/u/.config/vantrel/ports.conf",
                                             [&](const std::string& m) { complaints.push_back(m); });
    EXPECT_EQ(map[0], "/dev/ttyUSB4");
    EXPECT_EQ(map[1], "");
    EXPECT_EQ(map[2], "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    EXPECT_EQ(map[3], "");
    EXPECT_EQ(map[4], "");
    EXPECT_EQ(map[5], "/dev/ttyUSB3");
    EXPECT_EQ(map[8], "/dev/ttyACM1");
    const std::vector<int> badLines{5, 6, 7, 8, 9, 10, 11};
    ASSERT_EQ(complaints.size(), badLines.size());
    for (std::size_t i = 0; i < badLines.size(); ++i) {
        const std::string where = "/home/u/.config/vantrel/ports.conf:" + std::to_string(badLines[i]) + ": ";
        EXPECT_NE(complaints[i].find(where), std::string::npos) << complaints[i];
        EXPECT_EQ(complaints[i].find('\n'), std::string::npos) << "one line each";
    }
}

// A file saved by a Windows editor: UTF-8's byte-order mark is skipped, and
// UTF-16 is refused whole with one line that says how to save it.
TEST(PortMap, ByteOrderMarks) {
    const struct {
        std::string text;
        const char* com5;
        const char* complaint;
    } cases[] = {
        {"\xEF\xBB\xBF" "COM5=COM1\r\n", "COM1", nullptr},
        {std::string("\xFF\xFE" "C\0O\0M\0" "5\0=\0", 12), "", "ports.conf: written as UTF-16; save it as UTF-8"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> complaints;
        const PortNameMap map = ParseMappingFile(c.text, "ports.conf", [&](const std::string& m) { complaints.push_back(m); });
        EXPECT_EQ(map[4], c.com5);
        ASSERT_EQ(complaints.size(), c.complaint ? 1u : 0u);
        if (c.complaint) {
            EXPECT_NE(complaints[0].find(c.complaint), std::string::npos) << complaints[0];
        }
    }
}

// One rule for the environment, the mapping file and every message that
// quotes what a user or a device gave: C0 (tab included), DEL and C1, as
// UTF-8 or as a lone 8-bit byte, are control characters, and shown escaped.
TEST(PortMap, ControlCharactersAreFoundAndShownEscaped) {
    const struct {
        std::string text;
        bool control;
        const char* shown;
    } cases[] = {
        {"/dev/serial/by-id/usb-Ünï_A1", false, "/dev/serial/by-id/usb-Ünï_A1"},
        {"/tmp/x\ty", true, "/tmp/x\\ty"},
        {"COM1\r\n", true, "COM1\\r\\n"},
        {"/tmp/\x1B]0;pwn\a", true, "/tmp/\\x1B]0;pwn\\x07"},
        {std::string("a\0b\x7F", 4), true, "a\\x00b\\x7F"},
        {"/tmp/\xC2\x85nel \xC2\x9B", true, "/tmp/\\u0085nel \\u009B"},
        {"/tmp/\x9B" "1m", true, "/tmp/\\x9B1m"},            // C1 as an 8-bit terminal reads it
        {"/tmp/\xC0\x9B", true, "/tmp/\\xC0\\x9B"},         // an overlong ESC
        {"/tmp/caf\xE9 \xE9t\xE9", false, "/tmp/caf\\xE9 \\xE9t\\xE9"},  // Latin-1: no control, but no UTF-8 either
        {"/tmp/\u202Eevil\u2066x\u200F", false, "/tmp/\\u202Eevil\\u2066x\\u200F"},  // turns a line around: shown escaped
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HasControlCharacter(c.text), c.control) << c.shown;
        EXPECT_EQ(Escaped(c.text), c.shown);
    }
}

}  // namespace
