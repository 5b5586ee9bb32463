// SPDX-License-Identifier: GPL-3.0-or-later
// A 2 x 20 customer display, as a byte reader: what it shows for every byte
// the line brings. No Qt here: the virtual display's window, its headless
// printer, the tests and the panel all use this one model.
//
// The model holds the screen, its attributes and the display's set-up. What
// a byte means is written once, in the command tables (Commands.h): one table
// per emulation, read by one small engine here. The configuration frames
// (STX ENQ group argument ETX), demonstration on and off, and ESC @ are rows
// that every emulation shares, as a real display keeps its set-up commands.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {
struct CodePage;
}

namespace vantrel::display {

inline constexpr int Rows = 2;
inline constexpr int Columns = 20;
inline constexpr int PowerOnBaud = 9600;
inline constexpr int UnknownBaud = -1;  // a line speed that is not a standard rate
inline constexpr int StepMs = 250;      // one step of a running demonstration or a scrolling message
inline constexpr int CellBlinkMs = 500; // on and off time of blinking characters and rows
// The mark that the headless output prints for a user-defined character:
// no code page has it, so it is never text.
inline constexpr char32_t UserCharacterMark = U'\u25A9';

// What the cursor does when a row is full.
enum class Mode {
    Overwrite,         // on to the next row; after the lower row, home
    VerticalScroll,    // after the lower row, the lower row moves up and the new text starts below
    HorizontalScroll,  // the row shifts left and the new character enters at the right
};

// How the display read some bytes: a command with its meaning, shown text, or
// bytes it could not read. `bytes` as they came.
struct Reading {
    std::string bytes;
    std::string meaning;  // "upper line"; "text" for shown text; empty for unread bytes
};

// `ESC "QAHELLO" CR  upper line`, or `[unread ESC "z"]`.
std::string DescribeReading(const Reading& reading);

// The display's stored set-up: what configuration frames and ESC s 1 change,
// and what a state file keeps. `userCharacters` is the kept set of
// user-defined characters, "CC=P1P2P3P4P5 ..." in hex (see
// UserCharactersText), empty when none is kept.
struct Setup {
    const char* emulation;
    int ownBaud;
    const char* international;
    const char* codePage;
    std::string userCharacters = {};
};

struct CommandSet;
struct Command;
using Arguments = std::span<const std::uint8_t>;

using Pattern = std::array<std::uint8_t, 5>;  // five columns, bit 0 the top row of seven

class DisplayModel {
public:
    DisplayModel();

    // Bytes as they arrive on a line running at `lineBaud` (UnknownBaud for a
    // speed that is not a standard rate). When that differs
    // from the display's own speed, every byte shows as garbage and no command
    // is understood, as on a real display.
    void Feed(const std::uint8_t* data, std::size_t n, int lineBaud);
    // Time goes on by `ms`: the demonstration, scrolling messages, blinking,
    // the time counter, the self-test and a running macro. True when what the
    // screen shows changed.
    bool Elapse(int ms);
    void Tick() { Elapse(StepMs); }

    // What a cell shows now, as a Unicode character (UserCharacterMark for a
    // user-defined character), and whether it is lit at this moment of
    // blinking. A screen line in UTF-8. A cell keeps the character it was
    // written with: a later code page, international set or user-defined
    // character changes only what comes after.
    char32_t Glyph(int row, int column) const;
    bool Lit(int row, int column) const;
    bool Reversed(int row, int column) const;
    // The dot pattern of a cell that shows a user-defined character, or null.
    const Pattern* UserPattern(int row, int column) const;
    std::string Line(int row) const;
    std::string Status() const;

