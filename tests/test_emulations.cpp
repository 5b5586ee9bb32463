// SPDX-License-Identifier: GPL-3.0-or-later
// Each emulation's command set, with cases from the makers' command tables.
#include "display/DisplayModel.h"
#include "virtual-display/VirtualDisplay.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vantrel::display;

namespace {

void Feed(DisplayModel& m, const std::string& bytes) {
    m.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 9600);
}

// A row as Line() spells it: padded to 20 characters (UTF-8).
std::string Pad(const std::string& s) {
    const auto characters = std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; });
    return s + std::string(Columns - characters, ' ');
}

struct Case {
    const char* emulation;
    const char* what;
    std::string bytes;
    std::string upper, lower;  // expected rows, padded to 20
    int cursor = -1;           // expected cursor position 0..39, or -1: not checked
    const char* said = nullptr;  // one of the readings, as the monitor says it
    int ms = 0;                  // time that passes after the bytes (a macro plays, a self-test ends)
    std::string later = {};      // bytes after that time
};

const std::string Frame8 = "\x02\x05" "C8\x03";
const std::string Udc41 = "\x1B&\x01" "AA\x05\x7F\x41\x41\x41\x7F";  // a hollow box at 41 hex

// Every case runs twice: the bytes in one read, and one byte per read, so
// that every command is also seen split across reads; the screens and the
// readings must not tell the two apart.
TEST(Emulations, EachReadsItsOwnCommandSet) {
    using namespace std::string_literals;
    const std::string Counter1234 = std::string(15, ' ') + "12:34";
    const Case cases[] = {
        // DSP800
        {"DSP800", "position 31 hex is 1, 45 hex is 21", "\x04\x01P\x45\x17" "AB\x04\x01P\x31\x17" "C", "C", "AB", 1},
        {"DSP800", "clear positions 2 to 22", "\x0C" "ABCDEFGHIJKLMNOPQRSTUVWXYZ\x04\x01" "C\x32\x46\x17", "A", "  WXYZ", 1},
        {"DSP800", "the shown message saved, then shown", "HELLO\x04\x01S1\x17\x0C\x04\x01" "D11\x17", "HELLO", ""},
        {"DSP800", "ESC R n", "\x1BR\x02[", "Ä", "", 1},
        {"DSP800", "an unknown EOT SOH command is one unread command", "\x04\x01Z" "A", "A", "", 1,
         "[unread EOT SOH \"Z\"]"},
        // ESCPOS
        {"ESCPOS", "US $ x y is 1-based", "\x1F$\x05\x02" "HI", "", "    HI", 26},
        {"ESCPOS", "CAN clears the cursor's line", "TOP\x0A\x0D" "BOTTOM\x18", "TOP", "", 20},
        {"ESCPOS", "vertical scroll: a full lower row scrolls at the next character",
         "\x1F\x02" + std::string(40, 'a') + "Z", std::string(20, 'a'), "Z", 21},
        {"ESCPOS", "vertical scroll: LF after a full lower row scrolls once",
         "\x1F\x02" + std::string(20, 'a') + std::string(20, 'b') + "\x0A" "c", std::string(20, 'b'), "c", 21},
        {"ESCPOS", "horizontal scroll: the row shifts left", "\x1F\x03" "ABCDEFGHIJKLMNOPQRSTUV", "CDEFGHIJKLMNOPQRSTUV", "", 19},
        {"ESCPOS", "BS HT LF CR move the cursor", "AB\x08X\x09Y\x0AZ\x0DW", "AX Y", "W   Z", 21},
        {"ESCPOS", "US LF up, US CR right-most", "\x1F$\x03\x02" "A\x1F\x0A" "B\x1F\x0D" "C", "   B" + std::string(15, ' ') + "C",
         "  A", 20, "US LF  cursor up"},
        {"ESCPOS", "US B bottom position", "\x1F" "BX", "", "X", 21, "US \"B\"  bottom position"},
        {"ESCPOS", "an argument out of range is consumed, not shown", "\x1F" "C\x07" "A", "A", "", 1,
         "US \"C\" BEL  cursor (out of range: ignored)"},
        {"ESCPOS", "US T h m: the screen cleared, the counter at the right", "JUNK\x1FT\x0C\x22", "", Counter1234, 0,
         "US \"T\" FF \"\"\"  time counter set 12:34"},
        {"ESCPOS", "US T with an hour past 23 is consumed", "A\x1FT\x18\x00" "B"s, "AB", "", 2},
        {"ESCPOS", "US U shows the counter since power-on", "\x1FU", "", std::string(12, ' ') + "00:00:00", 0},
        {"ESCPOS", "US r, US v, US X, US E take their argument", "\x1Fr\x01R\x1Fv\x01\x1FX\x02\x1F" "E\x0A" "S", "RS", "", 2,
         "US \"v\" SOH  DTR signal on"},
        {"ESCPOS", "US @ runs the self-test", "\x1F@", "  VANTREL SELF TEST ", "!\"#$%&'()*+,-./01234", -1, "US \"@\"  self-test"},
        {"ESCPOS", "ESC t n code table", "\x1Bt\x10\x80", "€", "", 1},
        // A cell keeps the character it was written with.
        {"ESCPOS", "ESC t: \"no effect on data displayed before this command is received\"", "\x80\x80\x1Bt\x10\x80", "ÇÇ€", "", 3},
        {"ESCPOS", "ESC %: \"no effect on the characters already displayed\"", Udc41 + "\x1B%\x01" "A\x1B%\x00" "A\x1B%\x01"s,
         "\u25A9A", "", 2},
        {"ESCPOS", "ESC &: a character shown before its definition stays as it was shown", "\x1B%\x01" "A" + Udc41 + "A",
         "A\u25A9", "", 2},
        {"ESCPOS", "ESC R: a national character already shown stays", "[\x1BR\x02[", "[Ä", "", 2},
        {"NCR", "ESC 22: \"switching between sets does not erase or change the display\"", "\x80\x1B\x22\x80", "ÇА", "", 2},
        {"DSP800", "W1255: each Hebrew letter shows at once, none is held back for a point", "\x02\x05" "FD\x03\xE0\xE1\xE2" "A",
         "אבגA", "", 4},
        {"ESCPOS", "printer selected: bytes pass the display", "\x1B=\x01" "HIDDEN\x1B=\x02" "SHOWN", "SHOWN", "", 5,
         "\"HIDDEN\"  to printer"},
        {"ESCPOS", "ESC & defines, ESC % selects", Udc41 + "\x1B%\x01" "AB", "\u25A9B", "", 2,
         "ESC \"&\" SOH \"AA\" ENQ 7F \"AAA\" 7F  user-defined characters 41 to 41 (1 defined)"},
        {"ESCPOS", "ESC ? deletes one", Udc41 + "\x1B%\x01\x1B?AAB", "AB", "", 2},
        {"ESCPOS", "a macro's bytes are kept, not shown", "\x1F:" "MACRO\x1F:" "X", "X", "", 1,
         "US \":MACRO\" US \":\"  macro definition 5 bytes"},
        {"ESCPOS", "an unknown US prefix is one unread command", "\x1Fz" "A", "A", "", 1, "[unread US \"z\"]"},
        {"ESCPOS", "US ^: \"If data is received from the host during macro processing, the macro processing is terminated\", also in the same write",
         "\x1F:AD\x1F:\x1F^\x05\x05HELLO", "HELLO", "", 5, "\"HELLO\"  text", 1000},
        {"ESCPOS", "a macro that ends inside a command keeps no half command", "\x1F:AB\x1F$\x1F:\x1F^\x00\x00"s, "XY", "", 2,
         "US \"$\"  macro: cut off inside a command (dropped)", 1, "XY"},
        {"ESCPOS", "the bytes a macro plays are the macro's, not the host's next write", "\x1F:HI\x1F:\x1F^\x00\x00"s, "Z", "", 1,
         "\"Z\"  text", 3 * StepMs, "Z"},
        {"ESCPOS", "US :: \"exceeds 80 bytes\": \"any following data is processed as normal data\"",
         "\x1F:" + std::string(80, 'm') + "AB\x1F^\x00\x00"s, "AB", "", 2, "US \"^\" NUL NUL  macro run (no macro: ignored)"},
        {"ESCPOS", "US :: the two bytes after the 80th are a command again", "\x1F:" + std::string(80, 'm') + "\x1F" "BX", "", "X", 21,
         "US \"B\"  bottom position"},
        {"ESCPOS", "US @: \"All set values ... are initialized\", \"the screen is cleared ... moved to the home position\"",
         "KEPT\x1F\x03\x1F@", std::string(20, 'o'), "o", 21, nullptr, 3000, std::string(21, 'o')},
        {"ESCPOS", "BS at home, overwrite mode: \"it is moved to the right end of the lower line\"", "\x08X", "",
         std::string(19, ' ') + "X", 0},
        {"ESCPOS", "BS, vertical scroll mode: \"the display on the upper line is scrolled to the lower line\"",
         "\x1F\x02" "AB\x08\x08\x08X", std::string(19, ' ') + "X", "AB", 20},
        {"ESCPOS", "US LF on the upper line, vertical scroll mode: the upper line scrolls to the lower line", "\x1F\x02" "AB\x1F\x0A" "C",
         "  C", "AB", 3},
        {"ESCPOS", "US ( A pL pH a [n m]: read whole, not drawn", "\x1F(A\x03\x00\x30\x31\x00X"s, "X", "", 1,
         "US \"(A\" ETX NUL \"01\" NUL  extended command US ( A, 3 bytes (read, not drawn)"},
        {"ESCPOS", "US ( E pL pH: \"(pL + (pH x 256)) as the number of bytes after pH\", 65,535 of them", "\x1F(E\xFF\xFF" + std::string(0xFFFF, 'x') + "A",
         "A", "", 1},
        {"ESCPOS", "ESC W n m (x1 y1 x2 y2): \"When m = 1 or 49, a window is selected\"; m = 48 cancels",
         "\x1BW\x01\x01\x01\x01\x14\x02\x1BW\x01\x30X", "X", "", 1, "ESC \"W\" SOH SOH SOH SOH DC4 STX  window (read, not drawn)"},
        {"ESCPOS", "US v n: \"n = 0, 1, 48, 49\"", "\x1Fv\x31" "A", "A", "", 1, "US \"v1\"  DTR signal on"},
        // CD5220
        {"CD5220", "ESC Q A / B write whole rows", "OLD TEXT\x1BQAHELLO\x0D\x1BQBWORLD\x0D", "HELLO", "WORLD"},
        {"CD5220", "ESC l x y, then ESC [ H home", "\x1Bl\x03\x02" "X\x1B[HY", "Y", "  X", 1},
        {"CD5220", "string mode takes no text; CLR ends it", "\x1BQAHALF\x0D" "lost\x0C" "AFTER", "AFTER", "", 5},
        {"CD5220", "a string longer than the row keeps 20", "\x1BQB" + std::string(25, 'L') + "\x0D", "", std::string(20, 'L')},
        {"CD5220", "ESC [ K, A, L, R", "\x1B[KX\x1B[AY\x1B[LZ\x1B[RW", "ZY" + std::string(17, ' ') + "W", "X", 20},
        {"CD5220", "ESC [ D and C", "AB\x1B[D\x1B[D" "C\x1B[C" "D", "CBD", "", 3},
        {"CD5220", "US B, US LF, US CR", "\x1F" "BX\x1F\x0AY\x1F\x0DZ", " Y" + std::string(17, ' ') + "Z", "X", 20},
        {"CD5220", "ESC W: only the window scrolls", "\x1BW\x01\x05\x08\x01\x1B\x13" "ABCDEFG", "    DEFG", "", 7},
        {"CD5220", "ESC f by letter, ESC c by letter", "\x1B" "fG[\x1B" "cR\x80", "ÄА", "", 2},
        {"CD5220", "ESC = '1' and '2'", "\x1B=1X\x1B=2Y", "Y", "", 1},
        {"CD5220", "ESC b stores the demonstration's message",
         "\x1B" "b" + std::string("DEMO UPPER ROW      ") + "DEMO LOWER ROW      " + "\x02\x05" "D\x03", "DEMO UPPER ROW",
         "DEMO LOWER ROW"},
        {"CD5220", "ESC # n selects the command type", "\x1B#4!#1HI\x0D", "HI", "", -1, "ESC \"#4\"  command type AEDEX"},
        {"CD5220", "an unknown ESC [ command is one unread command", "\x1B[Z" "A", "A", "", 1, "[unread ESC \"[Z\"]"},
        {"CD5220", "BS at home, overwrite mode: to the right end of the lower line", "\x08X", "", std::string(19, ' ') + "X", 0},
        {"CD5220", "LF in horizontal scroll mode: \"The cursor is not moved\"", "\x1B\x13" "AB\x0A" "C", "ABC", "", 3},
        {"CD5220", "ESC f R: Russia, the Cyrillic characters", "\x1B" "fR\x80", "А", "", 1, "ESC \"fR\"  international set Russia (PC866)"},
        // AEDEX
        {"AEDEX", "attention code, then 1 / 2", "!#1UPPER\x0D!#2LOWER\x0D", "UPPER", "LOWER"},
        {"AEDEX", "9: both lines from one string of 40", "!#9" + std::string(20, 'u') + "DOWN\x0D", std::string(20, 'u'), "DOWN"},
        {"AEDEX", "a new attention code replaces !#", "!#8~`\x0D~`2NEW\x0D!#1OLD\x0D", "", "NEW"},
        {"AEDEX", "text outside a command is not shown", "stray\x0C", "", ""},
        {"AEDEX", "5 hh:mm shows the time; B the lower line; 7 is read", "!#512:34\x0D!#7\x0D", "", Counter1234, -1,
         "\"!#7\" CR  stop trapping"},
        {"AEDEX", "B writes the lower line", "!#BLOW\x0D", "", "LOW"},
        // UTC_S
        {"UTC_S", "DLE 14 hex is row 2, column 1", "\x10\x14" "B\x10\x00" "A"s, "A", "B", 1},
        {"UTC_S", "a position past 27 hex is ignored", "X\x10\x28" "Y", "XY", "", 2},
        {"UTC_S", "US resets: clear, home", "SOMETHING\x1F" "A", "A", "", 1},
        {"UTC_S", "DC2 vertical scroll", "\x12" + std::string(20, 'a') + std::string(20, 'b') + "c", std::string(20, 'b'), "c", 21},
        {"UTC_S", "ESC d: the enhanced set", "\x1B" "d\x1BuAHI\x0D", "HI", "", -1, "ESC \"d\"  to the enhanced set: UTC_E"},
        {"UTC_S", "BS: \"moves one digit to the left erasing the previous information\"", "AB\x08", "A", "", 1},
        {"UTC_S", "power-on and US reset: \"Vertical Scroll Mode ... Default mode\"", "\x0A\x0D" "LABEL\x0A\x0D" "9.99\x11\x1F\x0A\x0D" "NEXT\x0A\x0D" "1.00",
         "NEXT", "1.00", 24},
        // UTC_E
        {"UTC_E", "ESC u A / B", "\x1BuAONE\x0D\x1BuBTWO\x0D", "ONE", "TWO"},
        {"UTC_E", "ESC u I takes both lines", "\x1BuI" + std::string(20, 'x') + "y\x0D", std::string(20, 'x'), "y"},
        {"UTC_E", "ESC u E hh:mm", "\x1BuE12:34\x0D", "", Counter1234},
        {"UTC_E", "ESC u H: a new attention code", "\x1BuH~`\x0D~`AHI\x0D", "HI", ""},
        {"UTC_E", "ESC 0F CR: the standard set", "\x1B\x0F\x0D\x10\x14X", "", "X", 21},
        // ADM787
        {"ADM787", "SO / SI clear a line, CR ends it", "UP\x0D" "DOWN\x0E" "NEW", "NEW", "DOWN", 3},
        {"ADM787", "SI clears the lower line", "\x0D" "GONE\x0F" "X", "", "X", 21},
        {"ADM787", "RS clears field 1", "\x0D" "ABCDEFGHIJKLMNOPQRST\x1E" "X", "", "X       IJKLMNOPQRST", 21},
        {"ADM787", "US clears field 2", "\x0D" "ABCDEFGHIJKLMNOPQRST\x1FY", "", "ABCDEFGHIJKLY", 33},
        {"ADM787", "DC0 n, DC1 n, DC2 n take their argument", "\x10" "3\x11" "1\x12" "2A", "A", "", 1},
        // ICD2002
        {"ICD2002", "ESC D / ESC U select rows", "\x1B" "DLOW\x1BUHIGH", "HIGH", "LOW", 4},
        {"ICD2002", "ESC C r c; ESC E r 3 clears the row", "\x1B" "EX4" "ABC\x1B" "CD\x05X\x1B" "EU3", "", "    X", 0},
        {"ICD2002", "ESC C in shift mode: \"only valid in overwrite mode\"", "AB\x1B" "CD\x05X", "ABX", "", 3,
         "ESC \"CD\" ENQ  cursor to position (only in overwrite mode: ignored)"},
        {"ICD2002", "shift mode on one row", "\x1B" "EX4\x1B" "EU0" + std::string(21, 'q') + "!", std::string(18, 'q') + "q!", "", 19},
        {"ICD2002", "power-on: \"shift mode (default display mode)\"", std::string(21, 'q') + "!", std::string(19, 'q') + "!", "", 19},
        {"ICD2002", "ESC @: \"set display mode to shift\"", "\x1B" "EX4\x1B@" + std::string(21, 'q') + "!", std::string(19, 'q') + "!", "", 19},
        {"ICD2002", "ESC E X 4: both rows overwrite", "\x1B" "EX4" + std::string(21, 'o'), std::string(20, 'o'), "o", 21},
        {"ICD2002", "ESC A z takes its argument", "\x1B" "AEok", "ok", "", 2},
        // NCR
        {"NCR", "every byte but ESC is shown", "A\x0C" "B\x1B\x13\x15" "C", "A\u2640B", " C", 22},
        {"NCR", "DEL shows as the code page's glyph", "A\x7F", "A\u2302", "", 2},
        {"NCR", "ESC 0F left, ESC 11 up, ESC 1B shows ESC", "AB\x1B\x0F" "C\x1B\x12\x1B\x1B", "AC", "  \u2190", 23},
        {"NCR", "ESC 02 erases; ESC 20 picks PC858", "junk\x1B\x02\x1B\x20\xD5", "€", "", 1},
        {"NCR", "an unknown ESC command is ignored whole", "\x1B\x05" "A", "A", "", 1, "[unread ESC ENQ]"},
        {"NCR", "ESC 0F at home: \"it moves to the right end of the lower line\"", "\x1B\x0FX", "", std::string(19, ' ') + "X", 0},
        {"NCR", "Brightness Adjustment 1B 17 nn: \"01 <= nn <= 05\"", "\x1B\x17\x02" "A", "A", "", 1, "ESC ETB STX  brightness 40%"},
        {"NCR", "Enable Cursor 1B 07, Disable Cursor 1B 08", "\x1B\x07" "A\x1B\x08", "A", "", 1, "ESC BS  cursor off"},
        // PD6000
        {"PD6000", "plain text, common controls", "GARBAGE\x0CHI\x0A\x08" "X", "HI", " X", 22},
        // Every emulation keeps the set-up commands; NUL is ignored between commands.
        {"AEDEX", "configuration frame switches to NCR", Frame8 + "\x0C" "A", "\u2640A", "", 2},
        {"CD5220", "ESC @ initialises", "TEXT\x1B@" + "\x00\x00"s + "B", "B", "", 1},
        {"UTC_S", "NUL is ignored", "A\x00\x00" "B"s, "AB", "", 2},
        {"ESCPOS", "a frame without ETX is consumed", "\x02\x05" "C4XA", "A", "", 1,
         "STX ENQ \"C4X\"  set-up: emulation (no ETX: ignored)"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> saidWhole;
        for (const bool split : {false, true}) {
            DisplayModel m;
            ASSERT_TRUE(m.SetEmulation(c.emulation)) << c.emulation;
            const auto feed = [&](const std::string& bytes) {
                if (split)
                    for (char b : bytes) Feed(m, std::string(1, b));
                else
                    Feed(m, bytes);
            };
            feed(c.bytes);
            m.Elapse(c.ms);
            feed(c.later);
            const std::string at = std::string(c.emulation) + ": " + c.what + (split ? " (a byte per read)" : "");
            EXPECT_EQ(m.Line(0), Pad(c.upper)) << at;
            EXPECT_EQ(m.Line(1), Pad(c.lower)) << at;
            if (c.cursor >= 0) {
                EXPECT_EQ(m.CursorRow() * Columns + m.CursorColumn(), c.cursor) << at;
            }
            std::vector<std::string> said;
            for (const Reading& r : m.TakeReadings()) said.push_back(DescribeReading(r));
            if (c.said) {
                EXPECT_NE(std::find(said.begin(), said.end(), c.said), said.end()) << at << ": " << testing::PrintToString(said);
            }
            if (split) {
                EXPECT_EQ(said, saidWhole) << at;
            } else {
                saidWhole = said;
            }
        }
    }
}

TEST(Emulations, ModesBrightnessAndCursorShowInTheStatus) {
    DisplayModel m;
    m.SetEmulation("CD5220");
    Feed(m, "\x1B*\x02\x1B_\x01");
    EXPECT_EQ(m.Brightness(), 40);
    EXPECT_NE(m.Status().find("CD5220  9600 bit/s  USA  PC437  demo off  brightness 40%  cursor on"), std::string::npos)
        << m.Status();
    m.SetEmulation("UTC_S");
    Feed(m, "\x04\x20\x11\x1F");  // brightness 20 %, overwrite, then reset
    EXPECT_EQ(m.Brightness(), 100);
    EXPECT_EQ(m.RowMode(1), Mode::VerticalScroll);
}

TEST(Emulations, TheMonitorSaysHowEachCommandWasRead) {
    DisplayModel m;
    m.SetEmulation("CD5220");
    Feed(m, "\x1BQAHELLO\x0D\x0C" "AB\x1Bz\x02\x05" "C4\x03");
    std::vector<std::string> said;
    for (const Reading& r : m.TakeReadings()) said.push_back(DescribeReading(r));
    const std::vector<std::string> expected{"ESC \"QAHELLO\" CR  upper line", "FF  clear (string mode ends)", "\"AB\"  text", "[unread ESC \"z\"]",
                                            "STX ENQ \"C4\" ETX  set-up: emulation AEDEX"};
    EXPECT_EQ(said, expected);
    EXPECT_STREQ(m.Emulation(), "AEDEX");
    EXPECT_TRUE(m.TakeReadings().empty());
}

TEST(Emulations, StateFileKeepsTheSetUpAndSurvivesDamage) {
    const std::string path = testing::TempDir() + "vantrel-display-state";
    std::filesystem::remove(path);
    {
        DisplayModel m;
        LoadSetup(path, m);  // no file: power-on
        EXPECT_STREQ(m.Emulation(), "DSP800");
        m.OnSetupChanged([&](const vantrel::display::Setup& s) { ASSERT_TRUE(SaveSetup(path, s)); });
        Feed(m, "\x02\x05" "C4\x03\x02\x05S2\x03\x02\x05" "F2\x03\x02\x05" "B7\x03");  // the speed last
    }
    DisplayModel restored;
    LoadSetup(path, restored);
    EXPECT_STREQ(restored.Emulation(), "AEDEX");
    EXPECT_EQ(restored.OwnBaud(), 19200);
    EXPECT_STREQ(restored.International(), "Germany");
    EXPECT_STREQ(restored.CodePage(), "PC850");

    const char* damaged[] = {"", "emulation=AEDEX\n", "emulation=NOPE\nspeed=9600\ninternational=USA\ncodepage=PC437\n",
                             "emulation=AEDEX\nspeed=99999999999999\ninternational=USA\ncodepage=PC437\n", "\xff\xfe\x00garbage"};
    for (const char* text : damaged) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        DisplayModel m;
        testing::internal::CaptureStderr();
        LoadSetup(path, m);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_STREQ(m.Emulation(), "DSP800") << text;
        EXPECT_EQ(m.OwnBaud(), 9600);
        EXPECT_NE(err.find("damaged state file"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    std::filesystem::remove(path);
}

// Files that are not a small regular file are refused at once: none blocks,
// none is read whole.
TEST(Emulations, StateFileThatIsNoSmallFileIsRefused) {
    namespace fs = std::filesystem;
    const std::string path = testing::TempDir() + "vantrel-state-kinds";
    const struct {
        const char* name;
        std::function<void()> make;
        const char* says;
    } cases[] = {
        {"named pipe", [&] { mkfifo(path.c_str(), 0644); }, "a named pipe, not a regular file"},
        {"device", [&] { fs::create_symlink("/dev/zero", path); }, "a device, not a regular file"},
        {"1 GB", [&] { fs::resize_file((std::ofstream(path), path), 1 << 30); }, "larger than 4 KiB"},
    };
    for (const auto& c : cases) {
        fs::remove(path);
        c.make();
        DisplayModel m;
        testing::internal::CaptureStderr();
        LoadSetup(path, m);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.says), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_STREQ(m.Emulation(), "DSP800");
    }
    fs::remove(path);
}

// Saving never follows a link planted at the temporary name it tries first,
// and two displays saving one file at once never leave it empty or half written.
TEST(Emulations, SavingIsSafeFromLinksAndFromASecondDisplay) {
    namespace fs = std::filesystem;
    const std::string path = testing::TempDir() + "vantrel-state-shared", victim = path + "-victim";
    const std::string temporaries = testing::TempDir() + ".vantrel-" + std::to_string(getpid()) + "-";
    const std::string planted = temporaries + "0";
    fs::remove(path);
    std::ofstream(victim) << "keep";
    fs::remove(planted);
    fs::create_symlink(victim, planted);
    const vantrel::display::Setup setups[] = {{"AEDEX", 9600, "USA", "PC437"}, {"CD5220", 19200, "Germany", "PC850"}};
    ASSERT_TRUE(SaveSetup(path, setups[0]));
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");

    std::atomic<bool> done{false};
    std::atomic<int> failedSaves{0}, badReads{0};
    std::vector<std::thread> savers;
    for (const vantrel::display::Setup& setup : setups)
        savers.emplace_back([&, setup] {
            for (int i = 0; i < 300; ++i) failedSaves += !SaveSetup(path, setup);
        });
    std::thread reader([&] {
        while (!done) {
            DisplayModel m;
            std::ifstream f(path);
            std::string error;
            badReads += !ParseSetup(std::string(std::istreambuf_iterator<char>(f), {}), m, error);
        }
    });
    for (auto& t : savers) t.join();
    done = true;
    reader.join();
    EXPECT_EQ(failedSaves, 0);
    EXPECT_EQ(badReads, 0);
    std::size_t leftovers = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path()))
        leftovers += entry.path().string().rfind(temporaries, 0) == 0 && entry.path() != planted;
    EXPECT_EQ(leftovers, 0u) << "no temporary file is left";
    fs::remove(path);
    fs::remove(planted);
    fs::remove(path + ".tmp");
    fs::remove(victim);
}

}  // namespace
