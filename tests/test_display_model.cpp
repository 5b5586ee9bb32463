// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/DisplayModel.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace vantrel::display;
using namespace std::string_literals;

namespace {

void Feed(DisplayModel& m, const std::string& bytes, int baud = 9600) {
    m.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), baud);
}

std::string Frame(char group, char argument) { return std::string{'\x02', '\x05', group, argument, '\x03'}; }

}  // namespace

TEST(DisplayModel, ClearThenFortyBytesFillTheScreenExactly) {
    DisplayModel m;
    Feed(m, "garbage\x0C" "     THANK YOU        HAVE A NICE DAY   ");
    EXPECT_EQ(m.Line(0), "     THANK YOU      ");
    EXPECT_EQ(m.Line(1), "  HAVE A NICE DAY   ");
    EXPECT_EQ(m.CursorRow(), 0) << "the end of line 2 goes back home";
    EXPECT_EQ(m.CursorColumn(), 0);
    Feed(m, "XY");  // overwrite mode: the next bytes land at the home position
    EXPECT_EQ(m.Line(0), "XY   THANK YOU      ");
}

TEST(DisplayModel, CursorControls) {
    DisplayModel m;
    Feed(m, "ABC\x08Z");  // BS
    EXPECT_EQ(m.Line(0).substr(0, 3), "ABZ");
    Feed(m, "\x09Q");  // HT skips a position
    EXPECT_EQ(m.Line(0).substr(0, 5), "ABZ Q");
    Feed(m, "\x0DR");  // CR
    EXPECT_EQ(m.Line(0).substr(0, 5), "RBZ Q");
    Feed(m, "\x0A" "S");  // LF: the other line, same column
    EXPECT_EQ(m.Line(1).substr(0, 2), " S");
    Feed(m, "\x0BT");  // home
    EXPECT_EQ(m.Line(0).substr(0, 2), "TB");
}

TEST(DisplayModel, EscAtInitialisesButKeepsTheStoredSpeedAndEmulation) {
    DisplayModel m;
    Feed(m, Frame('C', '7') + Frame('B', '7') + Frame('S', '2') + Frame('F', '2') + "hello");
    ASSERT_EQ(m.OwnBaud(), 19200);
    Feed(m, "\x1B@", 19200);
    EXPECT_EQ(m.Line(0), std::string(20, ' '));
    EXPECT_STREQ(m.International(), "USA");
    EXPECT_STREQ(m.CodePage(), "PC437");
    EXPECT_STREQ(m.Emulation(), "CD5220");
    EXPECT_EQ(m.OwnBaud(), 19200);
    // ESC @ and ESC R change what is in use, never the stored set-up that the
    // next configuration frame saves.
    DisplayModel e;
    vantrel::display::Setup saved{};
    e.OnSetupChanged([&](const vantrel::display::Setup& s) { saved = s; });
    Feed(e, Frame('S', '2') + Frame('F', '2') + Frame('C', '1') + "\x1BR\x08");
    EXPECT_STREQ(e.International(), "Japan");
    Feed(e, "\x1B@" + Frame('C', '0'));
    EXPECT_STREQ(e.International(), "USA");
    EXPECT_STREQ(saved.international, "Germany");
    EXPECT_STREQ(saved.codePage, "PC850");
}