    int OwnBaud() const { return ownBaud_; }
    const char* Emulation() const { return emulation_; }
    const char* International() const { return international_; }
    const char* CodePage() const { return codePage_; }
    bool DemoRunning() const { return demo_; }
    // The line's speed as last fed: 0 before any byte, UnknownBaud for one
    // that no rate of the list has.
    int LineBaud() const { return lineBaud_; }
    bool SpeedMismatch() const { return lineBaud_ != 0 && lineBaud_ != ownBaud_; }
    int CursorRow() const { return row_; }
    int CursorColumn() const { return column_; }
    int Brightness() const { return brightness_; }
    bool CursorVisible() const { return cursorVisible_; }
    Mode RowMode(int row) const { return modes_[row]; }
    bool PrinterOnly() const { return printerOnly_; }
    // The printer is selected (ESC = 1 or 3): the host's bytes pass to it.
    bool PrinterSelected() const { return printerOnly_ || printerToo_; }
    // Where the bytes for the printer go, in order and unchanged: everything
    // the host sends while the printer is selected, but the selecting commands
    // themselves. Called at the end of every Feed with every byte whose
    // destination is decided; only bytes that may still begin a selection
    // (ESC, ESC =, while the printer is selected) wait for the next. Without
    // a sink they are counted only.
    void OnPrinterBytes(std::function<void(std::span<const std::uint8_t>)> sink) { printerSink_ = std::move(sink); }
    // The bytes passed to the printer since the start.
    std::uint64_t PrinterBytes() const { return printerBytes_; }
    // How many times the whole screen was cleared (CLR, ESC @, ...): a reader
    // that did not see the display's start knows the screen from the next one.
    std::uint64_t Clears() const { return clears_; }

    // The stored set-up, and a start from one (a state file, --emulation).
    // Labels that no option has are refused: false, nothing changed.
    Setup StoredSetup() const;
    bool Restore(const Setup& setup);
    bool SetEmulation(const char* label);
    // Called after the stored set-up changed.
    void OnSetupChanged(std::function<void(const Setup&)> listener);

    // The readings since the last call, oldest first: at most ReadingLimit.
    std::vector<Reading> TakeReadings();
    // How many readings past the limit were left out since the last call.
    std::size_t TakeReadingsLeftOut();
    static constexpr std::size_t ReadingLimit = 256;

    // ---- For the command tables ----
    void Show(std::uint8_t b);
    void MoveTo(int row, int column);
    void MoveToPosition(int position) { MoveTo(position / Columns, position % Columns); }
    int CursorPosition() const { return row_ * Columns + column_; }
    void ClearScreen();
    void ClearRow(int row);
    // Clears positions `from`..`to` (0..39, row by row) and puts the cursor at `from`.
    void ClearPositions(int from, int to);
    // Puts up to 20 characters on a row, the rest blank, the cursor after them.
    void WriteRow(int row, std::span<const std::uint8_t> text);
    // The moves at a row's end follow the mode of the cursor's row.
    void Backspace();
    void Tab();
    void LineFeed();
    void CursorUp();
    void CarriageReturn();
    void SetMode(Mode mode);
    void SetRowMode(int row, Mode mode);
    // The part of `row` that scrolls in horizontal scroll mode; off: the whole row.
    void SetScrollWindow(bool on, int row, int first, int last);
    void SetBrightness(int percent) { brightness_ = percent; }
    void SetCursorVisible(bool visible) { cursorVisible_ = visible; }
    void SetInternationalSet(int set);
    void SetCodePage(const char* label);
    // The whole screen blinks every `ms` (0 steady); off blanks it until turned on.
    void SetScreenBlink(int ms) { screenBlinkMs_ = ms; }
    void SetScreenOn(bool on) { screenOn_ = on; }
    void SetRowBlink(int row, bool on) { rowBlink_[row] = on; }
    // New characters blink / are reversed from here on.
    void SetCharacterBlink(bool on) { characterBlink_ = on; }
    void SetReverse(bool on) { reverse_ = on; }
    // The time counter at the right end of the lower row, from `seconds`
    // past midnight, ticking; with or without seconds shown.
    void StartCounter(int seconds, bool showSeconds);
    void ShowCounter(bool showSeconds);
    int CounterSeconds() const;
    // A message that scrolls through `row` from the right, on and on or once;
    // it ends when the next byte comes, when `endsOnInput`.
    void StartMarquee(int row, std::span<const std::uint8_t> text, bool once, bool endsOnInput);
    // The row's own text turns round and round (no blank run between).
    void RotateRow(int row);
    void StopMarquee();
    void StartSelfTest();
    void StopDemo();
    void StartDemo();
    void SetDemoMessage(std::span<const std::uint8_t> twoRows);
    void KeepScreenAsDemoMessage();
    void DefineUserCharacter(std::uint8_t code, std::span<const std::uint8_t> columns);
    void DeleteUserCharacter(std::uint8_t code) { userDefined_.reset(code); }
    void SelectUserCharacters(bool on) { userSelected_ = on; }
    void KeepUserCharacters();     // into the stored set-up
    void RestoreUserCharacters();  // from the stored set-up
    // The last `count` argument bytes of the command being read are not its
    // own (a macro definition broken off): read again as normal data after it.
    void GiveBack(std::size_t count) { giveBack_ = count; }
    bool DefineMacro(std::span<const std::uint8_t> bytes);
    bool RunMacro(int characterMs, int holdMs);
    bool MacroRunning() const { return macro_.running; }
    // ESC = n: the printer, the display or both take the bytes that follow.
    void SelectPeripherals(bool printer, bool display);
    // The command table that reads the next bytes; null: the emulation's own.
    void UseCommandSet(const CommandSet* set) { active_ = set ? set : base_; }
    const CommandSet* ActiveCommandSet() const { return active_; }
    // The prefix that starts the attention-code commands (AEDEX, UTC enhanced).
    void SetAttention(std::uint8_t first, std::uint8_t second) { attention_ = {first, second}; }
    std::array<std::uint8_t, 2> Attention() const { return attention_; }
    // A configuration frame's change: group 'C', 'B', 'S' or 'F' and its
    // argument. False for an argument that the group has not.
    bool Configure(char group, std::uint8_t argument);
    // ESC @: clear, home, power-on modes; the stored set-up stays.
    void Initialise();
    // Power-on modes (the emulation's own), brightness and cursor, without touching the screen.
    void ResetModes();

private:
    // What a cell shows, decided when the byte came: its character, and the
    // dots of a user-defined one (UserCharacterMark). A character converts:
    // `= ' '` blanks a cell.
    struct Cell {
        char32_t glyph = U' ';
        Pattern dots{};
        Cell() = default;
        Cell(char32_t g, const Pattern& p = {}) : glyph(g), dots(p) {}
    };
    struct Marquee {
        bool on = false, once = false, endsOnInput = false, pad = true;
        int row = 0, step = 0;
        std::vector<Cell> text;
    };
    struct Macro {
        std::string bytes;
        bool defined = false, running = false, holding = false;
        std::size_t at = 0;
        int characterMs = 0, holdMs = 0, waitMs = 0;
    };
    enum Attribute : std::uint8_t { Reverse = 2, Blink = 4 };

