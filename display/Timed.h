// SPDX-License-Identifier: GPL-3.0-or-later
// Everything on the display that moves with time, driven by Elapse: the
// clock, blinking, the time counter, a scrolling message, the demonstration,
// the self-test and a running macro. What a cell shows at a moment is the
// screen's cell with these drawn over it.
#pragma once

#include "display/Cell.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::display {

class Screen;
class Glyphs;

inline constexpr int StepMs = 250;      // one step of a running demonstration or a scrolling message
inline constexpr int CellBlinkMs = 500; // on and off time of blinking characters and rows

// Where a running macro plays its bytes: the display's reader, as if the host
// sent them.
class MacroHost {
public:
    // True when the byte was shown as text.
    virtual bool PlayByte(std::uint8_t b) = 0;
    virtual void ClearScreen() = 0;
    // A command the macro's bytes left half read is dropped, read as `words`.
    virtual void DropHalfCommand(const char* words) = 0;

protected:
    ~MacroHost() = default;
};

class Timed {
public:
    // The time counter at the right end of the lower row.
    struct Counter {
        bool shown = false, seconds = false;
        long long startMs = 0;
        int startSeconds = 0;
        std::uint64_t shownAt = 0;  // the screen's lower-row changes when it was shown
    };

    Timed(Screen& screen, Glyphs& glyphs, MacroHost& host) : screen_(&screen), glyphs_(&glyphs), host_(&host) {}
    // A copy that works on `screen`, `glyphs` and `host`.
    Timed(const Timed& other, Screen& screen, Glyphs& glyphs, MacroHost& host) : Timed(other) {
        screen_ = &screen;
        glyphs_ = &glyphs;
        host_ = &host;
    }
    Timed& operator=(const Timed&) = delete;

    // Time goes on by `ms`. True when what the screen shows changed.
    bool Elapse(int ms);

    // What a cell shows now, with what time draws over the screen.
    char32_t Glyph(int row, int column) const;
    const Pattern* UserPattern(int row, int column) const;
    bool Lit(int row, int column) const;
    bool Reversed(int row, int column) const;

    // ESC @: demonstration, self-test, macro and counter stopped, the screen
    // on and steady. A scrolling message ends with the screen's clearing.
    void Initialise();
    // The screen was cleared: the counter and a scrolling message go.
    void ScreenCleared();
    // A byte comes between commands: a message that scrolls until then ends,
    // its row blank and the cursor home.
    void InputComes();
    bool EndsOnInput() const { return marquee_.on && marquee_.endsOnInput; }

    // The whole screen blinks every `ms` (0 steady); off blanks it until turned on.
    void SetScreenBlink(int ms) { screenBlinkMs_ = ms; }
    int ScreenBlinkMs() const { return screenBlinkMs_; }
    void SetScreenOn(bool on) { screenOn_ = on; }
    bool ScreenOn() const { return screenOn_; }

    // The time counter from `seconds` past midnight, ticking; with or without seconds shown.
    void StartCounter(int seconds, bool showSeconds);
    void ShowCounter(bool showSeconds);
    int CounterSeconds() const;
    const Counter& CounterState() const { return counter_; }

    // A message that scrolls through `row` from the right, on and on or once;
    // it ends when the next byte comes, when `endsOnInput`.
    void StartMarquee(int row, std::span<const std::uint8_t> text, bool once, bool endsOnInput);
    // The row's own text turns round and round (no blank run between).
    void RotateRow(int row);
    void StopMarquee() { marquee_.on = false; }

    // The self-test pattern shows for a while over a screen just initialised;
    // the time counter goes on, hidden, from `counter`.
    void StartSelfTest(const Counter& counter);

    void StartDemo();
    void StopDemo() { demo_ = false; }
    bool DemoRunning() const { return demo_; }
    void SetDemoMessage(std::span<const std::uint8_t> twoRows);
    void KeepScreenAsDemoMessage();

    bool DefineMacro(std::span<const std::uint8_t> bytes);
    bool RunMacro(int characterMs, int holdMs);
    // The host speaks: a running macro ends.
    void StopMacro();
    bool MacroRunning() const { return macro_.running; }

private:
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
    static constexpr std::size_t MacroLimit = 80;
    static constexpr int SelfTestMs = 3000;

    bool CounterShown() const;
    std::size_t DemoCell(int row, int column) const;
    std::vector<Cell> Decode(std::span<const std::uint8_t> text);
    void StepMarquee();
    bool StepMacro(int ms);

    Screen* screen_;
    Glyphs* glyphs_;
    MacroHost* host_;

    long long clockMs_ = 0;  // from the display's start
    int stepMs_ = 0;         // time toward the next demo or marquee step
    bool screenOn_ = true;
    int screenBlinkMs_ = 0;
    Counter counter_;
    Marquee marquee_;
    int selfTestMs_ = 0;
    Macro macro_;
    bool demo_ = false;
    int demoStep_ = 0;
    std::vector<Cell> demoMessage_;  // 40 cells, or empty for the built-in text
};

}  // namespace vantrel::display