TEST(DisplayModel, EveryConfigurationFrameOfThePanel) {
    struct Row {
        char group, argument;
        const char* value;
    };
    const Row rows[] = {
        {'C', '0', "DSP800"}, {'C', '1', "ESCPOS"}, {'C', '2', "ADM787"}, {'C', '4', "AEDEX"}, {'C', '5', "UTC_S"},
        {'C', '6', "UTC_E"}, {'C', '7', "CD5220"}, {'C', '8', "NCR"}, {'C', '9', "PD6000"}, {'C', ':', "ICD2002"},
        {'B', '5', "300"}, {'B', '4', "600"}, {'B', '3', "1200"}, {'B', '2', "2400"}, {'B', '1', "4800"},
        {'B', '7', "19200"}, {'B', '6', "38400"}, {'B', '0', "9600"},
        {'S', '0', "USA"}, {'S', '1', "France"}, {'S', '2', "Germany"}, {'S', '3', "U.K"}, {'S', '4', "Denmark1"},
        {'S', '5', "Sweden"}, {'S', '6', "Italy"}, {'S', '7', "Spain1 "}, {'S', '8', "Japan"}, {'S', '9', "Norway"},
        {'S', ':', "Denmark2"}, {'S', ';', "Spain2"}, {'S', '<', "LatinAm"}, {'S', '=', "KOREA "}, {'S', '>', "SlovCro"},
        {'S', '?', "China"},
        {'F', '0', "PC437"}, {'F', '1', "JIS"}, {'F', '2', "PC850"}, {'F', '3', "PC860"}, {'F', '4', "PC863"},
        {'F', '5', "PC865"}, {'F', '6', "PC737"}, {'F', '7', "W1250"}, {'F', '8', "W1251"}, {'F', '9', "W1252"},
        {'F', ':', "PC866"}, {'F', ';', "PC852"}, {'F', '<', "PC858"}, {'F', '=', "PC775"}, {'F', '>', "W1253"},
        {'F', '?', "W1254"}, {'F', '@', "W1257"}, {'F', '!', "PC864"}, {'F', '$', "Farsi"}, {'F', 'D', "W1255"},
    };
    DisplayModel m;
    for (const Row& r : rows) {
        Feed(m, Frame(r.group, r.argument), m.OwnBaud());
        const std::string got = r.group == 'C'   ? m.Emulation()
                                : r.group == 'B' ? std::to_string(m.OwnBaud())
                                : r.group == 'S' ? m.International()
                                                 : m.CodePage();
        EXPECT_EQ(got, r.value) << r.group << r.argument;
    }
    Feed(m, Frame('C', '3'));  // no such style: ignored
    EXPECT_STREQ(m.Emulation(), "ICD2002");
    EXPECT_EQ(m.Line(0), std::string(20, ' ')) << "configuration frames show nothing";
}

TEST(DisplayModel, CodePageGlyphs) {
    DisplayModel m;
    Feed(m, std::string("\xB2\xB0\x80\xE1", 4));
    EXPECT_EQ(m.Line(0).substr(0, 10), "▓░Çß");
    Feed(m, "\x0C" + Frame('F', '8') + std::string("\xC0\xE0", 2));  // W1251
    EXPECT_EQ(m.Line(0).substr(0, 4), "Аа");
    Feed(m, "\x0C" + Frame('F', '9') + std::string("\x80\xE9", 2));  // W1252
    EXPECT_EQ(m.Line(0).substr(0, 5), "€é");
    EXPECT_EQ(CodePageGlyph("PC866", 0x80), U'А');
    EXPECT_EQ(CodePageGlyph("JIS", 0xB1), U'ｱ');
}

TEST(DisplayModel, InternationalSetsReplaceTheNationalCharacters) {
    DisplayModel m;
    Feed(m, Frame('S', '2') + "[\\]{|}~@");  // Germany
    EXPECT_EQ(m.Line(0).substr(0, 16), "ÄÖÜäöüß§");
    Feed(m, "\x0C" + Frame('S', '3') + "#$");  // United Kingdom
    EXPECT_EQ(m.Line(0).substr(0, 3), "£$");
    Feed(m, std::string("\x0C\x1BR\x08\\", 5));  // ESC R 8: Japan
    EXPECT_EQ(m.Line(0).substr(0, 2), "¥");
    EXPECT_STREQ(m.International(), "Japan");
}