    // Argument bytes kept; the rest are read and dropped. The longest command
    // whose end is counted in its arguments, US ( fn pL pH and 65,535 bytes, fits.
    static constexpr std::size_t ArgumentLimit = 3 + 0xFFFF;
    static constexpr std::size_t MacroLimit = 80;
    static constexpr int SelfTestMs = 3000;

    void Byte(std::uint8_t b);
    std::size_t TextRun(const std::uint8_t* data, std::size_t n);
    void StartByte();
    void ArgumentByte(std::uint8_t b);
    Arguments Args() const;
    void Execute();
    void Single(std::uint8_t b);
    bool Introducer(std::uint8_t b) const;
    void IndexRows() {
        if (rowsSet_ != active_ || rowsAttention_[0] != attention_[0] || rowsAttention_[1] != attention_[1]) ReindexRows();
    }
    void ReindexRows();
    bool MayStart(std::uint8_t b) {
        IndexRows();
        return rowsFrom_[b + 1] != rowsFrom_[b];
    }
    void Mismatch();
    void CutShort();
    void Unread();
    std::size_t Undecided();
    void PassToPrinter();
    void Add(const char* words, std::string detail = {}, bool merges = false);
    void DropHalfCommand(const char* words);
    void StopMacro();
    void SwitchEmulation(const char* label);
    void ResetAttention();
    Cell Decode(std::uint8_t b);
    std::vector<Cell> Decode(std::span<const std::uint8_t> text);
    std::size_t DemoCell(int row, int column) const;
    void Advance();
    void ScrollUp();
    void ScrollDown();
    void StepMarquee();
    bool StepMacro(int ms);
    void Changed();
    int SpanFirst() const;
    int SpanLast() const;

    std::array<std::array<Cell, Columns>, Rows> cells_{};
    std::array<std::array<std::uint8_t, Columns>, Rows> attributes_{};
    std::array<Mode, Rows> modes_{};
    std::array<bool, Rows> rowBlink_{};
    int row_ = 0;
    int column_ = 0;
    bool pending_ = false;  // a full row waits for the next character to scroll
    int brightness_ = 100;
    bool cursorVisible_ = false;
    bool characterBlink_ = false, reverse_ = false, screenOn_ = true;
    int screenBlinkMs_ = 0;
    struct {
        bool on = false;
        int row = 0, first = 0, last = Columns - 1;
    } window_;

