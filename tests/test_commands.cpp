// SPDX-License-Identifier: GPL-3.0-or-later
// The command tables themselves, what runs with time, and how the window
// draws the cells' attributes.
#include "display/Commands.h"
#include "display/DisplayModel.h"
#include "virtual-display/DisplayWindow.h"

#include <QImage>
#include <gtest/gtest.h>
#include <string>

using namespace vantrel::display;

namespace {

void Feed(DisplayModel& m, const std::string& bytes) {
    m.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 9600);
}

DisplayModel With(const char* emulation, const std::string& bytes) {
    DisplayModel m;
    m.SetEmulation(emulation);
    Feed(m, bytes);
    return m;
}

// No start is the beginning of another's in the same table or the shared
// rows: the engine never has to guess where a command ends.
TEST(Commands, NoStartHidesAnother) {
    for (const CommandSet* set : AllCommandSets()) {
        std::vector<const Command*> rows;
        for (const Command& c : set->commands) rows.push_back(&c);
        if (set->shared)
            for (const Command& c : SharedCommands().commands) rows.push_back(&c);
        for (const Command* a : rows)
            for (const Command* b : rows) {
                if (a == b || a->attention != b->attention || a->through || b->through) continue;
                EXPECT_FALSE(b->start.substr(0, a->start.size()) == a->start)
                    << set->name << ": " << a->words << " hides " << b->words;
            }
    }
}

TEST(Commands, ScrollingMessagesMoveWithTimeAndEnd) {
    // CD5220: the upper row scrolls until the next byte, which clears it.
    DisplayModel m = With("CD5220", "\x1BQDHELLO\x0D");
    m.Elapse(20 * StepMs);
    EXPECT_EQ(m.Line(0), "HELLO               ");
    m.Elapse(StepMs);
    EXPECT_EQ(m.Line(0), "ELLO                ");
    Feed(m, "X");
    EXPECT_EQ(m.Line(0), "X                   ");
    // UTC enhanced: once through, then the row is blank and stays so.
    DisplayModel once = With("UTC_E", "\x1BuFBYE\x0D");
    once.Elapse(21 * StepMs);
    EXPECT_EQ(once.Line(0), "YE                  ");
    once.Elapse(10 * StepMs);
    EXPECT_EQ(once.Line(0), std::string(20, ' '));
    EXPECT_FALSE(once.Elapse(10 * StepMs)) << "nothing moves any more";
    // ICD2002 rotation: the row's own text turns round.
    DisplayModel turn = With("ICD2002", "ABC\x1B" "EU1");
    turn.Elapse(StepMs);
    EXPECT_EQ(turn.Line(0), "BC                 A");
}

TEST(Commands, TheCounterTicksAndGivesWayToTheCursor) {
    DisplayModel m = With("ESCPOS", "\x1FT\x0C\x22");
    m.Elapse(60 * 1000);
    EXPECT_EQ(m.Line(1), std::string(15, ' ') + "12:35");
    Feed(m, "\x1F" "B");
    EXPECT_EQ(m.Line(1), std::string(20, ' '));
}

// The user-defined characters and the time counter outlive the self-test;
// the brightness and the rest of the screen do not.
TEST(Commands, SelfTestKeepsOnlyTheDefinitions) {
    DisplayModel m = With("ESCPOS", "\x1B&\x01" "AA\x05\x7F\x41\x41\x41\x7F\x1FT\x0C\x22\x1FX\x01" "KEPT\x1F@");
    EXPECT_EQ(m.Line(0), "  VANTREL SELF TEST ");
    m.Elapse(3000);
    EXPECT_EQ(m.Line(0), std::string(20, ' '));
    EXPECT_EQ(m.Brightness(), 100);
    Feed(m, "\x1B%\x01" "A\x1FU");
    EXPECT_EQ(m.Line(0), "\u25A9                   ");
    EXPECT_EQ(m.Line(1), std::string(12, ' ') + "12:34:03");
}