TEST(DisplayModel, DemoRunsUntilClearDemo) {
    DisplayModel m;
    Feed(m, "\x0CSTILL HERE");
    Feed(m, std::string("\x02\x05" "D\x03", 4));
    EXPECT_TRUE(m.DemoRunning());
    const std::string first = m.Line(0);
    m.Tick();
    EXPECT_NE(m.Line(0), first) << "the demo text moves";
    EXPECT_NE(m.Status().find("demo on"), std::string::npos);
    Feed(m, std::string("\x02\x05\x07\x03", 4));
    EXPECT_FALSE(m.DemoRunning());
    EXPECT_EQ(m.Line(0), "STILL HERE          ");
}

TEST(DisplayModel, SpeedMismatchShowsGarbageAndSaysWhy) {
    DisplayModel m;
    Feed(m, Frame('B', '7'));  // the display now expects 19200
    Feed(m, "\x0CHELLO", 9600);
    EXPECT_TRUE(m.SpeedMismatch());
    EXPECT_EQ(m.Line(0).find("HELLO"), std::string::npos);
    EXPECT_NE(m.Status().find("line at 9600 bit/s, display expects 19200"), std::string::npos);
    EXPECT_STREQ(m.Emulation(), "DSP800");
    Feed(m, "\x0CHELLO", 19200);
    EXPECT_FALSE(m.SpeedMismatch());
    EXPECT_EQ(m.Line(0), "HELLO               ");
}

TEST(DisplayModel, SpeedChangeCutsACommandShortAndAnUnknownSpeedIsNamed) {
    DisplayModel m;
    Feed(m, "\x02\x05", 9600);
    Feed(m, "XY", 4800);
    Feed(m, "\x0C" "A", 9600);
    std::vector<std::string> said;
    for (const Reading& r : m.TakeReadings()) said.push_back(DescribeReading(r));
    EXPECT_EQ(said, (std::vector<std::string>{"[unread STX ENQ]", "FF  clear", "\"A\"  text"}));
    Feed(m, "Z", UnknownBaud);
    EXPECT_NE(m.Status().find("line at an unknown speed, display expects 9600"), std::string::npos) << m.Status();
}

TEST(DisplayModel, ReadingsPastTheLimitAreCounted) {
    DisplayModel m;
    Feed(m, std::string(4096, '\x0C'));
    EXPECT_EQ(m.TakeReadings().size(), DisplayModel::ReadingLimit);
    EXPECT_EQ(m.TakeReadingsLeftOut(), 4096 - DisplayModel::ReadingLimit);
    EXPECT_EQ(m.TakeReadingsLeftOut(), 0u);
}

// A command's words are made when the readings are taken, long after it was
// performed: they still say what it did then, whichever way they were kept.
TEST(DisplayModel, ReadingsSayWhatEachCommandDidWhenTakenLater) {
    DisplayModel m;
    ASSERT_TRUE(m.SetEmulation("ESCPOS"));
    Feed(m, std::string("\x1BR\x02\x1F$\x05\x02\x1FX\x04\x1F" "E\x05\x1F(A\x02\x00xy\x1F" "E\x00\x1BR\x00", 27));
    ASSERT_TRUE(m.SetEmulation("CD5220"));
    Feed(m, std::string("\x1BW\x01\x03\x0F\x01", 6));
    std::vector<std::string> said;
    for (const Reading& r : m.TakeReadings()) said.push_back(DescribeReading(r));
    EXPECT_EQ(said, (std::vector<std::string>{
                        "ESC \"R\" STX  international set Germany",     // a label
                        "US \"$\" ENQ STX  cursor to position 25",      // a number
                        "US \"X\" EOT  brightness 100%",                // a number and a text after it
                        "US \"E\" ENQ  blink every 250 ms",             // texts on both sides
                        "US \"(A\" STX NUL \"xy\"  extended command US ( A, 2 bytes (read, not drawn)",  // made by the action
                        "US \"E\" NUL  blink steady",
                        "ESC \"R\" NUL  international set USA",
                        "ESC \"W\" SOH ETX SI SOH  scroll window columns 3 to 15",
                    }));
}

