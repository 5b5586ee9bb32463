// SPDX-License-Identifier: GPL-3.0-or-later
// A 2 x 20 customer display, as a byte reader: what it shows for every byte
// the line brings. No Qt here: the virtual display's window, its headless
// printer, the tests and the panel all use this one model.
//
// The model is the façade over the display's layers, each in a file of its
// own: the reader (Reader.h) matches bytes against the emulation's command
// table (Commands.h) and hands on text and commands; the screen (Screen.h)
// keeps the cells and the cursor; the glyphs (Glyphs.h) decide what a byte
// shows; what moves with time is in Timed.h; the monitor's readings in
// Readings.h and the printer's selection in PrinterSelection.h. The model
// itself keeps the display's stored set-up (emulation, own speed,
// international set and code page) and carries out the tables' actions.
#pragma once

#include "display/Cell.h"
#include "display/Glyphs.h"
#include "display/PrinterSelection.h"
#include "display/Reader.h"
#include "display/Readings.h"
#include "display/Screen.h"
#include "display/Timed.h"
#include "serial/PortTables.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vantrel::display {

inline constexpr int PowerOnBaud = 9600;
using vantrel::UnknownBaud;
inline constexpr int FramingErrorsBaud = -2;  // bytes that came with framing errors: the till's speed is not the port's

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

class DisplayModel : private ReaderEvents, private MacroHost {
public:
    DisplayModel();
    DisplayModel(const DisplayModel& other);
    DisplayModel& operator=(const DisplayModel&) = delete;

    // Bytes as they arrive on a line running at `lineBaud` (UnknownBaud for a
    // speed that is not a standard rate). When that differs
    // from the display's own speed, every byte shows as garbage and no command
    // is understood, as on a real display.
    void Feed(const std::uint8_t* data, std::size_t n, int lineBaud);
    // The display's own speed and command set change only by a configuration
    // frame, at its last byte (ETX): how many of `n` bytes go up to and with
    // the first ETX (all of them without one). Fed in such pieces, the bytes
    // after a change are known to be read by the set-up then in force.
    static std::size_t UpToFrameEnd(const std::uint8_t* data, std::size_t n) {
        const std::uint8_t* etx = std::find(data, data + n, std::uint8_t{0x03});
        return etx == data + n ? n : static_cast<std::size_t>(etx - data) + 1;
    }
    // Time goes on by `ms`: the demonstration, scrolling messages, blinking,
    // the time counter, the self-test and a running macro. True when what the
    // screen shows changed.
    bool Elapse(int ms) { return timed_.Elapse(ms); }
    void Tick() { Elapse(StepMs); }

    // What a cell shows now, as a Unicode character (UserCharacterMark for a
    // user-defined character), and whether it is lit at this moment of
    // blinking. A screen line in UTF-8. A cell keeps the character it was
    // written with: a later code page, international set or user-defined
    // character changes only what comes after.
    char32_t Glyph(int row, int column) const { return timed_.Glyph(row, column); }
    bool Lit(int row, int column) const { return timed_.Lit(row, column); }
    bool Reversed(int row, int column) const { return timed_.Reversed(row, column); }
    // The dot pattern of a cell that shows a user-defined character, or null.
    const Pattern* UserPattern(int row, int column) const { return timed_.UserPattern(row, column); }
    std::string Line(int row) const;
    std::string Status() const;

