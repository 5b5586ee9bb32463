// SPDX-License-Identifier: GPL-3.0-or-later
// The display's timed effects; see Timed.h.
#include "display/Timed.h"

#include "display/Glyphs.h"
#include "display/Screen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vantrel::display {

namespace {

constexpr const char* DemoText = "  VANTREL CUSTOMER DISPLAY  *  2 x 20  *  DEMO  ";
// The self-test pattern: a heading, then every character running by.
constexpr const char* SelfTestHeading = "  VANTREL SELF TEST ";
constexpr const char* MacroCutOff = "macro: cut off inside a command (dropped)";

}  // namespace

void Timed::Initialise() {
    demo_ = false;
    screenOn_ = true;
    screenBlinkMs_ = 0;
    selfTestMs_ = 0;
    macro_.running = false;
    counter_ = {false, false, clockMs_, 0};
}

void Timed::ScreenCleared() {
    counter_.shown = false;
    marquee_.on = false;
}

void Timed::InputComes() {
    if (!EndsOnInput()) return;
    marquee_.on = false;
    screen_->BlankCells(marquee_.row);
    screen_->MoveTo(0, 0);
}

std::vector<Cell> Timed::Decode(std::span<const std::uint8_t> text) {
    std::vector<Cell> cells;
    cells.reserve(text.size());
    for (const std::uint8_t b : text) cells.push_back(glyphs_->Decode(b));
    return cells;
}

// ---- What is shown ----

char32_t Timed::Glyph(int row, int column) const {
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
    if (row == Rows - 1 && CounterShown()) {
        const int s = CounterSeconds();
        char text[16];
        std::snprintf(text, sizeof text, counter_.seconds ? "%02d:%02d:%02d" : "%02d:%02d", s / 3600, s / 60 % 60, s % 60);
        const int from = Columns - static_cast<int>(std::strlen(text));
        if (column >= from) return static_cast<char32_t>(text[column - from]);
    }
    return screen_->At(row, column).glyph;
}

std::size_t Timed::DemoCell(int row, int column) const {
    return static_cast<std::size_t>(row * Columns) + (static_cast<std::size_t>(demoStep_) + static_cast<std::size_t>(column)) % Columns;
}

const Pattern* Timed::UserPattern(int row, int column) const {
    if (Glyph(row, column) != UserCharacterMark) return nullptr;
    return demo_ ? &demoMessage_[DemoCell(row, column)].dots : &screen_->At(row, column).dots;
}

bool Timed::Lit(int row, int column) const {
    if (!screenOn_) return false;
    if (screenBlinkMs_ > 0 && (clockMs_ / screenBlinkMs_) % 2) return false;
    const bool blinks = screen_->RowBlinks(row) || (screen_->AttributesAt(row, column) & Screen::Blink);
    return !(blinks && (clockMs_ / CellBlinkMs) % 2);
}

bool Timed::Reversed(int row, int column) const {
    return selfTestMs_ <= 0 && !demo_ && (screen_->AttributesAt(row, column) & Screen::Reverse);
}

// ---- The time counter ----

void Timed::StartCounter(int seconds, bool showSeconds) {
    counter_ = {true, showSeconds, clockMs_, seconds, screen_->LowerRowChanges()};
}

void Timed::ShowCounter(bool showSeconds) {
    counter_.shown = true;
    counter_.seconds = showSeconds;
    counter_.shownAt = screen_->LowerRowChanges();
}

// The counter gives way to the cursor and to anything written on its row.
bool Timed::CounterShown() const { return counter_.shown && counter_.shownAt == screen_->LowerRowChanges(); }

int Timed::CounterSeconds() const {
    return static_cast<int>((counter_.startSeconds + (clockMs_ - counter_.startMs) / 1000) % 86400);
}

// ---- Scrolling messages ----

void Timed::StartMarquee(int row, std::span<const std::uint8_t> text, bool once, bool endsOnInput) {
    marquee_ = {true, once, endsOnInput, true, row, 0, Decode(text)};
    StepMarquee();
}