// Whoever sorts readings (the ranking) asks their kind; the words stay the
// monitor's. A macro's unread byte is unread too, though it has words.
TEST(DisplayModel, EachReadingCarriesItsKind) {
    using K = ReadingKind;
    const struct {
        const char* emulation;
        std::string bytes;
        int ms;  // then `later` from the host
        std::string later;
        std::vector<K> kinds;
    } cases[] = {
        {"DSP800", "AB\x0C\x01\x01", 0, "", {K::Text, K::Command, K::Unread}},
        {"ESCPOS", "\x1F$\x30\x01\x1FX\x04\x1FX\x09\x1Fz", 0, "", {K::OutOfRange, K::Command, K::OutOfRange, K::Unread}},
        {"DSP800", "\x02\x05" "C3\x03" "\x02\x05" "C0X" "\x02\x05" "D\x04" "\x02\x05" "C7\x03", 0, "",
         {K::OutOfRange, K::Malformed, K::Malformed, K::Command}},
        {"ESCPOS", "\x1B=\x01" "xy\x1B=\x02", 0, "", {K::Command, K::Command, K::Command}},  // the printer's bytes pass
        {"ESCPOS", "\x1F:\x01" "A\x1F:\x1F^\x00\x00"s, 1, "", {K::Command, K::Command, K::Unread, K::Text}},
        {"ESCPOS", "\x1F:AB\x1F$\x1F:\x1F^\x00\x00"s, 1, "XY", {K::Command, K::Command, K::Text, K::Malformed, K::Text}},
    };
    for (const auto& c : cases) {
        DisplayModel m;
        ASSERT_TRUE(m.SetEmulation(c.emulation));
        Feed(m, c.bytes);
        m.Elapse(c.ms);
        Feed(m, c.later);
        std::vector<K> kinds;
        std::string said;
        for (const Reading& r : m.TakeReadings()) {
            kinds.push_back(r.kind);
            said += DescribeReading(r) + "\n";
        }
        EXPECT_EQ(kinds, c.kinds) << said;
    }
}

// Text is read in runs between commands: its reading, its cap of 256 bytes and
// the count past the limit are those of a byte per read.
TEST(DisplayModel, TextReadingsAreTheSameInRunsAndByteByByte) {
    for (const bool split : {false, true}) {
        DisplayModel m;
        const auto feed = [&](const std::string& bytes) {
            if (!split) return Feed(m, bytes);
            for (const char b : bytes) Feed(m, std::string(1, b));
        };
        feed(std::string(300, 'x'));
        const std::vector<Reading> said = m.TakeReadings();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].bytes, std::string(256, 'x')) << split;
        feed(std::string(DisplayModel::ReadingLimit, '\x0C') + "DE");
        EXPECT_EQ(m.TakeReadings().size(), DisplayModel::ReadingLimit);
        EXPECT_EQ(m.TakeReadingsLeftOut(), 2u) << split << ": each byte of DE";
    }
}

TEST(DisplayModel, AnyByteSoupKeepsTwoByTwenty) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    const int speeds[] = {9600, 19200, 300};
    DisplayModel m;
    for (int round = 0; round < 2000; ++round) {
        std::string soup(1 + round % 64, '\0');
        for (char& c : soup) c = static_cast<char>(byte(random));
        Feed(m, soup, speeds[round % 3 == 0 ? 0 : round % 3]);
        if (round % 7 == 0) m.Tick();
        for (int r = 0; r < Rows; ++r) {
            int glyphs = 0;
            for (int c = 0; c < Columns; ++c) glyphs += m.Glyph(r, c) != 0;
            ASSERT_EQ(glyphs, Columns);
        }
        ASSERT_GE(m.CursorRow(), 0);
        ASSERT_LT(m.CursorRow(), Rows);
        ASSERT_GE(m.CursorColumn(), 0);
        ASSERT_LT(m.CursorColumn(), Columns);
    }
}