    int OwnBaud() const { return ownBaud_; }
    const char* Emulation() const { return emulation_; }
    const char* International() const;
    const char* CodePage() const { return glyphs_.CodePage(); }
    bool DemoRunning() const { return timed_.DemoRunning(); }
    // The line's speed as last fed: 0 before any byte, UnknownBaud for one
    // that no rate of the list has.
    int LineBaud() const { return lineBaud_; }
    bool SpeedMismatch() const { return lineBaud_ != 0 && lineBaud_ != ownBaud_; }
    int CursorRow() const { return screen_.Row(); }
    int CursorColumn() const { return screen_.Column(); }
    int Brightness() const { return brightness_; }
    bool CursorVisible() const { return cursorVisible_; }
    Mode RowMode(int row) const { return screen_.RowMode(row); }
    bool PrinterOnly() const { return printer_.PrinterOnly(); }
    // The printer is selected (ESC = 1 or 3): the host's bytes pass to it.
    bool PrinterSelected() const { return printer_.Selected(); }
    // Where the bytes for the printer go, in order and unchanged: everything
    // the host sends while the printer is selected, but the selecting commands
    // themselves. Called at the end of every Feed with every byte whose
    // destination is decided; only bytes that may still begin a selection
    // (ESC, ESC =, while the printer is selected) wait for the next. Without
    // a sink they are counted only.
    void OnPrinterBytes(std::function<void(std::span<const std::uint8_t>)> sink) { printer_.OnBytes(std::move(sink)); }
    // The bytes passed to the printer since the start.
    std::uint64_t PrinterBytes() const { return printer_.Passed(); }
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

    // A command still open is none after all (Reader::GiveUp): for a reader
    // that ranks the till's command set when the line goes quiet. Returns the
    // bytes unread that no reading holds.
    std::size_t GiveUpOpenCommand() { return reader_.GiveUp(); }

    // The readings since the last call, oldest first: at most ReadingLimit.
    std::vector<Reading> TakeReadings() { return readings_.Take(); }
    // How many readings past the limit were left out since the last call.
    std::size_t TakeReadingsLeftOut() { return readings_.TakeLeftOut(); }
    static constexpr std::size_t ReadingLimit = Readings::Limit;

