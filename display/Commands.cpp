// SPDX-License-Identifier: GPL-3.0-or-later
// The command tables of the display's emulations.
//
// Sources: the makers' published command lists: the CD5220 standard mode
// list, the UTC standard and enhanced mode lists, the AEDEX, ADM787/788 and
// ICD 2002 mode lists of the same manuals, the ESC/POS customer-display
// command reference (DM-D series), the DSP800 (EOT SOH) command pages and the
// NCR 5972 programming chapter. Where they disagree, the majority reading is
// taken, and the manual page (vantrel-display(1)) names each such choice:
//   - brightness levels 1..4 (ESC * n, US X n) are 20, 40, 60 and 100 %;
//   - a string command's text (ESC Q A, AEDEX 1/2/9, ESC u A/B/I) replaces the
//     whole row: positions after the text are blanked; text past the row's
//     length is dropped;
//   - CAN clears the cursor's row and puts the cursor at its start;
//   - in vertical scroll mode a full lower row scrolls when the next character
//     comes, not when it fills;
//   - user-defined characters take codes 20..7E hex, five columns each;
//   - ESC # n takes the set-up frame's numbering of the emulations.
#include "display/Commands.h"
#include "display/DisplayModel.h"

#include "common/SetupNames.h"

#include <cstdio>

