// SPDX-License-Identifier: GPL-3.0-or-later
// A 2 x 20 customer display, as a byte interpreter: what it shows for every
// byte the line brings. No Qt here: the window, the headless printer and the
// tests all drive this one model.
//
// The model holds the screen and the display's set-up. The configuration
// frames (STX ENQ group argument ETX), demonstration on and off, and ESC @ are
// understood in every emulation, as a real display keeps its set-up commands;
// everything else goes to the interpreter of the current emulation
// (Emulations.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::display {

inline constexpr int Rows = 2;
inline constexpr int Columns = 20;
inline constexpr int PowerOnBaud = 9600;
inline constexpr int UnknownBaud = -1;  // a line speed that is not a standard rate

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

// `ESC Q A "HELLO" CR  upper line`, or `[unread 1B 7A]`.
std::string DescribeReading(const Reading& reading);

class DisplayModel;

// One emulation's command set: a small state machine fed one byte at a time.
class Interpreter {
public:
    virtual ~Interpreter() = default;
    virtual void Byte(DisplayModel& m, std::uint8_t b) = 0;
    // True when no command is half-read, so a byte now starts a new one.
    virtual bool AtGround() const = 0;
};

// The interpreter of an emulation, by its option label ("CD5220", "AEDEX", ...).
std::unique_ptr<Interpreter> MakeInterpreter(const char* emulation);

// The display's stored set-up: what configuration frames change, and what a
// state file keeps.
struct Setup {
    const char* emulation;
    int ownBaud;
    const char* international;
    const char* codePage;
};

class DisplayModel {
public:
    DisplayModel();
    ~DisplayModel();

    // Bytes as they arrive on a line running at `lineBaud` (UnknownBaud for a
    // speed that is not a standard rate). When that differs
    // from the display's own speed, every byte shows as garbage and no command
    // is understood, as on a real display.
    void Feed(const std::uint8_t* data, std::size_t n, int lineBaud);
    // One step of the running demonstration text.
    void Tick();

    // What a cell shows now (the demo text while it runs), as a Unicode character.
    char32_t Glyph(int row, int column) const;
    // A screen line in UTF-8.
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

    // The stored set-up, and a start from one (a state file, --emulation).
    // Labels that no option has are refused: false, nothing changed.
    Setup StoredSetup() const;
    bool Restore(const Setup& setup);
    bool SetEmulation(const char* label);
    // Called after a configuration frame changed the stored set-up.
    void OnSetupChanged(std::function<void(const Setup&)> listener);

    // The readings since the last call, oldest first: at most ReadingLimit.
    std::vector<Reading> TakeReadings();
    // How many readings past the limit were left out since the last call.
    std::size_t TakeReadingsLeftOut();
    static constexpr std::size_t ReadingLimit = 256;

    // ---- For the interpreters ----
    void Show(std::uint8_t b);
    void MoveTo(int row, int column);
    void ClearScreen();
    void ClearRow(int row);
    // Clears positions `from`..`to` (0..39, row by row) and puts the cursor at `from`.
    void ClearPositions(int from, int to);
    // Puts up to 20 characters on a row, the rest blank, the cursor after them.
    void WriteRow(int row, const std::string& text);
    void Backspace();
    void Tab();
    void LineFeed();
    void CarriageReturn();
    void SetMode(Mode mode);
    void SetRowMode(int row, Mode mode);
    void SetBrightness(int percent) { brightness_ = percent; }
    void SetCursorVisible(bool visible) { cursorVisible_ = visible; }
    void SetInternationalSet(int set);
    // ESC @: clear, home, power-on modes; the stored set-up stays.
    void Initialise();
    // Power-on modes, brightness and cursor, without touching the screen.
    void ResetModes();

    // The command read so far is complete and means `meaning`.
    void Done(const char* meaning);
    void Done(const std::string& meaning) { Done(meaning.c_str()); }
    // The bytes read so far were shown as text.
    void Shown();
    // The bytes read so far could not be read.
    void Unread();

private:
    enum class Frame { None, Stx, Enq, Argument, Etx };

    void Byte(std::uint8_t b);
    void Dispatch(std::uint8_t b);
    bool FrameByte(std::uint8_t b);
    void Advance();
    void Configure(char group, std::uint8_t argument);
    void Add(std::string meaning);
    void ScrollUp();

    std::array<std::array<std::uint8_t, Columns>, Rows> cells_{};
    std::array<std::array<bool, Columns>, Rows> garbage_{};
    std::array<Mode, Rows> modes_{};
    int row_ = 0;
    int column_ = 0;
    bool pending_ = false;  // a full row waits for the next character to scroll
    int brightness_ = 100;
    bool cursorVisible_ = false;

    Frame frame_ = Frame::None;
    bool escape_ = false;  // an ESC held to see whether '@' follows
    char group_ = 0;
    std::uint8_t argument_ = 0;
    std::unique_ptr<Interpreter> interpreter_;

    std::string token_;  // the bytes of the reading in progress
    std::vector<Reading> readings_;

    std::size_t readingsLeftOut_ = 0;

    // The stored set-up (what configuration frames change and a state file
    // keeps) apart from the international set and code page in use, which
    // ESC @ and ESC R n change too.
    const char* emulation_ = nullptr;
    const char* storedInternational_ = nullptr;
    const char* storedCodePage_ = nullptr;
    const char* international_ = nullptr;
    const char* codePage_ = nullptr;
    int internationalSet_ = 0;
    int ownBaud_ = PowerOnBaud;
    int lineBaud_ = 0;
    bool demo_ = false;
    int demoStep_ = 0;
    std::function<void(const Setup&)> setupListener_;
};

// The character a code page shows for a byte, by the panel's code-page label
// ("PC437", "W1252", ...); U+FFFD where the page has none.
char32_t CodePageGlyph(const char* codePage, std::uint8_t byte);
// The character of an ASCII position under an international set 0..15 (the
// ESC R n numbering); other bytes are returned unchanged.
char32_t InternationalGlyph(int set, std::uint8_t byte);

std::string Utf8(char32_t c);

}  // namespace vantrel::display
