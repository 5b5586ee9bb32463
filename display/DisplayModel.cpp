// SPDX-License-Identifier: GPL-3.0-or-later
// The display model: the stored set-up, the bytes' way through the reader,
// and the tables' actions that reach more than one layer; see DisplayModel.h.
#include "display/DisplayModel.h"
#include "display/Commands.h"

#include "common/SetupNames.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vantrel::display {

namespace {

// A character that a display shows for a byte it received at the wrong speed.
std::uint8_t GarbageFor(std::uint8_t b, int lineBaud, int ownBaud) {
    const unsigned mix = (b * 151u) ^ static_cast<unsigned>(lineBaud / 100) ^ static_cast<unsigned>(ownBaud / 300);
    return static_cast<std::uint8_t>(0xB0 + mix % 0x30);  // block and line-drawing glyphs of PC437
}

}  // namespace

// ---- Set-up ----

DisplayModel::DisplayModel() {
    Initialise();
    reader_.SetBase(CommandSetOf(emulation_));
    ResetModes();
}

DisplayModel::DisplayModel(const DisplayModel& other)
    : screen_(other.screen_), glyphs_(other.glyphs_), readings_(other.readings_), printer_(other.printer_),
      reader_(other.reader_, *this), timed_(other.timed_, screen_, glyphs_, *this), brightness_(other.brightness_),
      cursorVisible_(other.cursorVisible_), textShown_(other.textShown_), playing_(other.playing_), clears_(other.clears_),
      emulation_(other.emulation_), storedInternational_(other.storedInternational_), storedCodePage_(other.storedCodePage_),
      ownBaud_(other.ownBaud_), lineBaud_(other.lineBaud_), setupListener_(other.setupListener_) {}

void DisplayModel::Initialise() {
    // Power-on defaults. The emulation and the display's own speed are its
    // stored configuration and survive an initialise.
    if (!emulation_) emulation_ = SetupNameOf('C', '0');
    if (!storedInternational_) storedInternational_ = SetupNameOf('S', '0');
    if (!storedCodePage_) storedCodePage_ = SetupNameOf('F', '0');
    glyphs_.Initialise(SetupNameOf('F', '0'));
    timed_.Initialise();
    ResetModes();
    ClearScreen();
    screen_.ResetAttributes();
    printer_.Reset();
    if (reader_.Base()) reader_.Reset();
}

void DisplayModel::ResetModes() {
    screen_.ResetModes(reader_.Base() ? reader_.Base()->powerOn : Mode::Overwrite);
    brightness_ = 100;
    cursorVisible_ = false;
}

const char* DisplayModel::International() const {
    // Read after every ESC R n: the sixteen labels found once.
    static const auto labels = [] {
        std::array<const char*, 16> l{};
        for (int set = 0; set < 16; ++set) l[set] = SetupNameOf('S', static_cast<std::uint8_t>('0' + set));
        return l;
    }();
    const int set = glyphs_.InternationalSet();
    return set >= 0 && set < 16 ? labels[set] : SetupNameOf('S', static_cast<std::uint8_t>('0' + set));
}

Setup DisplayModel::StoredSetup() const {
    return {emulation_, ownBaud_, storedInternational_, storedCodePage_, glyphs_.KeptText()};
}

bool DisplayModel::Restore(const Setup& setup) {
    const auto find = [](char group, const char* name) -> const SetupName* {
        for (const SetupName& n : SetupGroup(group))
            if (name && !std::strcmp(n.name, name)) return &n;
        return nullptr;
    };
    const SetupName* c = find('C', setup.emulation);
    const SetupName* s = find('S', setup.international);
    const SetupName* f = find('F', setup.codePage);
    const bool baudKnown = std::any_of(SpeedNames.begin(), SpeedNames.end(),
                                       [&setup](const SetupName& n) { return std::atoi(n.name) == setup.ownBaud; });
    std::array<Pattern, 256> patterns{};
    std::bitset<256> defined;
    if (!c || !s || !f || !baudKnown || !ParseUserCharacters(setup.userCharacters, patterns, defined)) return false;
    SwitchEmulation(c->name);
    ownBaud_ = setup.ownBaud;
    storedInternational_ = s->name;
    glyphs_.SetInternationalSet(s->argument - '0');
    storedCodePage_ = f->name;
    glyphs_.SetCodePage(f->name);
    glyphs_.SetKept(patterns, defined);
    return true;
}

bool DisplayModel::SetEmulation(const char* label) {
    Setup setup = StoredSetup();
    setup.emulation = label;
    return Restore(setup);
}

void DisplayModel::SwitchEmulation(const char* label) {
    emulation_ = label;
    const CommandSet& base = CommandSetOf(label);
    reader_.SetBase(base);
    // A set-up change is no initialise: the selection stays while the new
    // emulation selects peripherals too; one without ESC = has the display alone.
    if (!PrinterCommands(base)) printer_.Reset();
    if (printer_.PrinterOnly()) reader_.UseCommandSet(PrinterCommands(base));
    screen_.SetMode(base.powerOn);
}

void DisplayModel::OnSetupChanged(std::function<void(const Setup&)> listener) { setupListener_ = std::move(listener); }

void DisplayModel::Changed() {
    if (setupListener_) setupListener_(StoredSetup());
}