    // The engine: the table in use, the start bytes read so far, and the
    // command whose arguments are being read.
    const CommandSet* base_ = nullptr;
    const CommandSet* active_ = nullptr;
    std::string prefix_;
    const Command* command_ = nullptr;
    std::string arguments_;
    std::size_t argumentCount_ = 0;  // all argument bytes, also those past the kept ones
    std::size_t shown_ = 0;          // characters shown as text, for a macro's pace
    std::size_t giveBack_ = 0;       // see GiveBack
    bool playing_ = false;           // the bytes being read come from the macro, not the host
    std::uint64_t clears_ = 0;
    std::array<std::uint8_t, 2> attention_{};
    bool printerOnly_ = false;
    bool printerToo_ = false;     // printer and display both selected
    std::string toPrinter_;       // host bytes for the printer, not yet passed on
    std::uint64_t printerBytes_ = 0;
    std::function<void(std::span<const std::uint8_t>)> printerSink_;

    // The rows of the table in use (the shared rows first) by the byte that
    // starts them and then by their second byte (-1: none), in the tables'
    // order where both are the same; found again when the table or the
    // attention code changes. A byte that starts no row is read at once, and a
    // command's start is looked for among the rows of its first two bytes alone.
    struct IndexedRow {
        const Command* command;
        int second;
    };
    std::vector<IndexedRow> rows_;  // its capacity stays: no allocation when a table comes back
    std::array<std::uint16_t, 257> rowsFrom_{};  // byte b's rows: rows_[rowsFrom_[b]] up to rows_[rowsFrom_[b + 1]]
    std::array<const Command*, 256> lone_{};     // the first row that byte b is the whole start of, or null
    const CommandSet* rowsSet_ = nullptr;
    std::array<std::uint8_t, 2> rowsAttention_{};

    // The readings, kept compact until someone takes them: the row's words (a
    // constant), what its action added, and where its bytes lie in
    // `readingBytes_`. TakeReadings makes the words.
    struct Said {
        const char* words;
        std::string detail;
        std::size_t from, size;
        bool macro;  // played by a running macro
    };
    std::string token_;  // the bytes of the reading in progress
    std::vector<Said> said_;
    std::string readingBytes_;
    std::size_t readingsLeftOut_ = 0;

    // Time, from the model's start.
    long long clockMs_ = 0;
    int stepMs_ = 0;  // time toward the next demo or marquee step
    struct {
        bool shown = false, seconds = false;
        long long startMs = 0;
        int startSeconds = 0;
    } counter_;
    Marquee marquee_;
    int selfTestMs_ = 0;
    Macro macro_;

    // User-defined characters: in use, and as kept by ESC s 1.
    std::array<Pattern, 256> patterns_{};
    std::bitset<256> userDefined_;
    bool userSelected_ = false;
    std::array<Pattern, 256> keptPatterns_{};
    std::bitset<256> keptDefined_;
    std::vector<Cell> demoMessage_;  // 40 cells, or empty for the built-in text

    // The stored set-up (what configuration frames change and a state file
    // keeps) apart from the international set and code page in use, which
    // ESC @ and ESC R n change too.
    const char* emulation_ = nullptr;
    const char* storedInternational_ = nullptr;
    const char* storedCodePage_ = nullptr;
    const char* international_ = nullptr;
    const char* codePage_ = nullptr;
    const char* decodingPage_ = nullptr;  // the label whose glyphs `page_` holds
    const vantrel::CodePage* page_ = nullptr;
    int internationalSet_ = 0;
    int ownBaud_ = PowerOnBaud;
    int lineBaud_ = 0;
    bool demo_ = false;
    int demoStep_ = 0;
    std::function<void(const Setup&)> setupListener_;
};

// The kept user-defined characters as text, and back: "41=3649494936 42=...".
std::string UserCharactersText(const std::array<Pattern, 256>& patterns, const std::bitset<256>& defined);
bool ParseUserCharacters(const std::string& text, std::array<Pattern, 256>& patterns, std::bitset<256>& defined);

// The character a code page shows for a byte, by the panel's code-page label
// ("PC437", "W1252", ...); U+FFFD where the page has none.
char32_t CodePageGlyph(const char* codePage, std::uint8_t byte);
// The character of an ASCII position under an international set 0..15 (the
// ESC R n numbering); other bytes are returned unchanged.
char32_t InternationalGlyph(int set, std::uint8_t byte);

std::string Utf8(char32_t c);

}  // namespace vantrel::display