TEST(Commands, AMacroPlaysAtItsPaceUntilTheHostSpeaks) {
    DisplayModel m = With("ESCPOS", "\x1F:" "HI\x1F:" "\x1F^\x01\x02");  // 20 ms a character, held at least a step
    m.Elapse(1);
    EXPECT_EQ(m.Line(0), "H                   ");
    m.Elapse(20);
    EXPECT_EQ(m.Line(0), "HI                  ");
    EXPECT_NE(m.Status().find("macro running"), std::string::npos);
    m.Elapse(StepMs + 20);  // held, then cleared and begun again
    EXPECT_EQ(m.Line(0), "H                   ");
    Feed(m, "Z");
    EXPECT_EQ(m.Line(0), "Z                   ");
    EXPECT_FALSE(m.MacroRunning());
    // Longer than 80 bytes: not defined, and US ^ then does nothing.
    DisplayModel l = With("ESCPOS", "\x1F:" + std::string(81, 'x') + "\x1F:" + std::string("\x1F^\x00\x00", 4));
    EXPECT_FALSE(l.MacroRunning());
}

TEST(Commands, BlinkingCellsGoDarkInTheirOffPhase) {
    DisplayModel screen = With("ESCPOS", "AB\x1F" "E\x02");  // 100 ms on, 100 off
    EXPECT_TRUE(screen.Lit(0, 0));
    screen.Elapse(100);
    EXPECT_FALSE(screen.Lit(0, 0));
    EXPECT_FALSE(screen.Lit(0, 5));
    screen.Elapse(100);
    EXPECT_TRUE(screen.Lit(0, 0));
    // NCR: only the characters sent while blinking was on.
    DisplayModel chars = With("NCR", "\x1B\x0D" "B\x1B\x0E" "S");
    chars.Elapse(CellBlinkMs);
    EXPECT_FALSE(chars.Lit(0, 0));
    EXPECT_TRUE(chars.Lit(0, 1));
    DisplayModel off = With("ESCPOS", "X\x1F" "E\xFF");
    EXPECT_FALSE(off.Lit(0, 0));
    EXPECT_NE(off.Status().find("display off"), std::string::npos);
}

// ESC s 1 keeps the user-defined characters in the stored set-up (the state
// file); ESC d 1 brings them back after ESC @ cleared them.
TEST(Commands, KeptUserCharactersComeBack) {
    DisplayModel m;
    m.SetEmulation("CD5220");
    vantrel::display::Setup saved{};
    m.OnSetupChanged([&](const vantrel::display::Setup& s) { saved = s; });
    Feed(m, "\x1B&\x01" "AA\x05\x7F\x41\x41\x41\x7F\x1Bs\x01\x1B@");
    EXPECT_EQ(saved.userCharacters, "41=7F4141417F");
    DisplayModel restored;
    ASSERT_TRUE(restored.Restore(saved));
    Feed(restored, "\x1B%\x01" "A");
    EXPECT_EQ(restored.Line(0), "A                   ") << "kept, not yet in use";
    Feed(restored, "\x1B" "d\x01" "A");
    EXPECT_EQ(restored.Line(0), "A\u25A9                  ") << "the next A is the restored one; the shown A stays";
    // A shown user-defined character keeps its dots when its code is defined anew, then deleted.
    Feed(restored, "\x1B&\x01" "AA\x01\x08\x1B?A");
    ASSERT_NE(restored.UserPattern(0, 1), nullptr);
    EXPECT_EQ(*restored.UserPattern(0, 1), (Pattern{0x7F, 0x41, 0x41, 0x41, 0x7F}));
    saved.userCharacters = "41=7F41";
    EXPECT_FALSE(DisplayModel().Restore(saved)) << "a damaged set is refused";
}

// The window: a reversed, a blinked-off and a user-defined cell each differ
// from a plain one.
TEST(Commands, TheWindowDrawsAttributes) {
    using namespace std::string_literals;
    DisplayModel m = With("ESCPOS", "AA\x1Fr\x01" "A\x1Fr\x00\x1B&\x01" "BB\x05\x7F\x41\x41\x41\x7F\x1B%\x01" "B"s);
    ASSERT_EQ(m.Line(0), "AAA\u25A9                ");
    ScreenView view(m);
    view.resize(view.sizeHint());
    const auto cell = [&](int column) { return view.grab().toImage().copy(18 + column * 34, 18, 30, 46); };
    const QImage plain = cell(0);
    EXPECT_EQ(cell(1), plain) << "the same character draws the same";
    EXPECT_NE(cell(2), plain) << "reversed";
    EXPECT_NE(cell(3), plain) << "user-defined";
    Feed(m, "\x1F" "E\x01");
    m.Elapse(50);
    ASSERT_FALSE(m.Lit(0, 0));
    EXPECT_NE(cell(0), plain) << "blinked off";
    EXPECT_EQ(cell(0), cell(5)) << "blinked off is dark like an empty cell";
}

}  // namespace