    // ---- For the command tables ----
    void Show(std::uint8_t b) { screen_.Put(glyphs_.Decode(b)); }
    void MoveTo(int row, int column) { screen_.MoveTo(row, column); }
    void MoveToPosition(int position) { screen_.MoveToPosition(position); }
    int CursorPosition() const { return screen_.Position(); }
    void ClearScreen() override;
    void ClearRow(int row) { screen_.ClearRow(row); }
    // Clears positions `from`..`to` (0..39, row by row) and puts the cursor at `from`.
    void ClearPositions(int from, int to) { screen_.ClearPositions(from, to); }
    // Puts up to 20 characters on a row, the rest blank, the cursor after them.
    void WriteRow(int row, std::span<const std::uint8_t> text);
    void Backspace() { screen_.Backspace(); }
    void Tab() { screen_.Tab(); }
    void LineFeed() { screen_.LineFeed(); }
    void CursorUp() { screen_.CursorUp(); }
    void CarriageReturn() { screen_.CarriageReturn(); }
    void SetMode(Mode mode) { screen_.SetMode(mode); }
    void SetRowMode(int row, Mode mode) { screen_.SetRowMode(row, mode); }
    void SetScrollWindow(bool on, int row, int first, int last) { screen_.SetScrollWindow(on, row, first, last); }
    void SetBrightness(int percent) { brightness_ = percent; }
    void SetCursorVisible(bool visible) { cursorVisible_ = visible; }
    void SetInternationalSet(int set) { glyphs_.SetInternationalSet(set); }
    // A code page by its option label; a label no option has is ignored.
    void SetCodePage(const char* label);
    void SetScreenBlink(int ms) { timed_.SetScreenBlink(ms); }
    void SetScreenOn(bool on) { timed_.SetScreenOn(on); }
    void SetRowBlink(int row, bool on) { screen_.SetRowBlink(row, on); }
    void SetCharacterBlink(bool on) { screen_.SetCharacterBlink(on); }
    void SetReverse(bool on) { screen_.SetReverse(on); }
    void StartCounter(int seconds, bool showSeconds) { timed_.StartCounter(seconds, showSeconds); }
    void ShowCounter(bool showSeconds) { timed_.ShowCounter(showSeconds); }
    int CounterSeconds() const { return timed_.CounterSeconds(); }
    void StartMarquee(int row, std::span<const std::uint8_t> text, bool once, bool endsOnInput) {
        timed_.StartMarquee(row, text, once, endsOnInput);
    }
    void RotateRow(int row) { timed_.RotateRow(row); }
    void StopMarquee() { timed_.StopMarquee(); }
    // Every setting initialised but the user-defined characters, the macro and
    // the time counter; the self-test pattern shows over that until it ends.
    void StartSelfTest();
    void StopDemo() { timed_.StopDemo(); }
    void StartDemo() { timed_.StartDemo(); }
    void SetDemoMessage(std::span<const std::uint8_t> twoRows) { timed_.SetDemoMessage(twoRows); }
    void KeepScreenAsDemoMessage() { timed_.KeepScreenAsDemoMessage(); }
    void DefineUserCharacter(std::uint8_t code, std::span<const std::uint8_t> columns) { glyphs_.DefineUserCharacter(code, columns); }
    void DeleteUserCharacter(std::uint8_t code) { glyphs_.DeleteUserCharacter(code); }
    void SelectUserCharacters(bool on) { glyphs_.SelectUserCharacters(on); }
    void KeepUserCharacters();  // into the stored set-up
    void RestoreUserCharacters() { glyphs_.RestoreKept(); }
    // The last `count` argument bytes of the command being read are not its
    // own (a macro definition broken off): read again as normal data after it.
    void GiveBack(std::size_t count) { reader_.GiveBack(count); }
    bool DefineMacro(std::span<const std::uint8_t> bytes) { return timed_.DefineMacro(bytes); }
    bool RunMacro(int characterMs, int holdMs) { return timed_.RunMacro(characterMs, holdMs); }
    bool MacroRunning() const { return timed_.MacroRunning(); }
    // ESC = n: the printer, the display or both take the bytes that follow.
    void SelectPeripherals(bool printer, bool display);
    // The command table that reads the next bytes; null: the emulation's own.
    void UseCommandSet(const CommandSet* set) { reader_.UseCommandSet(set); }
    const CommandSet* ActiveCommandSet() const { return reader_.ActiveCommandSet(); }
    // The prefix that starts the attention-code commands (AEDEX, UTC enhanced).
    void SetAttention(std::uint8_t first, std::uint8_t second) { reader_.SetAttention(first, second); }
    std::array<std::uint8_t, 2> Attention() const { return reader_.Attention(); }
    // A configuration frame's change: group 'C', 'B', 'S' or 'F' and its
    // argument. False for an argument that the group has not.
    bool Configure(char group, std::uint8_t argument);
    // ESC @: clear, home, power-on modes; the stored set-up stays.
    void Initialise();
    // Power-on modes (the emulation's own), brightness and cursor, without touching the screen.
    void ResetModes();

private:
    // What the reader hands on.
    void Between() override { timed_.InputComes(); }
    void Text(std::span<const std::uint8_t> bytes) override;
    Detail Perform(const Command& command, Arguments arguments) override { return command.action(*this, arguments); }
    void Read(ReadingKind kind, const char* words, const Detail& detail, std::string_view bytes, bool merges) override {
        readings_.Add(kind, words, detail, bytes, merges, playing_);
    }
    // What a running macro plays into.
    bool PlayByte(std::uint8_t b) override;
    void DropHalfCommand(const char* words) override { reader_.Drop(words); }

    void SwitchEmulation(const char* label);
    void Changed();

    Screen screen_;
    Glyphs glyphs_;
    Readings readings_;
    PrinterSelection printer_;
    Reader reader_{*this};
    Timed timed_{screen_, glyphs_, *this};

    int brightness_ = 100;
    bool cursorVisible_ = false;
    bool textShown_ = false;  // the byte being read was shown as text (a macro's pace)
    bool playing_ = false;    // the bytes being read come from the macro, not the host
    std::uint64_t clears_ = 0;
    std::array<Cell, Rows * Columns> decoded_;  // a run of text on its way to the screen

    // The stored set-up (what configuration frames change and a state file
    // keeps) apart from the international set and code page in use, which
    // ESC @ and ESC R n change too.
    const char* emulation_ = nullptr;
    const char* storedInternational_ = nullptr;
    const char* storedCodePage_ = nullptr;
    int ownBaud_ = PowerOnBaud;
    int lineBaud_ = 0;
    std::function<void(const Setup&)> setupListener_;
};

}  // namespace vantrel::display