bool DisplayModel::Configure(char group, std::uint8_t argument) {
    const char* label = SetupNameOf(group, argument);
    if (!label) return false;  // an argument the display doesn't know: ignored
    switch (group) {
    case 'C': SwitchEmulation(label); break;
    case 'B': ownBaud_ = std::atoi(label); break;
    case 'S':
        storedInternational_ = label;
        glyphs_.SetInternationalSet(argument - '0');
        break;
    case 'F':
        storedCodePage_ = label;
        glyphs_.SetCodePage(label);
        break;
    }
    Changed();
    return true;
}

void DisplayModel::SetCodePage(const char* label) {
    if (!std::strcmp(label, glyphs_.CodePage())) return;  // tills choose the same page again and again
    if (const char* name = SetupNameIn('F', label)) glyphs_.SetCodePage(name);
}

void DisplayModel::KeepUserCharacters() {
    glyphs_.Keep();
    Changed();
}

// ---- Actions that reach several layers ----

void DisplayModel::ClearScreen() {
    ++clears_;
    screen_.Clear();
    timed_.ScreenCleared();
}

void DisplayModel::WriteRow(int row, std::span<const std::uint8_t> text) {
    std::array<Cell, Columns> cells;
    const std::size_t n = std::min<std::size_t>(text.size(), Columns);
    for (std::size_t i = 0; i < n; ++i) cells[i] = glyphs_.Decode(text[i]);
    screen_.WriteRow(row, {cells.data(), n});
}

void DisplayModel::StartSelfTest() {
    const std::bitset<256> defined = glyphs_.UserDefined();
    const Timed::Counter counter = timed_.CounterState();
    Initialise();
    glyphs_.SetUserDefined(defined);
    timed_.StartSelfTest(counter);
}

void DisplayModel::SelectPeripherals(bool printer, bool display) {
    printer_.Select(printer, display);
    reader_.UseCommandSet(printer_.PrinterOnly() ? PrinterCommands(*reader_.Base()) : nullptr);
}

// ---- Bytes ----

void DisplayModel::Feed(const std::uint8_t* data, std::size_t n, int lineBaud) {
    lineBaud_ = lineBaud;
    for (std::size_t i = 0; i < n; ++i) {
        // The host speaks: a running macro ends, also one that this same read started.
        if (timed_.MacroRunning()) {
            timed_.StopMacro();
            ClearScreen();
        }
        if (SpeedMismatch()) {
            reader_.CutShort();
            screen_.Overwrite(CodePageGlyph("PC437", GarbageFor(data[i], lineBaud, ownBaud_)));
        } else if (const std::size_t run = timed_.EndsOnInput() ? 0 : reader_.TextRun(data + i, n - i)) {
            if (printer_.Selected()) printer_.Hold(data + i, run);
            i += run - 1;
        } else if (const std::size_t length = reader_.CommandAhead(data + i, n - i)) {
            if (printer_.Selected()) printer_.Hold(data + i, length);
            reader_.ReadCommand(data + i);
            i += length - 1;
        } else {
            if (printer_.Selected()) printer_.Hold(data + i, 1);
            reader_.Byte(data[i]);
        }
    }
    if (printer_.Holding()) printer_.Pass(printer_.Selected() ? reader_.SelectionUnderway() : 0);
}

void DisplayModel::Text(std::span<const std::uint8_t> bytes) {
    // Decoded a screenful at a time, put on the screen in one go.
    for (std::size_t at = 0; at < bytes.size(); at += decoded_.size()) {
        const std::size_t n = std::min(decoded_.size(), bytes.size() - at);
        glyphs_.Decode(bytes.subspan(at, n), decoded_.data());
        screen_.Put({decoded_.data(), n});
    }
    textShown_ = true;
    readings_.AddText(bytes, playing_);
}

bool DisplayModel::PlayByte(std::uint8_t b) {
    textShown_ = false;
    playing_ = true;
    reader_.Byte(b);
    playing_ = false;
    return textShown_;
}

// ---- What is shown ----

std::string DisplayModel::Line(int row) const {
    std::string s;
    for (int c = 0; c < Columns; ++c) s += Utf8(Glyph(row, c));
    return s;
}

std::string DisplayModel::Status() const {
    std::string s = std::string(emulation_) + "  " + std::to_string(ownBaud_) + " bit/s  " + International() + "  " +
                    CodePage() + "  demo " + (DemoRunning() ? "on" : "off");
    if (brightness_ != 100) s += "  brightness " + std::to_string(brightness_) + "%";
    if (cursorVisible_) s += "  cursor on";
    if (!timed_.ScreenOn()) s += "  display off";
    if (timed_.ScreenBlinkMs() > 0) s += "  blink " + std::to_string(timed_.ScreenBlinkMs()) + " ms";
    if (printer_.PrinterOnly()) s += "  printer selected";
    if (printer_.PrinterToo()) s += "  printer and display selected";
    if (timed_.MacroRunning()) s += "  macro running";
    if (SpeedMismatch())
        s += "  |  " +
             (lineBaud_ == FramingErrorsBaud ? std::string("framing errors: the till sends at another speed")
              : lineBaud_ == UnknownBaud     ? std::string("line at an unknown speed")
                                             : "line at " + std::to_string(lineBaud_) + " bit/s") +
             ", display expects " + std::to_string(ownBaud_);
    return s;
}

}  // namespace vantrel::display
