// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/DisplayModel.h"
#include "display/Commands.h"

#include "commands/CommandFrames.h"
#include "common/CodePages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <cstring>

namespace vantrel::display {

namespace {



constexpr const char* DemoText = "  VANTREL CUSTOMER DISPLAY  *  2 x 20  *  DEMO  ";

// The label of an option frame, found by its group letter and argument.
const char* OptionLabel(char group, std::uint8_t argument) {
    for (const OptionFrame& f : OptionFrameTable)
        if (f.group == group && f.argument == argument) return f.label;
    return nullptr;
}

// The glyphs of a code page by its label; PC437's for a label without a table.
const CodePage& PageOf(const char* label) {
    const CodePage* page = FindCodePage(label ? label : "");
    return page ? *page : *FindCodePage("PC437");
}

// The national characters at # $ @ [ \ ] ^ ` { | } ~ for each ESC R n set.
constexpr std::uint8_t NationalPositions[12] = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
constexpr char32_t NationalSets[16][12] = {
    {U'#', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // USA
    {U'#', U'$', U'à', U'°', U'ç', U'§', U'^', U'`', U'é', U'ù', U'è', U'¨'},       // France
    {U'#', U'$', U'§', U'Ä', U'Ö', U'Ü', U'^', U'`', U'ä', U'ö', U'ü', U'ß'},       // Germany
    {U'£', U'$', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // United Kingdom
    {U'#', U'$', U'@', U'Æ', U'Ø', U'Å', U'^', U'`', U'æ', U'ø', U'å', U'~'},       // Denmark I
    {U'#', U'¤', U'É', U'Ä', U'Ö', U'Å', U'Ü', U'é', U'ä', U'ö', U'å', U'ü'},       // Sweden
    {U'#', U'$', U'@', U'°', U'\\', U'é', U'^', U'ù', U'à', U'ò', U'è', U'ì'},      // Italy
    {U'₧', U'$', U'@', U'¡', U'Ñ', U'¿', U'^', U'`', U'¨', U'ñ', U'}', U'~'},       // Spain I
    {U'#', U'$', U'@', U'[', U'¥', U']', U'^', U'`', U'{', U'|', U'}', U'~'},       // Japan
    {U'#', U'¤', U'É', U'Æ', U'Ø', U'Å', U'Ü', U'é', U'æ', U'ø', U'å', U'ü'},       // Norway
    {U'#', U'$', U'É', U'Æ', U'Ø', U'Å', U'Ü', U'é', U'æ', U'ø', U'å', U'ü'},       // Denmark II
    {U'#', U'$', U'á', U'¡', U'Ñ', U'¿', U'é', U'`', U'í', U'ñ', U'ó', U'ú'},       // Spain II
    {U'#', U'$', U'á', U'¡', U'Ñ', U'¿', U'é', U'ü', U'í', U'ñ', U'ó', U'ú'},       // Latin America
    {U'#', U'$', U'@', U'[', U'₩', U']', U'^', U'`', U'{', U'|', U'}', U'~'},       // Korea
    {U'#', U'$', U'Ž', U'Š', U'Đ', U'Ć', U'Č', U'ž', U'š', U'đ', U'ć', U'č'},       // Slovenia/Croatia
    {U'#', U'¥', U'@', U'[', U'\\', U']', U'^', U'`', U'{', U'|', U'}', U'~'},      // China
};
// Each ASCII byte's place in NationalPositions, or -1: one look-up per byte shown.
constexpr auto NationalIndex = [] {
    std::array<std::int8_t, 128> index{};
    index.fill(-1);
    for (int i = 0; i < 12; ++i) index[NationalPositions[i]] = static_cast<std::int8_t>(i);
    return index;
}();

// The glyphs of PC437 at the control positions, for bytes shown as characters.
constexpr char32_t ControlGlyphs[32] = {
    U' ', U'☺', U'☻', U'♥', U'♦', U'♣', U'♠', U'•', U'◘', U'○', U'◙', U'♂', U'♀', U'♪', U'♫', U'☼',
    U'►', U'◄', U'↕', U'‼', U'¶', U'§', U'▬', U'↨', U'↑', U'↓', U'→', U'←', U'∟', U'↔', U'▲', U'▼'};

// A character that a display shows for a byte it received at the wrong speed.
std::uint8_t GarbageFor(std::uint8_t b, int lineBaud, int ownBaud) {
    const unsigned mix = (b * 151u) ^ static_cast<unsigned>(lineBaud / 100) ^ static_cast<unsigned>(ownBaud / 300);
    return static_cast<std::uint8_t>(0xB0 + mix % 0x30);  // block and line-drawing glyphs of PC437
}

}  // namespace

std::string Utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

char32_t CodePageGlyph(const char* codePage, std::uint8_t byte) {
    return byte < 0x80 ? byte : PageOf(codePage).Glyph(byte);
}

char32_t InternationalGlyph(int set, std::uint8_t byte) {
    if (set < 0 || set > 15) set = 0;
    const int at = byte < 0x80 ? NationalIndex[byte] : -1;
    return at < 0 ? byte : NationalSets[set][at];
}
// ---- Set-up ----

DisplayModel::DisplayModel() {
    Initialise();
    base_ = active_ = &CommandSetOf(emulation_);
    ResetAttention();
    ResetModes();
}

void DisplayModel::ResetAttention() {
    const std::string_view code = base_->attention;
    attention_ = code.size() == 2 ? std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(code[0]), static_cast<std::uint8_t>(code[1])}
                                  : std::array<std::uint8_t, 2>{};
}

void DisplayModel::Initialise() {
    // Power-on defaults. The emulation and the display's own speed are its
    // stored configuration and survive an initialise.
    if (!emulation_) emulation_ = OptionLabel('C', '0');
    if (!storedInternational_) storedInternational_ = OptionLabel('S', '0');
    if (!storedCodePage_) storedCodePage_ = OptionLabel('F', '0');
    international_ = OptionLabel('S', '0');
    internationalSet_ = 0;
    codePage_ = OptionLabel('F', '0');
    demo_ = false;
    ResetModes();
    ClearScreen();
    characterBlink_ = reverse_ = false;
    screenOn_ = true;
    screenBlinkMs_ = 0;
    rowBlink_.fill(false);
    window_ = {};
    userDefined_.reset();
    userSelected_ = false;
    printerOnly_ = printerToo_ = false;
    selfTestMs_ = 0;
    macro_.running = false;
    counter_ = {false, false, clockMs_, 0};
    if (base_) {
        active_ = base_;
        ResetAttention();
    }
}

void DisplayModel::ResetModes() {
    modes_.fill(base_ ? base_->powerOn : Mode::Overwrite);
    brightness_ = 100;
    cursorVisible_ = false;
    pending_ = false;
}

Setup DisplayModel::StoredSetup() const {
    return {emulation_, ownBaud_, storedInternational_, storedCodePage_, UserCharactersText(keptPatterns_, keptDefined_)};
}

bool DisplayModel::Restore(const Setup& setup) {
    const OptionFrame *c = nullptr, *s = nullptr, *f = nullptr;
    bool baudKnown = false;
    for (const OptionFrame& o : OptionFrameTable) {
        if (o.group == 'C' && setup.emulation && !std::strcmp(o.label, setup.emulation)) c = &o;
        if (o.group == 'S' && setup.international && !std::strcmp(o.label, setup.international)) s = &o;
        if (o.group == 'F' && setup.codePage && !std::strcmp(o.label, setup.codePage)) f = &o;
        if (o.group == 'B' && std::atoi(o.label) == setup.ownBaud) baudKnown = true;
    }
    std::array<Pattern, 256> patterns{};
    std::bitset<256> defined;
    if (!c || !s || !f || !baudKnown || !ParseUserCharacters(setup.userCharacters, patterns, defined)) return false;
    SwitchEmulation(c->label);
    ownBaud_ = setup.ownBaud;
    storedInternational_ = international_ = s->label;
    internationalSet_ = s->argument - '0';
    storedCodePage_ = codePage_ = f->label;
    keptPatterns_ = patterns;
    keptDefined_ = defined;
    return true;
}

bool DisplayModel::SetEmulation(const char* label) {
    Setup setup = StoredSetup();
    setup.emulation = label;
    return Restore(setup);
}

void DisplayModel::SwitchEmulation(const char* label) {
    emulation_ = label;
    base_ = active_ = &CommandSetOf(label);
    // A set-up change is no initialise: the selection stays while the new
    // emulation selects peripherals too; one without ESC = has the display alone.
    if (!PrinterCommands(*base_)) printerOnly_ = printerToo_ = false;
    if (printerOnly_) active_ = PrinterCommands(*base_);
    ResetAttention();
    modes_.fill(base_->powerOn);
    pending_ = false;
}

void DisplayModel::OnSetupChanged(std::function<void(const Setup&)> listener) { setupListener_ = std::move(listener); }

void DisplayModel::Changed() {
    if (setupListener_) setupListener_(StoredSetup());
}

bool DisplayModel::Configure(char group, std::uint8_t argument) {
    const char* label = OptionLabel(group, argument);
    if (!label) return false;  // an argument the display doesn't know: ignored
    switch (group) {
    case 'C': SwitchEmulation(label); break;
    case 'B': ownBaud_ = std::atoi(label); break;
    case 'S':
        storedInternational_ = international_ = label;
        internationalSet_ = argument - '0';
        break;
    case 'F': storedCodePage_ = codePage_ = label; break;
    }
    Changed();
    return true;
}

void DisplayModel::SetInternationalSet(int set) {
    internationalSet_ = set;
    international_ = OptionLabel('S', static_cast<std::uint8_t>('0' + set));
}

void DisplayModel::SetCodePage(const char* label) {
    for (const OptionFrame& o : OptionFrameTable)
        if (o.group == 'F' && !std::strcmp(o.label, label)) codePage_ = o.label;
}

std::vector<Reading> DisplayModel::TakeReadings() {
    std::vector<Reading> readings;
    readings.reserve(said_.size());
    for (const Said& r : said_) {
        std::string meaning = r.detail.empty() ? std::string(r.words) : std::string(r.words) + " " + r.detail;
        // What a running macro plays is marked as the macro's.
        if (r.macro) meaning = "macro: " + (meaning.empty() ? std::string("not read") : meaning);
        readings.push_back({readingBytes_.substr(r.from, r.size), std::move(meaning)});
    }
    said_.clear();
    readingBytes_.clear();
    return readings;
}

std::size_t DisplayModel::TakeReadingsLeftOut() { return std::exchange(readingsLeftOut_, 0); }

// ---- Readings ----

void DisplayModel::Add(const char* words, std::string detail, bool merges) {
    // What a running macro plays is the macro's, never merged with the host's bytes.
    Said* last = said_.empty() ? nullptr : &said_.back();
    if (merges && last && last->macro == playing_ && (last->words == words || !std::strcmp(last->words, words)) &&
        last->detail.size() == detail.size() && (detail.empty() || last->detail == detail)) {
        if (last->size < 256) {  // the last reading's bytes end the store
            readingBytes_ += token_;
            last->size += token_.size();
        }
    } else if (said_.size() < ReadingLimit) {
        said_.push_back({words, std::move(detail), readingBytes_.size(), token_.size(), playing_});
        readingBytes_ += token_;
    } else {
        // Nobody may be taking them, or a flood outruns the monitor: counted, not kept.
        ++readingsLeftOut_;
    }
    token_.clear();
}

void DisplayModel::Unread() { Add("", {}, true); }

// ---- Screen ----

void DisplayModel::ClearScreen() {
    ++clears_;
    for (auto& row : cells_) row.fill(' ');
    for (auto& row : attributes_) row.fill(0);
    MoveTo(0, 0);
    counter_.shown = false;
    marquee_.on = false;
}

void DisplayModel::ClearRow(int row) {
    cells_[row].fill(' ');
    attributes_[row].fill(0);
    MoveTo(row, 0);
}

void DisplayModel::ClearPositions(int from, int to) {
    for (int p = from; p <= to; ++p) {
        cells_[p / Columns][p % Columns] = ' ';
        attributes_[p / Columns][p % Columns] = 0;
    }
    MoveToPosition(from);
}

void DisplayModel::WriteRow(int row, std::span<const std::uint8_t> text) {
    ClearRow(row);
    const std::size_t n = std::min<std::size_t>(text.size(), Columns);
    for (std::size_t i = 0; i < n; ++i) cells_[row][i] = Decode(text[i]);
    MoveTo(row, static_cast<int>(std::min<std::size_t>(n, Columns - 1)));
}

void DisplayModel::MoveTo(int row, int column) {
    row_ = row;
    column_ = column;
    pending_ = false;
    if (row == Rows - 1) counter_.shown = false;  // the counter gives way to the cursor
}

void DisplayModel::ScrollUp() {
    cells_[0] = cells_[1];
    attributes_[0] = attributes_[1];
    cells_[1].fill(' ');
    attributes_[1].fill(0);
    counter_.shown = false;
}

void DisplayModel::ScrollDown() {
    cells_[1] = cells_[0];
    attributes_[1] = attributes_[0];
    cells_[0].fill(' ');
    attributes_[0].fill(0);
    counter_.shown = false;
}

// The columns of the cursor's row that text runs through: a scroll window, or all.
int DisplayModel::SpanFirst() const {
    return window_.on && window_.row == row_ && modes_[row_] == Mode::HorizontalScroll ? window_.first : 0;
}

int DisplayModel::SpanLast() const {
    return window_.on && window_.row == row_ && modes_[row_] == Mode::HorizontalScroll ? window_.last : Columns - 1;
}

void DisplayModel::SetScrollWindow(bool on, int row, int first, int last) {
    window_ = {on, row, first, last};
    if (on) MoveTo(row, first);
}

void DisplayModel::Advance() {
    if (column_ < SpanLast()) {
        ++column_;
        return;
    }
    switch (modes_[row_]) {
    case Mode::Overwrite: MoveTo((row_ + 1) % Rows, 0); break;  // the end of line 2 goes back home
    case Mode::VerticalScroll:
        if (row_ == 0) MoveTo(1, 0);
        else pending_ = true;  // scrolls when the next character comes
        break;
    case Mode::HorizontalScroll: pending_ = true; break;
    }
}

void DisplayModel::Show(std::uint8_t b) {
    if (pending_) {
        pending_ = false;
        if (modes_[row_] == Mode::VerticalScroll && row_ == Rows - 1) {
            ScrollUp();
            column_ = 0;
        } else {  // horizontal scroll: the row (or its window) moves left by one
            const int first = SpanFirst(), last = SpanLast();
            std::copy(cells_[row_].begin() + first + 1, cells_[row_].begin() + last + 1, cells_[row_].begin() + first);
            std::copy(attributes_[row_].begin() + first + 1, attributes_[row_].begin() + last + 1,
                      attributes_[row_].begin() + first);
            column_ = last;
        }
    }
    if (row_ == Rows - 1) counter_.shown = false;
    Cell& cell = cells_[row_][column_];
    if (b >= 0x20 && b < 0x7F && !userSelected_) {  // most text: Decode's first answer, in place
        cell.glyph = InternationalGlyph(internationalSet_, b);
        cell.dots = {};
    } else {
        cell = Decode(b);
    }
    attributes_[row_][column_] = static_cast<std::uint8_t>((reverse_ ? Reverse : 0) | (characterBlink_ ? Blink : 0));
    Advance();
}

// At a row's start: in overwrite mode to the other row's right end (from
// home to the lower row's); in vertical scroll mode from the upper row the
// screen scrolls down and the cursor goes to the upper row's right end; in
// horizontal scroll mode the cursor stays.
void DisplayModel::Backspace() {
    if (column_ > SpanFirst()) return MoveTo(row_, column_ - 1);
    switch (modes_[row_]) {
    case Mode::Overwrite: MoveTo((row_ + 1) % Rows, Columns - 1); break;
    case Mode::VerticalScroll:
        if (row_ == 0) ScrollDown();
        MoveTo(0, Columns - 1);
        break;
    case Mode::HorizontalScroll: break;
    }
}

void DisplayModel::Tab() {
    pending_ = false;
    Advance();
}

void DisplayModel::LineFeed() {
    if (modes_[row_] == Mode::HorizontalScroll) return;  // the cursor is not moved
    if (row_ == Rows - 1 && modes_[row_] == Mode::VerticalScroll) {
        ScrollUp();
        // A full row already stood at the start of the next one: the feed is that scroll.
        if (pending_) MoveTo(row_, 0);
    } else {
        MoveTo((row_ + 1) % Rows, column_);
    }
}

// On the upper row: vertical scroll mode scrolls the screen down, the cursor
// stays; horizontal scroll mode does not move it.
void DisplayModel::CursorUp() {
    if (row_ == 0 && modes_[row_] == Mode::VerticalScroll) return ScrollDown(), MoveTo(0, column_);
    if (modes_[row_] == Mode::HorizontalScroll) return;
    MoveTo((row_ + Rows - 1) % Rows, column_);
}

void DisplayModel::CarriageReturn() { MoveTo(row_, 0); }

void DisplayModel::SetMode(Mode mode) {
    modes_.fill(mode);
    pending_ = false;
}

void DisplayModel::SetRowMode(int row, Mode mode) {
    modes_[row] = mode;
    pending_ = false;
}

// ---- What runs with time ----

void DisplayModel::StartCounter(int seconds, bool showSeconds) {
    counter_ = {true, showSeconds, clockMs_, seconds};
}

void DisplayModel::ShowCounter(bool showSeconds) {
    counter_.shown = true;
    counter_.seconds = showSeconds;
}

int DisplayModel::CounterSeconds() const {
    return static_cast<int>((counter_.startSeconds + (clockMs_ - counter_.startMs) / 1000) % 86400);
}

void DisplayModel::StartMarquee(int row, std::span<const std::uint8_t> text, bool once, bool endsOnInput) {
    marquee_ = {true, once, endsOnInput, true, row, 0, Decode(text)};
    StepMarquee();
}

void DisplayModel::RotateRow(int row) {
    marquee_ = {true, false, false, false, row, 0, {cells_[row].begin(), cells_[row].end()}};
}

void DisplayModel::StopMarquee() { marquee_.on = false; }

// Draws the marquee's row at its step: with a blank run of a row's length
// before the text, so that it enters from the right.
void DisplayModel::StepMarquee() {
    const std::vector<Cell>& t = marquee_.text;
    const std::size_t lead = marquee_.pad ? Columns : 0, length = lead + t.size();
    if (length == 0 || (marquee_.once && static_cast<std::size_t>(marquee_.step) >= length)) {
        marquee_.on = false;
        cells_[marquee_.row].fill(' ');
        return;
    }
    for (int c = 0; c < Columns; ++c) {
        std::size_t at = static_cast<std::size_t>(marquee_.step) + static_cast<std::size_t>(c);
        if (!marquee_.once) at %= length;
        cells_[marquee_.row][c] = at >= lead && at < length ? t[at - lead] : Cell(' ');
        attributes_[marquee_.row][c] = 0;
    }
}

// The self-test leaves every setting initialised but the user-defined
// characters, the macro and the time counter, the screen clear and the
// cursor home; the pattern shows over that until it ends.
void DisplayModel::StartSelfTest() {
    const std::bitset<256> defined = userDefined_;
    const auto counter = counter_;
    Initialise();
    userDefined_ = defined;
    counter_ = counter;
    counter_.shown = false;
    selfTestMs_ = SelfTestMs;
}

void DisplayModel::StartDemo() {
    demo_ = true;
    demoStep_ = 0;
}

void DisplayModel::StopDemo() { demo_ = false; }

void DisplayModel::KeepScreenAsDemoMessage() {
    demoMessage_.clear();
    for (const auto& row : cells_) demoMessage_.insert(demoMessage_.end(), row.begin(), row.end());
}

void DisplayModel::SetDemoMessage(std::span<const std::uint8_t> twoRows) { demoMessage_ = Decode(twoRows); }

bool DisplayModel::Elapse(int ms) {
    if (ms <= 0) return false;
    const long long before = clockMs_;
    clockMs_ += ms;
    bool changed = false;
    // Blinking: a change of phase shows.
    bool blinks = screenBlinkMs_ > 0 || rowBlink_[0] || rowBlink_[1];
    for (const auto& row : attributes_)
        for (std::uint8_t a : row) blinks = blinks || (a & Blink);
    if (blinks) {
        const int screen = screenBlinkMs_ > 0 ? screenBlinkMs_ : 1;
        changed = before / screen != clockMs_ / screen || before / CellBlinkMs != clockMs_ / CellBlinkMs;
    }
    if (counter_.shown && before / 1000 != clockMs_ / 1000) changed = true;
    if (selfTestMs_ > 0) {
        selfTestMs_ = std::max(0, selfTestMs_ - ms);
        changed = true;
    }
    // The steps of the demonstration and of a scrolling message: counted, not looped.
    stepMs_ += ms;
    const long long steps = std::min<long long>(stepMs_ / StepMs, 1 << 20);
    stepMs_ %= StepMs;
    if (steps > 0) {
        if (demo_) {
            demoStep_ = static_cast<int>((demoStep_ + steps) % (1 << 20));
            changed = true;
        }
        if (marquee_.on) {
            const std::size_t length = (marquee_.pad ? Columns : 0) + marquee_.text.size() + 1;
            marquee_.step = static_cast<int>((marquee_.step + steps) % static_cast<long long>(marquee_.once ? 1 << 20 : length));
            StepMarquee();
            changed = true;
        }
    }
    if (macro_.running) changed = StepMacro(ms) || changed;
    return changed;
}

// ---- Macros ----

bool DisplayModel::DefineMacro(std::span<const std::uint8_t> bytes) {
    StopMacro();
    macro_.defined = !bytes.empty() && bytes.size() <= MacroLimit;
    macro_.bytes.assign(bytes.begin(), macro_.defined ? bytes.end() : bytes.begin());
    return macro_.defined;
}

bool DisplayModel::RunMacro(int characterMs, int holdMs) {
    if (!macro_.defined) return false;
    macro_.running = true;
    macro_.holding = false;
    macro_.at = 0;
    macro_.characterMs = characterMs;
    macro_.holdMs = holdMs;
    macro_.waitMs = 0;
    return true;
}

// The macro ends: a command its bytes left half read is dropped, so that
// nothing of it waits for the host's next bytes.
void DisplayModel::StopMacro() {
    if (!macro_.running) return;
    DropHalfCommand("macro: cut off inside a command (dropped)");
    macro_.running = false;
}

void DisplayModel::DropHalfCommand(const char* words) {
    if (!token_.empty()) Add(words);
    prefix_.clear();
    command_ = nullptr;
    arguments_.clear();
    argumentCount_ = 0;
}

// Plays the macro's bytes through the reader: each shown character waits its
// interval; at the end the screen is held, then cleared, and it starts over.
bool DisplayModel::StepMacro(int ms) {
    macro_.waitMs -= ms;
    bool changed = false;
    for (std::size_t guard = 0; macro_.running && macro_.waitMs <= 0 && guard < 2 * MacroLimit; ++guard) {
        changed = true;
        if (macro_.holding) {
            ClearScreen();
            macro_.holding = false;
            macro_.at = 0;
            continue;
        }
        if (macro_.at >= macro_.bytes.size()) {
            DropHalfCommand("macro: cut off inside a command (dropped)");
            macro_.holding = true;
            macro_.waitMs += std::max(macro_.holdMs, StepMs);  // at least a step: a held screen is seen
            continue;
        }
        const std::size_t shownBefore = shown_;
        playing_ = true;
        Byte(static_cast<std::uint8_t>(macro_.bytes[macro_.at++]));
        playing_ = false;
        if (shown_ != shownBefore) macro_.waitMs += macro_.characterMs;
    }
    return changed;
}

// ---- User-defined characters ----

void DisplayModel::DefineUserCharacter(std::uint8_t code, std::span<const std::uint8_t> columns) {
    Pattern p{};
    std::copy_n(columns.begin(), std::min<std::size_t>(columns.size(), p.size()), p.begin());
    patterns_[code] = p;
    userDefined_.set(code);
}

void DisplayModel::KeepUserCharacters() {
    keptPatterns_ = patterns_;
    keptDefined_ = userDefined_;
    Changed();
}

void DisplayModel::RestoreUserCharacters() {
    patterns_ = keptPatterns_;
    userDefined_ = keptDefined_;
}

std::string UserCharactersText(const std::array<Pattern, 256>& patterns, const std::bitset<256>& defined) {
    std::string s;
    for (int code = 0; code < 256; ++code) {
        if (!defined[code]) continue;
        char item[16];
        const Pattern& p = patterns[code];
        std::snprintf(item, sizeof item, "%s%02X=%02X%02X%02X%02X%02X", s.empty() ? "" : " ", code, p[0], p[1], p[2], p[3], p[4]);
        s += item;
    }
    return s;
}

bool ParseUserCharacters(const std::string& text, std::array<Pattern, 256>& patterns, std::bitset<256>& defined) {
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    std::size_t at = 0;
    while (at < text.size()) {
        // "CC=P1P2P3P4P5", one space between
        if (text.size() - at < 13 || text[at + 2] != '=') return false;
        int values[6];
        for (int i = 0; i < 6; ++i) {
            const std::size_t p = at + (i == 0 ? 0 : 1 + 2 * i);
            const int high = hex(text[p]), low = hex(text[p + 1]);
            if (high < 0 || low < 0) return false;
            values[i] = high * 16 + low;
        }
        if (values[0] < 0x20 || values[0] > 0x7E) return false;  // only these codes can be defined
        for (int i = 0; i < 5; ++i) patterns[values[0]][i] = static_cast<std::uint8_t>(values[i + 1]);
        defined.set(static_cast<std::size_t>(values[0]));
        at += 13;
        if (at < text.size() && text[at++] != ' ') return false;
    }
    return true;
}

void DisplayModel::SelectPeripherals(bool printer, bool display) {
    // The selecting command (ESC = n, its three bytes the last ones fed) is
    // not passed on.
    if (PrinterSelected()) toPrinter_.resize(toPrinter_.size() - std::min<std::size_t>(toPrinter_.size(), 3));
    printerOnly_ = printer && !display;
    printerToo_ = printer && display;
    active_ = printerOnly_ ? PrinterCommands(*base_) : base_;
}

void DisplayModel::PassToPrinter() {
    const std::size_t n = toPrinter_.size() - std::min(Undecided(), toPrinter_.size());
    if (n == 0) return;
    printerBytes_ += n;
    if (printerSink_) printerSink_({reinterpret_cast<const std::uint8_t*>(toPrinter_.data()), n});
    toPrinter_.erase(0, n);
}

// ---- Bytes ----

void DisplayModel::Feed(const std::uint8_t* data, std::size_t n, int lineBaud) {
    lineBaud_ = lineBaud;
    for (std::size_t i = 0; i < n; ++i) {
        // The host speaks: a running macro ends, also one that this same read started.
        if (macro_.running) {
            StopMacro();
            ClearScreen();
        }
        if (SpeedMismatch()) {
            CutShort();
            cells_[row_][column_] = CodePageGlyph("PC437", GarbageFor(data[i], lineBaud, ownBaud_));
            attributes_[row_][column_] = 0;
            Advance();
            pending_ = false;
        } else if (const std::size_t run = TextRun(data + i, n - i)) {
            if (PrinterSelected()) toPrinter_.append(reinterpret_cast<const char*>(data + i), run);
            i += run - 1;
        } else {
            if (PrinterSelected()) toPrinter_ += static_cast<char>(data[i]);
            Byte(data[i]);
        }
    }
    if (!toPrinter_.empty()) PassToPrinter();
}

// Text between commands, read as Byte reads it one byte at a time, in one go:
// the bytes that start no command and are shown, their reading merged as
// one. Zero when the next byte is not such text or a command is being read.
std::size_t DisplayModel::TextRun(const std::uint8_t* data, std::size_t n) {
    const bool every = active_->text == Text::Every;
    if (!every && active_->text != Text::Printable) return 0;
    if (!prefix_.empty() || command_ || !token_.empty() || playing_ || (marquee_.on && marquee_.endsOnInput)) return 0;
    std::size_t run = 0;
    for (; run < n; ++run) {
        const std::uint8_t b = data[run];
        if (b == 0x00 || MayStart(b) || (!every && (b < 0x20 || b == 0x7F))) break;
        Show(b);
    }
    shown_ += run;
    if (run == 0) return 0;
    // As Add("text") for each byte: merged into the last reading while it is
    // text and has fewer than 256 bytes; past the limit, each byte is left out.
    Said* last = said_.empty() ? nullptr : &said_.back();
    static constexpr const char* Text = "text";
    if (!last || last->macro || (last->words != Text && std::strcmp(last->words, Text) != 0) || !last->detail.empty()) {
        if (said_.size() >= ReadingLimit) return readingsLeftOut_ += run, run;
        said_.push_back({Text, {}, readingBytes_.size(), 0, false});
        last = &said_.back();
    }
    if (last->size < 256) {
        const std::size_t kept = std::min(run, 256 - last->size);
        readingBytes_.append(reinterpret_cast<const char*>(data), kept);
        last->size += kept;
    }
    return run;
}

// A command cut short by a change of speed is read as it stands, not carried
// into the next reading.
void DisplayModel::CutShort() {
    if (!token_.empty()) Unread();
    prefix_.clear();
    command_ = nullptr;
    arguments_.clear();
    argumentCount_ = 0;
}

void DisplayModel::Byte(std::uint8_t b) {
    // A command that never ends must not grow without bound in the monitor.
    if (token_.size() < 256) token_ += static_cast<char>(b);
    if (command_) return ArgumentByte(b);
    if (prefix_.empty()) {
        if (b == 0x00 && !printerOnly_) {  // NUL between commands is ignored; the printer takes it
            token_.clear();
            return;
        }
        if (marquee_.on && marquee_.endsOnInput) {
            // A message that scrolls until the next command: the row is cleared, the cursor home.
            marquee_.on = false;
            cells_[marquee_.row].fill(' ');
            MoveTo(0, 0);
        }
    }
    if (prefix_.empty() && !MayStart(b)) return Single(b);  // as Mismatch reads a lone byte
    prefix_ += static_cast<char>(b);
    StartByte();
}

void DisplayModel::ReindexRows() {
    rowsSet_ = active_;
    rowsAttention_ = attention_;
    // The bytes a row may have first and second: the attention code's, a range
    // (the last start byte's), or one; an empty range (1, 0) for none.
    const auto at = [this](const Command& c, std::size_t i) -> std::pair<int, int> {
        const std::size_t lead = c.attention ? attention_.size() : 0;
        if (i < lead) return {attention_[i], attention_[i]};
        if (i - lead >= c.start.size()) return {1, 0};
        const int b = static_cast<std::uint8_t>(c.start[i - lead]);
        return {b, i - lead + 1 == c.start.size() && c.through ? c.through : b};
    };
    // A row of one byte is listed once under it, with no second byte.
    const auto seconds = [&](const Command& c) {
        const auto s = at(c, 1);
        return s.first > s.second ? std::pair<int, int>{-1, -1} : s;
    };
    const CommandSet* const sets[] = {active_->shared ? &SharedCommands() : nullptr, active_};
    std::array<std::size_t, 257> count{};
    for (const CommandSet* set : sets)
        for (const Command& c : set ? set->commands : std::span<const Command>{})
            for (auto [b, last] = at(c, 0); b <= last; ++b)
                count[static_cast<std::size_t>(b) + 1] += static_cast<std::size_t>(seconds(c).second - seconds(c).first + 1);
    for (std::size_t b = 1; b < count.size(); ++b) count[b] += count[b - 1];
    for (std::size_t b = 0; b < count.size(); ++b) rowsFrom_[b] = static_cast<std::uint16_t>(count[b]);
    rows_.resize(count[256]);
    for (const CommandSet* set : sets)
        for (const Command& c : set ? set->commands : std::span<const Command>{})
            for (auto [b, last] = at(c, 0); b <= last; ++b)
                for (auto [s, lastSecond] = seconds(c); s <= lastSecond; ++s) rows_[count[static_cast<std::size_t>(b)]++] = {&c, s};
    // Each first byte's rows by their second byte, stable: an insertion sort of a few rows.
    for (std::size_t b = 0; b < 256; ++b)
        for (std::size_t i = rowsFrom_[b] + 1u; i < rowsFrom_[b + 1]; ++i)
            for (std::size_t j = i; j > rowsFrom_[b] && rows_[j - 1].second > rows_[j].second; --j) std::swap(rows_[j - 1], rows_[j]);
    lone_.fill(nullptr);
    for (std::size_t b = 0; b < 256; ++b)
        for (std::size_t i = rowsFrom_[b + 1]; i-- > rowsFrom_[b];)  // backwards: the first in the tables' order stays
            if (const Command& c = *rows_[i].command; !c.attention && c.start.size() == 1) lone_[b] = &c;
}

namespace {

enum class Fit { No, Part, Whole };

// How the start bytes read so far fit a command's start.
Fit Fits(const Command& c, std::string_view prefix, const std::array<std::uint8_t, 2>& attention) {
    const std::size_t lead = c.attention ? attention.size() : 0, length = lead + c.start.size();
    if (prefix.size() > length) return Fit::No;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto got = static_cast<std::uint8_t>(prefix[i]);
        const auto want = i < lead ? attention[i] : static_cast<std::uint8_t>(c.start[i - lead]);
        if (i + 1 == length && c.through ? got < want || got > c.through : got != want) return Fit::No;
    }
    return prefix.size() == length ? Fit::Whole : Fit::Part;
}

}  // namespace

// The last bytes for the printer that are still read as the start of a
// selection (ESC, ESC =): whether they pass depends on the bytes to come.
// Any other command being read, the printer selected or not, decides nothing.
std::size_t DisplayModel::Undecided() {
    if (!PrinterSelected()) return 0;
    if (command_) return SelectsPeripherals(*command_) ? command_->start.size() + argumentCount_ : 0;
    if (prefix_.empty()) return 0;
    IndexRows();
    const auto first = static_cast<std::uint8_t>(prefix_[0]);
    for (std::size_t i = rowsFrom_[first]; i < rowsFrom_[first + 1]; ++i)
        if (SelectsPeripherals(*rows_[i].command) && Fits(*rows_[i].command, prefix_, attention_) == Fit::Part)
            return prefix_.size();
    return 0;
}

void DisplayModel::StartByte() {
    IndexRows();
    const auto first = static_cast<std::uint8_t>(prefix_[0]);
    // One byte: the row it is the whole start of, else whether any row goes on from it.
    const Command* whole = prefix_.size() == 1 ? lone_[first] : nullptr;
    bool part = prefix_.size() == 1 && rowsFrom_[first + 1] != rowsFrom_[first];
    if (prefix_.size() > 1) {
        // Two bytes or more: the rows of the first byte with this second one.
        const auto from = rows_.begin() + rowsFrom_[first], to = rows_.begin() + rowsFrom_[first + 1];
        const int second = static_cast<std::uint8_t>(prefix_[1]);
        for (auto r = std::lower_bound(from, to, second, [](const IndexedRow& row, int b) { return row.second < b; });
             r != to && r->second == second; ++r) {
            const Fit fit = Fits(*r->command, prefix_, attention_);
            if (fit == Fit::Whole) {
                whole = r->command;
                break;
            }
            part = part || fit == Fit::Part;
        }
    }
    if (whole) {
        const Command& c = *whole;
        prefix_.clear();
        command_ = &c;
        arguments_.clear();
        argumentCount_ = 0;
        if (c.end == End::Count && c.count == 0) Execute();
        else if (c.end == End::Rule && c.rule(Arguments{})) Execute();
        return;
    }
    if (!part) Mismatch();
}

// A byte that starts a command of the emulation's own with more bytes to come
// (ESC, US, EOT): what follows it belongs to it, even when the table knows
// no such command.
bool DisplayModel::Introducer(std::uint8_t b) const {
    if (active_->text == Text::Printer || active_->text == Text::Ignored) return false;
    for (const Command& c : active_->commands)
        if (!c.attention && c.start.size() >= 2 && static_cast<std::uint8_t>(c.start[0]) == b) return true;
    return false;
}

void DisplayModel::Mismatch() {
    const std::string bytes = std::exchange(prefix_, {});
    const auto first = static_cast<std::uint8_t>(bytes[0]);
    if (bytes.size() == 1) return Single(first);
    if (Introducer(first)) return Unread();  // one unknown command of these bytes
    // Not a command after all: the first byte on its own, the rest read again.
    token_.assign(1, bytes[0]);
    Single(first);
    for (std::size_t i = 1; i < bytes.size(); ++i) Byte(static_cast<std::uint8_t>(bytes[i]));
}

void DisplayModel::Single(std::uint8_t b) {
    switch (active_->text) {
    case Text::Printable:
        if (b < 0x20 || b == 0x7F) return Unread();
        [[fallthrough]];
    case Text::Every:
        Show(b);
        ++shown_;
        return Add("text", {}, true);
    case Text::None: return Unread();
    case Text::Printer: return Add("to printer", {}, true);
    case Text::Ignored: return Add("ignored in string mode", {}, true);
    }
}

void DisplayModel::ArgumentByte(std::uint8_t b) {
    ++argumentCount_;
    const bool terminator = command_->end == End::Terminator && b == command_->count;
    if (!terminator && arguments_.size() < ArgumentLimit) arguments_ += static_cast<char>(b);
    const bool complete = terminator || (command_->end == End::Count && argumentCount_ == command_->count) ||
                          (command_->end == End::Rule && command_->rule(Args()));
    if (complete) Execute();
}

Arguments DisplayModel::Args() const {
    return {reinterpret_cast<const std::uint8_t*>(arguments_.data()), arguments_.size()};
}

void DisplayModel::Execute() {
    const Command& c = *std::exchange(command_, nullptr);
    std::string detail = c.action ? c.action(*this, Args()) : std::string();
    const std::size_t back = std::min({std::exchange(giveBack_, 0), arguments_.size(), token_.size()});
    const std::string again = arguments_.substr(arguments_.size() - back);
    token_.resize(token_.size() - back);
    arguments_.clear();
    argumentCount_ = 0;
    Add(c.words, std::move(detail));
    for (const char b : again) Byte(static_cast<std::uint8_t>(b));
}

// ---- What is shown ----

namespace {

// The self-test pattern: a heading, then every character running by.
constexpr const char* SelfTestHeading = "  VANTREL SELF TEST ";

}  // namespace

char32_t DisplayModel::Glyph(int row, int column) const {
    if (selfTestMs_ > 0) {
        if (row == 0) return static_cast<char32_t>(SelfTestHeading[column]);
        return static_cast<char32_t>(0x21 + (clockMs_ / StepMs + column) % 94);
    }
    if (demo_) {
        if (demoMessage_.size() == 2 * Columns) return demoMessage_[DemoCell(row, column)].glyph;
        const std::size_t len = std::strlen(DemoText);
        const std::size_t at = (static_cast<std::size_t>(demoStep_) + static_cast<std::size_t>(column) + (row == 1 ? len / 2 : 0)) % len;
        return static_cast<char32_t>(DemoText[at]);
    }
    if (row == Rows - 1 && counter_.shown) {
        const int s = CounterSeconds();
        char text[16];
        std::snprintf(text, sizeof text, counter_.seconds ? "%02d:%02d:%02d" : "%02d:%02d", s / 3600, s / 60 % 60, s % 60);
        const int from = Columns - static_cast<int>(std::strlen(text));
        if (column >= from) return static_cast<char32_t>(text[column - from]);
    }
    return cells_[row][column].glyph;
}

std::size_t DisplayModel::DemoCell(int row, int column) const {
    return static_cast<std::size_t>(row * Columns) + (static_cast<std::size_t>(demoStep_) + static_cast<std::size_t>(column)) % Columns;
}

const Pattern* DisplayModel::UserPattern(int row, int column) const {
    if (Glyph(row, column) != UserCharacterMark) return nullptr;
    return demo_ ? &demoMessage_[DemoCell(row, column)].dots : &cells_[row][column].dots;
}

// What a byte shows, decided as it is written: a user-defined character while
// they are selected, else the glyph of the international set (below 80 hex)
// or of the code page in use.
DisplayModel::Cell DisplayModel::Decode(std::uint8_t b) {
    if (userSelected_ && userDefined_[b]) return {UserCharacterMark, patterns_[b]};
    if (b < 0x20) return ControlGlyphs[b];  // shown by an emulation that shows every byte
    if (b == 0x7F) return U'⌂';             // the code pages' own glyph at DEL, as PC437 draws it
    if (b < 0x80) return InternationalGlyph(internationalSet_, b);
    if (decodingPage_ != codePage_) {  // another page since the last byte: its table, found once
        decodingPage_ = codePage_;
        page_ = &PageOf(codePage_);
    }
    return page_->Glyph(b);
}

std::vector<DisplayModel::Cell> DisplayModel::Decode(std::span<const std::uint8_t> text) {
    std::vector<Cell> cells;
    cells.reserve(text.size());
    for (const std::uint8_t b : text) cells.push_back(Decode(b));
    return cells;
}

bool DisplayModel::Lit(int row, int column) const {
    if (!screenOn_) return false;
    if (screenBlinkMs_ > 0 && (clockMs_ / screenBlinkMs_) % 2) return false;
    const bool blinks = rowBlink_[row] || (attributes_[row][column] & Blink);
    return !(blinks && (clockMs_ / CellBlinkMs) % 2);
}

bool DisplayModel::Reversed(int row, int column) const {
    return selfTestMs_ <= 0 && !demo_ && (attributes_[row][column] & Reverse);
}

std::string DisplayModel::Line(int row) const {
    std::string s;
    for (int c = 0; c < Columns; ++c) s += Utf8(Glyph(row, c));
    return s;
}

std::string DisplayModel::Status() const {
    std::string s = std::string(emulation_) + "  " + std::to_string(ownBaud_) + " bit/s  " + international_ + "  " +
                    codePage_ + "  demo " + (demo_ ? "on" : "off");
    if (brightness_ != 100) s += "  brightness " + std::to_string(brightness_) + "%";
    if (cursorVisible_) s += "  cursor on";
    if (!screenOn_) s += "  display off";
    if (screenBlinkMs_ > 0) s += "  blink " + std::to_string(screenBlinkMs_) + " ms";
    if (printerOnly_) s += "  printer selected";
    if (printerToo_) s += "  printer and display selected";
    if (macro_.running) s += "  macro running";
    if (SpeedMismatch())
        s += "  |  line at " + (lineBaud_ == UnknownBaud ? std::string("an unknown speed") : std::to_string(lineBaud_) + " bit/s") +
             ", display expects " + std::to_string(ownBaud_);
    return s;
}

}  // namespace vantrel::display

namespace vantrel::display {

std::string DescribeReading(const Reading& reading) {
    static constexpr const char* Names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
                                              "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                              "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    // Printable runs in quotes, control bytes by name, the rest in hex.
    std::string out, run;
    auto token = [&out](const std::string& t) { out += (out.empty() ? "" : " ") + t; };
    for (const char c : reading.bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b >= 0x20 && b < 0x7F) {
            run += c;
            continue;
        }
        if (!run.empty()) token('"' + std::exchange(run, {}) + '"');
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", b);
        token(b < 0x20 ? Names[b] : hex);
    }
    if (!run.empty()) token('"' + run + '"');
    if (reading.meaning.empty()) return "[unread " + out + "]";
    return out + "  " + reading.meaning;
}

}  // namespace vantrel::display
