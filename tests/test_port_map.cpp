// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortMap.h"
#include "serial/Platform.h"

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
                                             [&](const std::string& m) { complaints.push_back(m); }, Platform::Posix);
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
// UTF-16 and UTF-32, with a mark or without, are refused whole with one line
// that says what the file is and how to save it.
TEST(PortMap, ByteOrderMarks) {
    const struct {
        std::string text;
        const char* com5;
        const char* complaint;
    } cases[] = {
        {"\xEF\xBB\xBF" "COM5=COM1\r\n", "COM1", nullptr},
        {std::string("\xFF\xFE" "C\0O\0M\0" "5\0=\0", 12), "", "ports.conf: written as UTF-16; save it as UTF-8"},
        {std::string("C\0O\0M\0" "5\0=\0", 10), "", "ports.conf: not UTF-8 text (it holds NUL bytes"},
        {std::string("\xFF\xFE\0\0" "C\0\0\0", 8), "", "ports.conf: written as UTF-32; save it as UTF-8"},
        {std::string("\0\0\xFE\xFF" "\0\0\0C", 8), "", "ports.conf: written as UTF-32; save it as UTF-8"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> complaints;
        const PortNameMap map =
            ParseMappingFile(c.text, "ports.conf", [&](const std::string& m) { complaints.push_back(m); }, Platform::Windows);
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
        // Every character of the Bidi_Control property, the Arabic letter mark among them.
        {"\u061C\u200E\u200F\u202A\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069", false,
         "\\u061C\\u200E\\u200F\\u202A\\u202B\\u202C\\u202D\\u202E\\u2066\\u2067\\u2068\\u2069"},
        {"\u061B\u061D\u200D\u2065\u206A", false, "\u061B\u061D\u200D\u2065\u206A"},  // their neighbours are no controls
        {"\xC2\x80\xC2\x9F\x1F\x7F", true, "\\u0080\\u009F\\x1F\\x7F"},                // the ends of C0 and C1
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HasControlCharacter(c.text), c.control) << c.shown;
        EXPECT_EQ(Escaped(c.text), c.shown);
    }
    // A long name is quoted by its beginning, cut where a character ends, and its length.
    const std::string longName = std::string(49, 'A') + "\u00DC" + std::string(100, 'B');
    EXPECT_EQ(Quoted(longName), "'" + std::string(49, 'A') + "'... (151 bytes)");
    EXPECT_EQ(Shortened(longName), std::string(49, 'A') + "... (151 bytes)");
    EXPECT_EQ(Quoted(std::string(60, 'A') + "\n"), "'" + std::string(50, 'A') + "'... (61 bytes)");
    EXPECT_EQ(Quoted("a\nb"), "'a\\nb'");
}

// What a name means: "COM3" the panel's COM3, "=DEVICE" a device as it
// stands, "!WORDS" refused with WORDS in the reason.
void ExpectMeaning(const NamedPort& port, const std::string& expected, const std::string& context) {
    if (expected.starts_with("!")) {
        EXPECT_NE(port.refusal.find(expected.substr(1)), std::string::npos) << context << ": " << port.refusal;
        EXPECT_EQ(port.refusal.find('\n'), std::string::npos) << context;
    } else if (expected.starts_with("=")) {
        EXPECT_EQ(port.refusal, "") << context;
        EXPECT_EQ(port.device, expected.substr(1)) << context;
    } else {
        EXPECT_EQ(port.refusal, "") << context;
        EXPECT_EQ("COM" + std::to_string(port.panel), expected) << context;
    }
}