namespace vantrel::display {

namespace {

using namespace std::string_view_literals;

constexpr std::uint8_t ETB = 0x17, ETX = 0x03, CR = 0x0D, US = 0x1F;

// Constants, not std::strings: nothing of the reader runs at start-up.
constexpr Detail Ignored = Detail::Fault(ReadingKind::OutOfRange, "(out of range: ignored)");
constexpr Detail NoEtx = Detail::Fault(ReadingKind::Malformed, "(no ETX: ignored)");

// ---- Building rows ----

// A command of `count` argument bytes.
constexpr Command Fixed(std::string_view start, std::uint8_t count, const char* words, Action action) {
    return {start, End::Count, count, words, action};
}
constexpr Command Plain(std::string_view start, const char* words, Action action) { return Fixed(start, 0, words, action); }
// A command whose argument is text up to CR.
constexpr Command ToCr(std::string_view start, const char* words, Action action) {
    return {start, End::Terminator, CR, words, action};
}
constexpr Command Ruled(std::string_view start, bool (*rule)(Arguments), const char* words, Action action) {
    return {start, End::Rule, 0, words, action, rule};
}
// After the attention code.
constexpr Command Attention(Command c) {
    c.attention = true;
    return c;
}
constexpr Command Through(Command c, std::uint8_t last) {
    c.through = last;
    return c;
}

// ---- Actions shared by several sets ----

Detail Clear(DisplayModel& m, Arguments) { return m.ClearScreen(), ""; }
Detail Home(DisplayModel& m, Arguments) { return m.MoveTo(0, 0), ""; }
Detail Back(DisplayModel& m, Arguments) { return m.Backspace(), ""; }
Detail Forward(DisplayModel& m, Arguments) { return m.Tab(), ""; }
Detail Down(DisplayModel& m, Arguments) { return m.LineFeed(), ""; }
Detail Up(DisplayModel& m, Arguments) { return m.CursorUp(), ""; }
Detail LeftMost(DisplayModel& m, Arguments) { return m.CarriageReturn(), ""; }
Detail RightMost(DisplayModel& m, Arguments) { return m.MoveTo(m.CursorRow(), Columns - 1), ""; }
Detail Bottom(DisplayModel& m, Arguments) { return m.MoveTo(Rows - 1, 0), ""; }
Detail ClearLine(DisplayModel& m, Arguments) { return m.ClearRow(m.CursorRow()), ""; }
Detail Overwrite(DisplayModel& m, Arguments) { return m.SetMode(Mode::Overwrite), ""; }
Detail Vertical(DisplayModel& m, Arguments) { return m.SetMode(Mode::VerticalScroll), ""; }
Detail Horizontal(DisplayModel& m, Arguments) { return m.SetMode(Mode::HorizontalScroll), ""; }
Detail CursorOn(DisplayModel& m, Arguments) { return m.SetCursorVisible(true), ""; }
Detail CursorOff(DisplayModel& m, Arguments) { return m.SetCursorVisible(false), ""; }

Detail Position(DisplayModel& m, int position) {
    if (position < 0 || position >= Rows * Columns) return Ignored;
    m.MoveToPosition(position);
    return {"", position + 1, ""};
}

// x 1..20, y 1..2.
Detail CursorXY(DisplayModel& m, Arguments a) {
    if (a[0] < 1 || a[0] > Columns || a[1] < 1 || a[1] > Rows) return Ignored;
    return Position(m, (a[1] - 1) * Columns + a[0] - 1);
}

Detail Percent(DisplayModel& m, int percent) {
    m.SetBrightness(percent);
    return {"", percent, "%"};
}

// Steps 1..4: 20, 40, 60, 100 %.
Detail BrightnessStep(DisplayModel& m, Arguments a) {
    static constexpr int Levels[] = {20, 40, 60, 100};
    return a[0] >= 1 && a[0] <= 4 ? Percent(m, Levels[a[0] - 1]) : Ignored;
}

Detail CursorSwitch(DisplayModel& m, Arguments a) {
    if (a[0] > 1) return Ignored;
    m.SetCursorVisible(a[0] == 1);
    return a[0] ? "on" : "off";
}

Detail International(DisplayModel& m, int set) {
    if (set < 0 || set > 15) return Ignored;
    m.SetInternationalSet(set);
    return m.International();
}

Detail InternationalN(DisplayModel& m, Arguments a) { return International(m, a[0]); }

Detail CodePage(DisplayModel& m, const char* label) {
    m.SetCodePage(label);
    return label;
}

// ESC t n, the ESC/POS code table numbers.
Detail CodeTable(DisplayModel& m, Arguments a) {
    static constexpr struct {
        std::uint8_t n;
        const char* label;
    } Tables[] = {{0, "PC437"},  {1, "JIS"},    {2, "PC850"},  {3, "PC860"},  {4, "PC863"},
                  {5, "PC865"},  {16, "W1252"}, {17, "PC866"}, {18, "PC852"}, {19, "PC858"}};
    for (const auto& t : Tables)
        if (t.n == a[0]) return CodePage(m, t.label);
    return Ignored;
}

// ESC = n: bit 0 the printer, bit 1 the display. Another n, while the printer
// is selected, goes to it whole.
Detail SelectPeripheral(DisplayModel& m, int n) {
    if (n < 1 || n > 3) return m.PrinterSelected() ? "to printer" : Ignored;
    if (m.MacroRunning()) return "(in a macro: ignored)";
    m.SelectPeripherals(n & 1, n & 2);
    return n == 1 ? "printer" : n == 2 ? "display" : "printer and display";
}

// The DM-D110: 1 to 3 only.
Detail Peripheral(DisplayModel& m, Arguments a) { return SelectPeripheral(m, a[0]); }
// The CD5220 lists: also the digits '1'..'3'.
Detail PeripheralOrDigit(DisplayModel& m, Arguments a) {
    return SelectPeripheral(m, a[0] >= '1' && a[0] <= '3' ? a[0] - '0' : a[0]);
}

// ESC & s n m, then for each code n..m: a column count a and a columns.
bool UserCharactersComplete(Arguments a) {
    if (a.size() < 3) return false;
    const int codes = a[2] >= a[1] ? a[2] - a[1] + 1 : 0;
    std::size_t at = 3;
    for (int i = 0; i < codes; ++i) {
        if (a.size() <= at) return false;
        at += 1 + a[at];
    }
    return a.size() == at;
}

bool UserCode(std::uint8_t code) { return code >= 0x20 && code <= 0x7E; }

Detail DefineUserCharacters(DisplayModel& m, Arguments a) {
    if (a[0] != 1 || !UserCode(a[1]) || !UserCode(a[2]) || a[2] < a[1]) return Ignored;
    std::size_t at = 3;
    int defined = 0;
    for (int code = a[1]; code <= a[2]; ++code) {
        const std::uint8_t columns = a[at];
        if (columns <= 5) {  // more columns than a cell has: that character is left out
            m.DefineUserCharacter(static_cast<std::uint8_t>(code), a.subspan(at + 1, columns));
            ++defined;
        }
        at += 1 + columns;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%02X to %02X (%d defined)", a[1], a[2], defined);
    return Detail::Copy(text);
}

Detail DeleteUserCharacter(DisplayModel& m, Arguments a) {
    if (!UserCode(a[0])) return Ignored;
    m.DeleteUserCharacter(a[0]);
    char text[8];
    std::snprintf(text, sizeof text, "%02X", a[0]);
    return Detail::Copy(text);
}

Detail SelectUserCharacters(DisplayModel& m, Arguments a) {
    m.SelectUserCharacters(a[0] & 1);
    return a[0] & 1 ? "on" : "off";
}

// US E n: on and off for n x 50 ms; 0 steady; 255 the display off.
Detail BlinkScreen(DisplayModel& m, Arguments a) {
    m.SetScreenOn(a[0] != 255);
    m.SetScreenBlink(a[0] == 255 ? 0 : a[0] * 50);
    return a[0] == 0 ? "steady" : a[0] == 255 ? "display off" : Detail("every ", a[0] * 50, " ms");
}

Detail SelfTest(DisplayModel& m, Arguments) {
    if (m.MacroRunning()) return "(in a macro: ignored)";
    m.StartSelfTest();
    return "";
}

// ---- The set-up rows every emulation keeps ----

Detail Frame(DisplayModel& m, char group, Arguments a) {
    if (a[1] != ETX) return NoEtx;
    if (!m.Configure(group, a[0])) return Detail::Fault(ReadingKind::OutOfRange, "(no such option: ignored)");
    const Setup s = m.StoredSetup();
    return group == 'C' ? s.emulation : group == 'B' ? Detail("", s.ownBaud, "") : group == 'S' ? s.international : s.codePage;
}

constexpr Command Shared[] = {
    Fixed("\x02\x05" "C"sv, 2, "set-up: emulation", [](DisplayModel& m, Arguments a) -> Detail { return Frame(m, 'C', a); }),
    Fixed("\x02\x05" "B"sv, 2, "set-up: own speed", [](DisplayModel& m, Arguments a) -> Detail { return Frame(m, 'B', a); }),
    Fixed("\x02\x05" "S"sv, 2, "set-up: international set", [](DisplayModel& m, Arguments a) -> Detail { return Frame(m, 'S', a); }),
    Fixed("\x02\x05" "F"sv, 2, "set-up: code page", [](DisplayModel& m, Arguments a) -> Detail { return Frame(m, 'F', a); }),
    Fixed("\x02\x05" "D"sv, 1, "demonstration on",
          [](DisplayModel& m, Arguments a) -> Detail { return a[0] == ETX ? (m.StartDemo(), Detail()) : NoEtx; }),
    Fixed("\x02\x05\x07"sv, 1, "demonstration off",
          [](DisplayModel& m, Arguments a) -> Detail { return a[0] == ETX ? (m.StopDemo(), Detail()) : NoEtx; }),
    Plain("\x1B@"sv, "initialise", [](DisplayModel& m, Arguments) -> Detail {
        if (m.MacroRunning()) return Detail("(in a macro: ignored)");
        m.Initialise();
        return Detail();
    }),
};

// The cursor controls that most cursor-based sets share.
#define CURSOR_CONTROLS                                                                                     \
    Plain("\x08"sv, "back", Back), Plain("\x09"sv, "forward", Forward), Plain("\x0A"sv, "line feed", Down), \
        Plain("\x0B"sv, "home", Home), Plain("\x0C"sv, "clear", Clear), Plain("\x0D"sv, "carriage return", LeftMost)

// ---- DSP800: EOT SOH commands, ending in ETB ----

bool EndsInEtb(Arguments a) { return a.back() == ETB; }

constexpr Command Dsp800[] = {
    CURSOR_CONTROLS,
    Fixed("\x04\x01" "P"sv, 2, "cursor to position", [](DisplayModel& m, Arguments a) -> Detail {
        return EndsInEtb(a) ? Position(m, a[0] - 0x31) : Ignored;
    }),
    Fixed("\x04\x01" "C"sv, 3, "clear positions", [](DisplayModel& m, Arguments a) -> Detail {
        const int first = a[0] - 0x31, last = a[1] - 0x31;
        if (!EndsInEtb(a) || first < 0 || last < first || last >= Rows * Columns) return Ignored;
        m.ClearPositions(first, last);
        char text[24];
        std::snprintf(text, sizeof text, "%d to %d", first + 1, last + 1);
        return Detail::Copy(text);
    }),
    Fixed("\x04\x01" "D"sv, 3, "show the saved message",
          [](DisplayModel& m, Arguments a) -> Detail { return EndsInEtb(a) ? (m.StartDemo(), Detail()) : Ignored; }),
    Fixed("\x04\x01" "S"sv, 2, "save the shown message", [](DisplayModel& m, Arguments a) -> Detail {
        if (!EndsInEtb(a)) return Ignored;
        m.KeepScreenAsDemoMessage();
        return Detail();
    }),
    Fixed("\x04\x01" "I"sv, 2, "international set",
          [](DisplayModel& m, Arguments a) -> Detail { return EndsInEtb(a) ? International(m, a[0]) : Ignored; }),
    Fixed("\x1BR"sv, 1, "international set", InternationalN),
};

// ---- ESCPOS: the ESC/POS customer-display set ----

// US : ... US :, 80 bytes at most. In the DM-D110 list a definition that
// "exceeds 80 bytes", or a US ^ inside one, is an error: "Macro definition
// processing is stopped, and any following data is processed as normal
// data." So the definition ends at an 81st byte that does not start the
// closing US :, and that byte (with the one after a US) is read again as
// normal data.
constexpr std::size_t MacroBytes = 80;

bool MacroComplete(Arguments a) {
    const std::size_t n = a.size();
    const bool marked = n >= 2 && a[n - 2] == US && (a[n - 1] == ':' || a[n - 1] == '^');
    return marked || (n > MacroBytes && a[MacroBytes] != US) || n > MacroBytes + 1;
}

Detail DefineMacro(DisplayModel& m, Arguments a) {
    const std::size_t n = a.size();
    const bool closed = n >= 2 && a[n - 2] == US && a[n - 1] == ':';
    if (closed && n == 2) return m.DefineMacro({}), "deleted";
    if (closed && m.DefineMacro(a.first(n - 2))) return {"", static_cast<int>(n - 2), " bytes"};
    m.DefineMacro({});
    if (n >= 2 && a[n - 2] == US && a[n - 1] == '^') return "(US ^ inside: not defined)";
    m.GiveBack(n - MacroBytes);
    return "(longer than 80 bytes: not defined; the rest is read as normal data)";
}

// Commands of the DM-D extended set, US ( fn pL pH and pL + pH x 256 bytes:
// the length is in the command, so it is read whole; their effects (display
// selection, user settings, windows) are not modelled.
bool ExtendedComplete(Arguments a) { return a.size() >= 3 && a.size() == 3u + a[1] + a[2] * 256u; }

Detail Extended(DisplayModel&, Arguments a) {
    char text[48];
    std::snprintf(text, sizeof text, "US ( %c, %zu bytes (read, not drawn)", a[0] >= 0x20 && a[0] < 0x7F ? a[0] : '?', a.size() - 3);
    return Detail::Copy(text);
}

// ESC W n m (x1 y1 x2 y2), the DM-D110 list: "When m = 1 or 49, a window is
// selected (Values x1, y1, x2, and y2 are required.) When m = 0 or 48, a
// window is canceled (... are not required)".
bool WindowComplete(Arguments a) { return a.size() == 2 ? a[1] != 1 && a[1] != 49 : a.size() == 6; }

Detail Counter(DisplayModel& m, int hours, int minutes) {
    if (hours > 23 || minutes > 59) return Ignored;
    m.ClearScreen();
    m.StartCounter(hours * 3600 + minutes * 60, false);
    m.MoveTo(0, 0);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", hours, minutes);
    return Detail::Copy(text);
}

constexpr Command EscPos[] = {
    CURSOR_CONTROLS,
    Plain("\x18"sv, "clear cursor line", ClearLine),
    Plain("\x1F\x0A"sv, "cursor up", Up),
    Plain("\x1F\x0D"sv, "right-most position", RightMost),
    Plain("\x1F" "B"sv, "bottom position", Bottom),
    Fixed("\x1F$"sv, 2, "cursor to position", CursorXY),
    Plain("\x1F\x01"sv, "overwrite mode", Overwrite),
    Plain("\x1F\x02"sv, "vertical scroll mode", Vertical),
    Plain("\x1F\x03"sv, "horizontal scroll mode", Horizontal),
    Fixed("\x1F" "C"sv, 1, "cursor", CursorSwitch),
    Fixed("\x1F" "E"sv, 1, "blink", BlinkScreen),
    Fixed("\x1F" "T"sv, 2, "time counter set", [](DisplayModel& m, Arguments a) -> Detail { return Counter(m, a[0], a[1]); }),
    Plain("\x1F" "U"sv, "time counter shown", [](DisplayModel& m, Arguments) -> Detail {
        m.ShowCounter(true);
        m.MoveTo(0, 0);
        return Detail();
    }),
    Fixed("\x1F" "X"sv, 1, "brightness", BrightnessStep),
    Fixed("\x1F" "r"sv, 1, "reverse characters", [](DisplayModel& m, Arguments a) -> Detail {
        if (a[0] > 1) return Ignored;
        m.SetReverse(a[0] == 1);
        return Detail(a[0] ? "on" : "off");
    }),
    // DM-D110, US v: "n = 0, 1, 48, 49".
    Fixed("\x1F" "v"sv, 1, "DTR signal", [](DisplayModel&, Arguments a) -> Detail {
        return a[0] == 1 || a[0] == 49 ? "on" : a[0] == 0 || a[0] == 48 ? "off" : Ignored;
    }),
    Plain("\x1F@"sv, "self-test", SelfTest),
    Ruled("\x1F:"sv, MacroComplete, "macro definition", DefineMacro),
    Fixed("\x1F^"sv, 2, "macro run", [](DisplayModel& m, Arguments a) -> Detail {
        return m.RunMacro(a[0] * 20, a[1] * 50) ? Detail() : "(no macro: ignored)";
    }),
    // Read, not drawn: the virtual display has no annunciators.
    Fixed("\x1F."sv, 1, "period display (not drawn)", nullptr),
    Fixed("\x1F,"sv, 1, "comma display (not drawn)", nullptr),
    Fixed("\x1F;"sv, 1, "semicolon display (not drawn)", nullptr),
    Fixed("\x1F#"sv, 2, "annunciator (not drawn)", nullptr),
    Ruled("\x1F("sv, ExtendedComplete, "extended command", Extended),
    Ruled("\x1BW"sv, WindowComplete, "window (read, not drawn)", nullptr),
    Fixed("\x1BR"sv, 1, "international set", InternationalN),
    Fixed("\x1Bt"sv, 1, "code table", CodeTable),
    Fixed("\x1B="sv, 1, "select peripheral:", Peripheral),
    Ruled("\x1B&"sv, UserCharactersComplete, "user-defined characters", DefineUserCharacters),
    Fixed("\x1B?"sv, 1, "user-defined character deleted", DeleteUserCharacter),
    Fixed("\x1B%"sv, 1, "user-defined characters", SelectUserCharacters),
};

constexpr Command Printer[] = {
    Fixed("\x1B="sv, 1, "select peripheral:", Peripheral),
};

constexpr Command Cd5220Printer[] = {
    Fixed("\x1B="sv, 1, "select peripheral:", PeripheralOrDigit),
};

// ---- CD5220 ----

extern const CommandSet Cd5220StringSet;

Detail StringRow(DisplayModel& m, int row, Arguments a) {
    m.WriteRow(row, a);
    m.UseCommandSet(&Cd5220StringSet);
    return "";
}

// ESC f n: the set by its letter. R (Russia) has no national set of ASCII
// positions: it selects the display's Cyrillic characters, as ESC c R
// ("compliance with RUSSIA code") does, over the USA set.
Detail InternationalLetter(DisplayModel& m, Arguments a) {
    static constexpr char Letters[] = "AFGUDWISJ?E???L";  // ESC R numbering: 0 USA .. 14 Slavonic
    if (a[0] == 'R') {
        International(m, 0);
        m.SetCodePage("PC866");
        return "Russia (PC866)";
    }
    for (int set = 0; set < 15; ++set)
        if (Letters[set] != '?' && Letters[set] == a[0]) return International(m, set);
    return Ignored;
}

// ESC c n: ASCII, JIS, Russian or Slavonic characters.
Detail CharacterCode(DisplayModel& m, Arguments a) {
    switch (a[0]) {
    case 'A': return CodePage(m, "PC437");
    case 'J': return CodePage(m, "JIS");
    case 'R': return CodePage(m, "PC866");
    case 'L': return CodePage(m, "PC852");
    default: return Ignored;
    }
}

bool OneArgument(Arguments a) { return a[0] == 1 || a[0] == '1'; }

constexpr Command Cd5220[] = {
    CURSOR_CONTROLS,
    Plain("\x18"sv, "clear cursor line", ClearLine),
    Plain("\x1B\x11"sv, "overwrite mode", Overwrite),
    Plain("\x1B\x12"sv, "vertical scroll mode", Vertical),
    Plain("\x1B\x13"sv, "horizontal scroll mode", Horizontal),
    Plain("\x1F\x01"sv, "overwrite mode", Overwrite),
    Plain("\x1F\x02"sv, "vertical scroll mode", Vertical),
    Plain("\x1F\x03"sv, "horizontal scroll mode", Horizontal),
    ToCr("\x1BQA"sv, "upper line", [](DisplayModel& m, Arguments a) -> Detail { return StringRow(m, 0, a); }),
    ToCr("\x1BQB"sv, "lower line", [](DisplayModel& m, Arguments a) -> Detail { return StringRow(m, 1, a); }),
    ToCr("\x1BQD"sv, "upper line scrolls", [](DisplayModel& m, Arguments a) -> Detail {
        m.StartMarquee(0, a.first(std::min<std::size_t>(a.size(), 40)), false, true);
        return Detail();
    }),
    Plain("\x1B[D"sv, "cursor left", Back),
    Plain("\x1B[C"sv, "cursor right", Forward),
    Plain("\x1B[A"sv, "cursor up", Up),
    Plain("\x1B[B"sv, "cursor down", Down),
    Plain("\x1B[H"sv, "home", Home),
    Plain("\x1B[L"sv, "left-most position", LeftMost),
    Plain("\x1B[R"sv, "right-most position", RightMost),
    Plain("\x1B[K"sv, "bottom position", Bottom),
    Plain("\x1F\x0A"sv, "cursor up", Up),
    Plain("\x1F\x0D"sv, "right-most position", RightMost),
    Plain("\x1F" "B"sv, "bottom position", Bottom),
    Fixed("\x1Bl"sv, 2, "cursor to position", CursorXY),
    Fixed("\x1BW"sv, 4, "scroll window", [](DisplayModel& m, Arguments a) -> Detail {
        if (a[0] > 1 || a[1] < 1 || a[2] < a[1] || a[2] > Columns || a[3] < 1 || a[3] > Rows) return Ignored;
        m.SetScrollWindow(a[0] == 1, a[3] - 1, a[1] - 1, a[2] - 1);
        if (!a[0]) return "off";
        char text[24];
        std::snprintf(text, sizeof text, "columns %d to %d", a[1], a[2]);
        return Detail::Copy(text);
    }),
    Fixed("\x1B*"sv, 1, "brightness", BrightnessStep),
    Ruled("\x1B&"sv, UserCharactersComplete, "user-defined characters", DefineUserCharacters),
    Fixed("\x1B?"sv, 1, "user-defined character deleted", DeleteUserCharacter),
    Fixed("\x1B%"sv, 1, "user-defined characters", SelectUserCharacters),
    Fixed("\x1B_"sv, 1, "cursor", CursorSwitch),
    Fixed("\x1B" "f"sv, 1, "international set", InternationalLetter),
    Fixed("\x1B" "c"sv, 1, "characters", CharacterCode),
    Fixed("\x1B="sv, 1, "select peripheral:", PeripheralOrDigit),
    Fixed("\x1Bs"sv, 1, "user-defined characters kept", [](DisplayModel& m, Arguments a) -> Detail {
        return OneArgument(a) ? (m.KeepUserCharacters(), Detail()) : Ignored;
    }),
    Fixed("\x1B" "d"sv, 1, "user-defined characters restored", [](DisplayModel& m, Arguments a) -> Detail {
        return OneArgument(a) ? (m.RestoreUserCharacters(), Detail()) : Ignored;
    }),
    Fixed("\x1B" "b"sv, 2 * Columns, "demonstration message stored", [](DisplayModel& m, Arguments a) -> Detail {
        m.SetDemoMessage(a);
        return Detail();
    }),
    Fixed("\x1B#"sv, 1, "command type", [](DisplayModel& m, Arguments a) -> Detail {
        return m.Configure('C', a[0]) ? Detail(m.Emulation()) : Ignored;
    }),
    Plain("\x1F@"sv, "self-test", SelfTest),
    Fixed("\x1F" "E"sv, 1, "blink", BlinkScreen),
};

// String mode (after ESC Q A or B): only the string commands, CLR and CAN are read.
Detail LeaveStringMode(DisplayModel& m) {
    m.UseCommandSet(nullptr);
    return "(string mode ends)";
}

constexpr Command Cd5220String[] = {
    ToCr("\x1BQA"sv, "upper line", [](DisplayModel& m, Arguments a) -> Detail { return StringRow(m, 0, a); }),
    ToCr("\x1BQB"sv, "lower line", [](DisplayModel& m, Arguments a) -> Detail { return StringRow(m, 1, a); }),
    Plain("\x0C"sv, "clear", [](DisplayModel& m, Arguments) -> Detail { return m.ClearScreen(), LeaveStringMode(m); }),
    Plain("\x18"sv, "clear cursor line", [](DisplayModel& m, Arguments) -> Detail { return m.ClearRow(m.CursorRow()), LeaveStringMode(m); }),
};

const CommandSet Cd5220StringSet{"CD5220 string mode", Cd5220String, Text::Ignored, true};

// ---- UTC standard and enhanced ----

Detail Switch(DisplayModel& m, char argument) { return m.Configure('C', static_cast<std::uint8_t>(argument)), m.Emulation(); }

// The UTC and Logic Controls lists, Back Space: "The cursor position moves
// one digit to the left erasing the previous information"; from a row's
// start to the other row's right end.
Detail BackErasing(DisplayModel& m, Arguments) {
    const int at = m.CursorPosition();
    m.MoveToPosition(m.CursorColumn() > 0 ? at - 1 : (at + Columns) % (Rows * Columns) + Columns - 1);
    m.ClearPositions(m.CursorPosition(), m.CursorPosition());
    return "";
}

constexpr Command UtcStandard[] = {
    Plain("\x08"sv, "back, erasing", BackErasing),
    Plain("\x09"sv, "forward", Forward),
    Plain("\x0A"sv, "line feed", Down),
    Plain("\x0D"sv, "carriage return", LeftMost),
    Fixed("\x10"sv, 1, "cursor to position", [](DisplayModel& m, Arguments a) -> Detail { return Position(m, a[0]); }),
    Plain("\x11"sv, "overwrite mode", Overwrite),
    Plain("\x12"sv, "vertical scroll mode", Vertical),
    Plain("\x13"sv, "cursor on", CursorOn),
    Plain("\x14"sv, "cursor off", CursorOff),
    Plain("\x1F"sv, "reset", [](DisplayModel& m, Arguments) -> Detail { return m.ClearScreen(), m.ResetModes(), ""; }),
    Plain("\x1B" "d"sv, "to the enhanced set:", [](DisplayModel& m, Arguments) -> Detail { return Switch(m, '6'); }),
    Fixed("\x04"sv, 1, "brightness", [](DisplayModel& m, Arguments a) -> Detail {
        switch (a[0]) {
        case 0xFF: return Percent(m, 100);
        case 0x60: return Percent(m, 60);
        case 0x40: return Percent(m, 40);
        case 0x20: return Percent(m, 20);
        default: return Ignored;
        }
    }),
    Plain("\x1C"sv, "blinking characters on", [](DisplayModel& m, Arguments) -> Detail { return m.SetCharacterBlink(true), ""; }),
    Plain("\x1D"sv, "blinking characters off", [](DisplayModel& m, Arguments) -> Detail { return m.SetCharacterBlink(false), ""; }),
};

// The string commands that AEDEX and UTC enhanced share, after the attention code.
Detail UpperRow(DisplayModel& m, Arguments a) { return m.WriteRow(0, a), ""; }
Detail LowerRow(DisplayModel& m, Arguments a) { return m.WriteRow(1, a), ""; }
Detail BothRows(DisplayModel& m, Arguments a) {
    const Arguments upper = a.first(std::min<std::size_t>(a.size(), Columns));
    m.WriteRow(0, upper);
    m.WriteRow(1, a.subspan(upper.size()));
    return "";
}
Detail ScrollOn(DisplayModel& m, Arguments a) { return m.StartMarquee(0, a.first(std::min<std::size_t>(a.size(), 60)), false, true), ""; }
Detail ScrollOnce(DisplayModel& m, Arguments a) { return m.StartMarquee(0, a.first(std::min<std::size_t>(a.size(), 60)), true, false), ""; }
// hh:mm, or nothing: the time as it stands.
Detail Time(DisplayModel& m, Arguments a) {
    if (a.empty()) return m.ShowCounter(false), "";
    auto digit = [&](std::size_t i) { return a[i] >= '0' && a[i] <= '9' ? a[i] - '0' : 99; };
    if (a.size() != 5 || a[2] != ':') return Ignored;
    const int hours = digit(0) * 10 + digit(1), minutes = digit(3) * 10 + digit(4);
    if (hours > 23 || minutes > 59) return Ignored;
    m.StartCounter(hours * 3600 + minutes * 60, false);
    return Detail::Copy({reinterpret_cast<const char*>(a.data()), a.size()});
}
Detail NewAttention(DisplayModel& m, Arguments a) {
    if (a.size() != 2 || a[0] < 0x20 || a[1] < 0x20) return Ignored;
    m.SetAttention(a[0], a[1]);
    const char text[] = {'"', static_cast<char>(a[0]), static_cast<char>(a[1]), '"'};
    return Detail::Copy({text, sizeof text});
}

constexpr Command UtcEnhanced[] = {
    Attention(ToCr("A"sv, "upper line", UpperRow)),
    Attention(ToCr("B"sv, "lower line", LowerRow)),
    Attention(ToCr("I"sv, "both lines", BothRows)),
    Attention(ToCr("D"sv, "upper line scrolls", ScrollOn)),
    Attention(ToCr("F"sv, "upper line scrolls once", ScrollOnce)),
    Attention(ToCr("E"sv, "time display", Time)),
    Attention(ToCr("H"sv, "attention code now", NewAttention)),
    Plain("\x1B\x0F\x0D"sv, "to the standard set:", [](DisplayModel& m, Arguments) -> Detail { return Switch(m, '5'); }),
    Plain("\x1B\x1E\x0D"sv, "to the standard set:", [](DisplayModel& m, Arguments) -> Detail { return Switch(m, '5'); }),
};

// ---- AEDEX ----

constexpr Command Aedex[] = {
    Attention(ToCr("1"sv, "upper line", UpperRow)),
    Attention(ToCr("2"sv, "lower line", LowerRow)),
    Attention(ToCr("9"sv, "both lines", BothRows)),
    Attention(ToCr("4"sv, "upper line scrolls", ScrollOn)),
    Attention(ToCr("A"sv, "upper line scrolls", ScrollOn)),
    Attention(ToCr("6"sv, "upper line scrolls once", ScrollOnce)),
    Attention(ToCr("B"sv, "lower line", LowerRow)),
    Attention(ToCr("5"sv, "time display", Time)),
    Attention(ToCr("7"sv, "stop trapping", nullptr)),
    Attention(ToCr("8"sv, "attention code now", NewAttention)),
};

// ---- ADM787 ----

Detail RowArgument(Arguments a, int& row) {
    row = a[0] == '1' ? 0 : a[0] == '2' ? 1 : -1;
    return row < 0 ? Ignored : row == 0 ? "upper line" : "lower line";
}

constexpr Command Adm787[] = {
    Plain("\x0C"sv, "clear", Clear),
    Plain("\x0D"sv, "end of line", [](DisplayModel& m, Arguments) -> Detail { return m.MoveTo((m.CursorRow() + 1) % Rows, 0), ""; }),
    Plain("\x0E"sv, "clear upper line", [](DisplayModel& m, Arguments) -> Detail { return m.ClearRow(0), ""; }),
    Plain("\x0F"sv, "clear lower line", [](DisplayModel& m, Arguments) -> Detail { return m.ClearRow(1), ""; }),
    Fixed("\x10"sv, 1, "period (not drawn)", [](DisplayModel&, Arguments a) -> Detail {
        return a[0] >= '1' && a[0] <= '7' ? Detail("at the upper line's last ", a[0] - '0', "") : Ignored;
    }),
    Fixed("\x11"sv, 1, "blinking", [](DisplayModel& m, Arguments a) -> Detail {
        int row;
        const Detail what = RowArgument(a, row);
        if (row >= 0) m.SetRowBlink(row, true);
        return what;
    }),
    Fixed("\x12"sv, 1, "blinking off", [](DisplayModel& m, Arguments a) -> Detail {
        int row;
        const Detail what = RowArgument(a, row);
        if (row >= 0) m.SetRowBlink(row, false);
        return what;
    }),
    // The fields: the left and the right eight positions of the lower line.
    Plain("\x1E"sv, "clear field 1", [](DisplayModel& m, Arguments) -> Detail { return m.ClearPositions(Columns, Columns + 7), ""; }),
    Plain("\x1F"sv, "clear field 2", [](DisplayModel& m, Arguments) -> Detail {
        return m.ClearPositions(2 * Columns - 8, 2 * Columns - 1), "";
    }),
};

// ---- ICD2002 ----

// Rows by letter: U upper, D lower, X both.
bool IcdRows(std::uint8_t r, int& first, int& last) {
    first = r == 'D' ? 1 : 0;
    last = r == 'U' ? 0 : 1;
    return r == 'U' || r == 'D' || r == 'X';
}

Detail RowEffect(DisplayModel& m, Arguments a) {
    int first, last;
    if (!IcdRows(a[0], first, last) || a[1] < '0' || a[1] > '5') return Ignored;
    static constexpr const char* Names[] = {"shift mode", "rotation", "blinking", "cleared, shift mode", "overwrite mode", "vertical scroll mode"};
    m.StopMarquee();
    for (int row = first; row <= last; ++row) {
        m.SetRowBlink(row, a[1] == '2');
        if (a[1] == '3') m.ClearRow(row);
        if (a[1] != '1' && a[1] != '2')
            m.SetRowMode(row, a[1] == '4' ? Mode::Overwrite : a[1] == '5' ? Mode::VerticalScroll : Mode::HorizontalScroll);
    }
    if (a[1] == '1') m.RotateRow(first);  // one row turns at a time
    char text[Detail::Room + 1];
    std::snprintf(text, sizeof text, "%s%s", a[0] == 'X' ? "both rows " : a[0] == 'U' ? "upper row " : "lower row ", Names[a[1] - '0']);
    return Detail::Copy(text);
}

// The ICD 2002 list: HT, BS, CR and ESC C are "only valid in overwrite mode".
Detail InOverwrite(DisplayModel& m, Arguments a, Action action) {
    return m.RowMode(m.CursorRow()) == Mode::Overwrite ? action(m, a) : "(only in overwrite mode: ignored)";
}

constexpr Command Icd2002[] = {
    Plain("\x09"sv, "forward", [](DisplayModel& m, Arguments a) { return InOverwrite(m, a, Forward); }),
    Plain("\x08"sv, "back", [](DisplayModel& m, Arguments a) { return InOverwrite(m, a, Back); }),
    Plain("\x0D"sv, "carriage return", [](DisplayModel& m, Arguments a) { return InOverwrite(m, a, LeftMost); }),
    Plain("\x1BU"sv, "upper row", Home),
    Plain("\x1B" "D"sv, "lower row", Bottom),
    Fixed("\x1B" "A"sv, 1, "display", [](DisplayModel& m, Arguments a) -> Detail {
        if (a[0] != 'D' && a[0] != 'E') return Ignored;
        m.SetScreenOn(a[0] == 'E');
        return Detail(a[0] == 'E' ? "on" : "off");
    }),
    Fixed("\x1B" "C"sv, 2, "cursor to position", [](DisplayModel& m, Arguments a) -> Detail {
        if (m.RowMode(m.CursorRow()) != Mode::Overwrite) return "(only in overwrite mode: ignored)";
        int first, last;
        if (!IcdRows(a[0], first, last) || a[0] == 'X' || a[1] < 1 || a[1] > Columns) return Ignored;
        return Position(m, first * Columns + a[1] - 1);
    }),
    Fixed("\x1B" "E"sv, 2, "row effect:", RowEffect),
};

// ---- NCR: every byte but ESC is shown ----

constexpr Command Ncr[] = {
    Plain("\x1B\x02"sv, "erase display", Clear),
    Plain("\x1B\x04"sv, "diagnostic", SelfTest),
    Plain("\x1B\x0B"sv, "screen save on (not drawn)", nullptr),
    Plain("\x1B\x0C"sv, "screen save off", nullptr),
    Plain("\x1B\x0D"sv, "blinking characters on", [](DisplayModel& m, Arguments) -> Detail { return m.SetCharacterBlink(true), ""; }),
    Plain("\x1B\x0E"sv, "blinking characters off", [](DisplayModel& m, Arguments) -> Detail { return m.SetCharacterBlink(false), ""; }),
    Plain("\x1B\x0F"sv, "cursor left", Back),
    Plain("\x1B\x10"sv, "cursor right", Forward),
    Plain("\x1B\x11"sv, "cursor up", Up),
    Plain("\x1B\x12"sv, "cursor down", Down),
    Fixed("\x1B\x13"sv, 1, "cursor to position", [](DisplayModel& m, Arguments a) -> Detail { return Position(m, a[0]); }),
    // NCR 5972: Enable Cursor 1B 07, Disable Cursor 1B 08; Brightness
    // Adjustment 1B 17 nn, "01 <= nn <= 05", 20 % to 100 %; Read Display ID Byte 1B 18.
    Plain("\x1B\x07"sv, "cursor on", CursorOn),
    Plain("\x1B\x08"sv, "cursor off", CursorOff),
    Fixed("\x1B\x17"sv, 1, "brightness", [](DisplayModel& m, Arguments a) -> Detail {
        return a[0] >= 1 && a[0] <= 5 ? Percent(m, a[0] * 20) : Ignored;
    }),
    Plain("\x1B\x18"sv, "read display ID byte (no answer here)", nullptr),
    Plain("\x1B\x19"sv, "read display ID (no answer here)", nullptr),
    Plain("\x1B\x1B"sv, "ESC shown", [](DisplayModel& m, Arguments) -> Detail { return m.Show(0x1B), ""; }),
    Plain("\x1B\x20"sv, "character set", [](DisplayModel& m, Arguments) { return CodePage(m, "PC858"); }),
    Plain("\x1B\x21"sv, "character set", [](DisplayModel& m, Arguments) { return CodePage(m, "JIS"); }),
    Plain("\x1B\x22"sv, "character set", [](DisplayModel& m, Arguments) { return CodePage(m, "PC866"); }),
    Through(Plain("\x1B\x23"sv, "character set (external memory, not fitted: ignored)", nullptr), 0x32),
};

// ---- PD6000: no public manual; plain text and the common controls ----

constexpr Command Pd6000[] = {CURSOR_CONTROLS};

#undef CURSOR_CONTROLS

// A command set's name as the list of names (common/SetupNames.h) has it; a
// name that is not on the list does not compile.
consteval const char* Named(std::string_view name) {
    const char* listed = SetupNameIn('C', name);
    if (!listed) throw "not on the list of command sets' names";
    return listed;
}

constexpr CommandSet Sets[] = {
    {Named("DSP800"), Dsp800, Text::Printable, true},
    {Named("ESCPOS"), EscPos, Text::Printable, true},
    {Named("ADM787"), Adm787, Text::Printable, true},
    {Named("AEDEX"), Aedex, Text::None, true, "!#"},
    // The UTC / Logic Controls lists: "Vertical Scroll Mode <12> ... Default mode".
    {Named("UTC_S"), UtcStandard, Text::Printable, true, {}, Mode::VerticalScroll},
    {Named("UTC_E"), UtcEnhanced, Text::Printable, true, "\x1Bu"},
    {Named("CD5220"), Cd5220, Text::Printable, true},
    {Named("NCR"), Ncr, Text::Every, true},
    {Named("PD6000"), Pd6000, Text::Printable, true},
    // The ICD 2002 list: ESC @ "set display mode to shift"; "shift mode (default display mode)".
    {Named("ICD2002"), Icd2002, Text::Printable, true, {}, Mode::HorizontalScroll},
};

// A table for every name on the list, in the list's order.
static_assert(std::size(Sets) == CommandSetNames.size() && [] {
    for (std::size_t i = 0; i < std::size(Sets); ++i)
        if (std::string_view(Sets[i].name) != CommandSetNames[i].name) return false;
    return true;
}());

const CommandSet SharedSet{"set-up", Shared, Text::Printable, false};
const CommandSet PrinterSet{"printer selected", Printer, Text::Printer, false};
const CommandSet Cd5220PrinterSet{"printer selected", Cd5220Printer, Text::Printer, false};

const CommandSet* const All[] = {&Sets[0], &Sets[1], &Sets[2], &Sets[3], &Sets[4], &Sets[5], &Sets[6],
                                 &Sets[7], &Sets[8], &Sets[9], &Cd5220StringSet, &PrinterSet, &Cd5220PrinterSet, &SharedSet};

}  // namespace

const CommandSet& CommandSetOf(const char* emulation) {
    const std::string_view e = emulation ? emulation : "";
    for (const CommandSet& set : Sets)
        if (e == set.name) return set;
    return Sets[0];
}

const CommandSet& SharedCommands() { return SharedSet; }
const CommandSet* PrinterCommands(const CommandSet& emulation) {
    if (&emulation == &Sets[1]) return &PrinterSet;
    if (&emulation == &Sets[6]) return &Cd5220PrinterSet;
    return nullptr;
}
bool SelectsPeripherals(const Command& command) {
    return command.action == Peripheral || command.action == PeripheralOrDigit;
}
std::span<const CommandSet* const> AllCommandSets() { return All; }

}  // namespace vantrel::display