void Timed::RotateRow(int row) {
    std::vector<Cell> text;
    for (int c = 0; c < Columns; ++c) text.push_back(screen_->At(row, c));
    marquee_ = {true, false, false, false, row, 0, std::move(text)};
}

// Draws the marquee's row at its step: with a blank run of a row's length
// before the text, so that it enters from the right.
void Timed::StepMarquee() {
    const std::vector<Cell>& t = marquee_.text;
    const std::size_t lead = marquee_.pad ? Columns : 0, length = lead + t.size();
    if (length == 0 || (marquee_.once && static_cast<std::size_t>(marquee_.step) >= length)) {
        marquee_.on = false;
        screen_->BlankCells(marquee_.row);
        return;
    }
    for (int c = 0; c < Columns; ++c) {
        std::size_t at = static_cast<std::size_t>(marquee_.step) + static_cast<std::size_t>(c);
        if (!marquee_.once) at %= length;
        screen_->Draw(marquee_.row, c, at >= lead && at < length ? t[at - lead] : Cell(' '));
    }
}

// ---- Self-test and demonstration ----

void Timed::StartSelfTest(const Counter& counter) {
    counter_ = counter;
    counter_.shown = false;
    selfTestMs_ = SelfTestMs;
}

void Timed::StartDemo() {
    demo_ = true;
    demoStep_ = 0;
}

void Timed::KeepScreenAsDemoMessage() {
    demoMessage_.clear();
    for (int r = 0; r < Rows; ++r)
        for (int c = 0; c < Columns; ++c) demoMessage_.push_back(screen_->At(r, c));
}

void Timed::SetDemoMessage(std::span<const std::uint8_t> twoRows) { demoMessage_ = Decode(twoRows); }

bool Timed::Elapse(int ms) {
    if (ms <= 0) return false;
    const long long before = clockMs_;
    clockMs_ += ms;
    bool changed = false;
    // Blinking: a change of phase shows.
    if (screenBlinkMs_ > 0 || screen_->Blinks()) {
        const int screen = screenBlinkMs_ > 0 ? screenBlinkMs_ : 1;
        changed = before / screen != clockMs_ / screen || before / CellBlinkMs != clockMs_ / CellBlinkMs;
    }
    if (CounterShown() && before / 1000 != clockMs_ / 1000) changed = true;
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

bool Timed::DefineMacro(std::span<const std::uint8_t> bytes) {
    StopMacro();
    macro_.defined = !bytes.empty() && bytes.size() <= MacroLimit;
    macro_.bytes.assign(bytes.begin(), macro_.defined ? bytes.end() : bytes.begin());
    return macro_.defined;
}

bool Timed::RunMacro(int characterMs, int holdMs) {
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
void Timed::StopMacro() {
    if (!macro_.running) return;
    host_->DropHalfCommand(MacroCutOff);
    macro_.running = false;
}

// Plays the macro's bytes through the reader: each shown character waits its
// interval; at the end the screen is held, then cleared, and it starts over.
bool Timed::StepMacro(int ms) {
    macro_.waitMs -= ms;
    bool changed = false;
    for (std::size_t guard = 0; macro_.running && macro_.waitMs <= 0 && guard < 2 * MacroLimit; ++guard) {
        changed = true;
        if (macro_.holding) {
            host_->ClearScreen();
            macro_.holding = false;
            macro_.at = 0;
            continue;
        }
        if (macro_.at >= macro_.bytes.size()) {
            host_->DropHalfCommand(MacroCutOff);
            macro_.holding = true;
            macro_.waitMs += std::max(macro_.holdMs, StepMs);  // at least a step: a held screen is seen
            continue;
        }
        if (host_->PlayByte(static_cast<std::uint8_t>(macro_.bytes[macro_.at++]))) macro_.waitMs += macro_.characterMs;
    }
    return changed;
}

}  // namespace vantrel::display