// Windows' device names ignore case and take one colon, and Windows opens its
// device aliases for names that look like files: each name means one thing,
// or is refused for the reason that holds.
TEST(PortMap, PortNamesOnBothSystems) {
    const struct { std::string name; const char* posix; const char* windows; } cases[] = {
        {"COM1", "COM1", "COM1"},
        {"com1", "COM1", "COM1"},
        {"Com9:", "COM9", "COM9"},
        {"COM1::", "!write COM1", "!write COM1"},
        {"COM1 ", "!write COM1", "!write COM1"},
        {" com3", "!write COM3", "!write COM3"},
        {"COM01", "!write COM1", "!write COM1"},
        {"COM 5", "!write COM5", "!write COM5"},
        {"COM0", "!no COM0", "!no COM0"},
        {"COM12", "!not one of the panel's ports", "=COM12"},
        {"com12:", "!not one of the panel's ports", "=COM12"},
        {"AUX", "=AUX", "!alias AUX"},
        {"nul", "=nul", "!alias NUL"},
        {"lpt1:", "=lpt1:", "!alias LPT1"},
        {"CONOUT$", "=CONOUT$", "!alias CONOUT$"},
        {"COM\xC2\xB9", "=COM\xC2\xB9", "!alias COM\xC2\xB9"},
        {"C:\\temp\\com1.log", "=C:\\temp\\com1.log", "!alias COM1"},
        {"C:\\ports\\till ", "=C:\\ports\\till ", "!drops blanks"},
        {"\\\\.\\COM3", "=\\\\.\\COM3", "=\\\\.\\COM3"},
        {"//./com16", "=//./com16", "=\\\\.\\COM16"},
        {"\\\\?\\COM16", "=\\\\?\\COM16", "=\\\\.\\COM16"},
        {"\\\\.\\COM16:", "=\\\\.\\COM16:", "!before the colon"},
        {"COM5.txt", "=COM5.txt", "!alias COM5"},
        {"COM11:", "!not one of the panel's ports", "=COM11"},
        {"COM05", "!write COM5", "!write COM5"},
        {"COM011", "!write COM11", "!write COM11"},
        {"COM", "!COM needs its number", "!COM needs its number"},
        {"com:", "!COM needs its number", "!COM needs its number"},
        {"\\\\.\\aux", "=\\\\.\\aux", "!alias AUX"},
        {"\\\\.\\COM1 ", "=\\\\.\\COM1 ", "!drops blanks"},
        {"\\\\.\\COM12.", "=\\\\.\\COM12.", "!drops blanks"},
        {"\\\\.\\COM1:x", "=\\\\.\\COM1:x", "!before the colon"},
        {"COM1:x", "!write COM1", "!write COM1"},
        {"COM1:COM2", "!write COM1", "!write COM1"},
        {"AUX:x", "=AUX:x", "!alias AUX"},
        {"COM1\n", "!control character", "!control character"},
        {"/dev/ttyUSB0\x7F", "!control character", "!control character"},
        {"command.txt", "=command.txt", "=command.txt"},
        {"/dev/ttyUSB0", "=/dev/ttyUSB0", "=/dev/ttyUSB0"},
        {"", "!no port named ''", "!no port named ''"},
    };
    for (const auto& c : cases) {
        ExpectMeaning(ReadPortName(c.name, Platform::Posix), c.posix, "Linux '" + c.name + "'");
        ExpectMeaning(ReadPortName(c.name, Platform::Windows), c.windows, "Windows '" + c.name + "'");
    }
    // A mapping names a device: a COM name there is Windows' own port, and no device elsewhere.
    const struct { const char* value; const char* posix; const char* windows; } mapped[] = {
        {"com2:", "!a port name, not a device", "=COM2"},
        {"COM12", "!a port name, not a device", "=COM12"},
        {"Com2 ", "!a port name, not a device", "!write COM2"},
        {"AUX", "=AUX", "!alias AUX"},
        {"COM1:COM2", "!a port name, not a device", "!write COM1"},
        {"socket://till:4001", "=socket://till:4001", "=socket://till:4001"},
    };
    for (const auto& c : mapped) {
        ExpectMeaning(ReadMappedDevice(c.value, Platform::Posix), c.posix, std::string("Linux mapping ") + c.value);
        ExpectMeaning(ReadMappedDevice(c.value, Platform::Windows), c.windows, std::string("Windows mapping ") + c.value);
    }
}

// A mapping line's name follows the same rule, and each complaint names its
// line's own fault; a refused device is kept, so that its port cannot open
// another one in its place.
TEST(PortMap, MappingFileNamesEachFaultAsItIs) {
    const char* text =
        "com5=COM12\n"
        "COM3:=com2\n"
        "COM12=COM3\n"
        "COM 4=COM2\n"
        "COM6=AUX\n"
        "COM7=\n"
        "COM8\n";
    const struct { int line; const char* fault; } faults[] = {
        {3, "only COM1 to COM9 are mapped, not COM12"}, {4, "write COM4"}, {5, "alias AUX"},
        {5, "COM6 will not open"}, {6, "no device after '='"}, {7, "expected COMn=DEVICE"},
    };
    std::vector<std::string> complaints;
    const PortNameMap map = ParseMappingFile(text, "ports.conf", [&](const std::string& m) { complaints.push_back(m); },
                                             Platform::Windows);
    EXPECT_EQ(map[4], "COM12");
    EXPECT_EQ(map[2], "COM2");
    EXPECT_EQ(map[3], "");
    EXPECT_EQ(map[5], "AUX");
    ASSERT_EQ(complaints.size(), 5u);
    for (const auto& f : faults) {
        const std::string& complaint = complaints[static_cast<std::size_t>(f.line - 3)];
        EXPECT_NE(complaint.find("ports.conf:" + std::to_string(f.line) + ": "), std::string::npos) << complaint;
        EXPECT_NE(complaint.find(f.fault), std::string::npos) << complaint;
    }
}

// Windows lists its ports in any order: COM2 comes before COM12, and the ones
// that no name of the list reaches are told apart, with a free name to map.
TEST(PortMap, PortsAboveNineInNumericOrderAndUnreached) {
    const std::vector<PortRecord> found{Port("COM12"), Port("COM2"), Port("COM10"), Port("COM1")};
    std::vector<std::string> order;
    for (const PortRecord& r : OrderDiscovered(found)) order.push_back(r.device);
    EXPECT_EQ(order, (std::vector<std::string>{"COM1", "COM2", "COM10", "COM12"}));
    PortAssignments ports;
    for (int i = 0; i < PortCount; ++i) ports[i] = {"COM" + std::to_string(i + 1), MapSource::Fallback, std::nullopt};
    ports[0].record = Port("COM1");
    ports[1].record = Port("COM2");
    ports[2] = {"COM10", MapSource::File, Port("COM10")};  // COM3=COM10 in the mapping file
    std::vector<std::string> unreached;
    for (const PortRecord& r : UnreachedPorts(ports, found)) unreached.push_back(r.device);
    EXPECT_EQ(unreached, std::vector<std::string>{"COM12"});
    EXPECT_EQ(FreePortNumber(ports), 4);
    for (PortAssignment& p : ports) p.source = MapSource::Environment;
    EXPECT_EQ(FreePortNumber(ports), 0);
}

}  // namespace
