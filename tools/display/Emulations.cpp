// SPDX-License-Identifier: GPL-3.0-or-later
// The command sets of the display's emulations, one small state machine each.
// The set-up commands (configuration frames, ESC @, NUL between commands) are
// read by the model before any of these see a byte.
//
// Sources: the makers' published command tables for each set. Where they
// disagree, the majority reading is taken:
//   - brightness levels 1..4 (ESC * n, US X n) are 20, 40, 60 and 100 %;
//   - a string command's text (ESC Q A, AEDEX 1/2/9, ESC u A/B/I) replaces the
//     whole row: positions after the text are blanked; text past the row's
//     length is dropped;
//   - CAN clears the cursor's row and puts the cursor at its start;
//   - in vertical scroll mode a full lower row scrolls when the next character
//     comes, not when it fills.
#include "tools/display/DisplayModel.h"

#include <cstring>
#include <string>

namespace vantrel::display {

namespace {

constexpr std::uint8_t EOT = 0x04, SOH = 0x01, BS = 0x08, HT = 0x09, LF = 0x0A, VT = 0x0B, FF = 0x0C, CR = 0x0D,
                       SO = 0x0E, SI = 0x0F, DLE = 0x10, DC1 = 0x11, DC2 = 0x12, DC3 = 0x13, DC4 = 0x14,
                       ETB = 0x17, CAN = 0x18, ESC = 0x1B, US = 0x1F;

bool Printable(std::uint8_t b) { return b >= 0x20 && b != 0x7F; }

void Text(DisplayModel& m, std::uint8_t b) {
    if (!Printable(b)) return m.Unread();
    m.Show(b);
    m.Shown();
}

// The cursor controls that most cursor-based sets share.
bool CommonControl(DisplayModel& m, std::uint8_t b) {
    switch (b) {
    case FF: m.ClearScreen(); m.Done("clear"); return true;
    case VT: m.MoveTo(0, 0); m.Done("home"); return true;
    case BS: m.Backspace(); m.Done("back"); return true;
    case HT: m.Tab(); m.Done("forward"); return true;
    case LF: m.LineFeed(); m.Done("line feed"); return true;
    case CR: m.CarriageReturn(); m.Done("carriage return"); return true;
    default: return false;
    }
}

void MoveToPosition(DisplayModel& m, int position) {
    m.MoveTo(position / Columns, position % Columns);
    m.Done("cursor to position " + std::to_string(position + 1));
}

void SetBrightness(DisplayModel& m, int percent) {
    m.SetBrightness(percent);
    m.Done("brightness " + std::to_string(percent) + "%");
}

// The arguments that ESCPOS and CD5220 share: x 1..20 and y 1..2, a brightness
// step 1..4 (20, 40, 60, 100 %), a cursor switch 0/1.
void CursorXY(DisplayModel& m, std::uint8_t x, std::uint8_t y) {
    if (x < 1 || x > Columns || y < 1 || y > Rows) return m.Unread();
    MoveToPosition(m, (y - 1) * Columns + x - 1);
}

void BrightnessStep(DisplayModel& m, std::uint8_t n) {
    if (n < 1 || n > 4) return m.Unread();
    SetBrightness(m, n == 1 ? 20 : n == 2 ? 40 : n == 3 ? 60 : 100);
}

void CursorSwitch(DisplayModel& m, std::uint8_t n) {
    if (n > 1) return m.Unread();
    m.SetCursorVisible(n == 1);
    m.Done(n ? "cursor on" : "cursor off");
}

// A string command that writes whole rows: its text up to CR (NUL skipped,
// text past the rows dropped), then the rows. Target 0 upper, 1 lower, 2 both.
class RowString {
public:
    void Start(int target) {
        target_ = target;
        text_.clear();
    }
    // True when the CR came and the rows were written.
    bool Byte(DisplayModel& m, std::uint8_t b) {
        const std::size_t limit = target_ == 2 ? 2 * Columns : Columns;
        if (b != CR) {
            if (b != 0 && text_.size() < limit) text_ += static_cast<char>(b);
            return false;
        }
        if (target_ == 2) {
            m.WriteRow(0, text_.substr(0, Columns));
            m.WriteRow(1, text_.size() > Columns ? text_.substr(Columns) : std::string());
        } else {
            m.WriteRow(target_, text_);
        }
        m.Done(target_ == 0 ? "upper line" : target_ == 1 ? "lower line" : "both lines");
        return true;
    }

private:
    int target_ = 0;
    std::string text_;
};

// Plain text with the common controls. Also the base of sets with no public manual.
class PlainText : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        if (!CommonControl(m, b)) Text(m, b);
    }
    bool AtGround() const override { return true; }
};

// DSP800: EOT SOH P p ETB cursor (p 31..58 hex = positions 1..40), EOT SOH C s e ETB
// clears s..e; ESC R n international set; the common controls.
class Dsp800 : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (state_) {
        case 0:
            if (b == EOT) state_ = 1;
            else if (b == ESC) state_ = 10;
            else if (!CommonControl(m, b)) Text(m, b);
            return;
        case 1: Step(m, b == SOH, 2); return;
        case 2:
            command_ = b;
            Step(m, b == 'P' || b == 'C', 3);
            return;
        case 3:
            first_ = b - 0x31;
            Step(m, first_ >= 0 && first_ < 2 * Columns, command_ == 'P' ? 5 : 4);
            return;
        case 4:
            last_ = b - 0x31;
            Step(m, last_ >= first_ && last_ < 2 * Columns, 5);
            return;
        case 5:
            state_ = 0;
            if (b != ETB) return m.Unread();
            if (command_ == 'P') return MoveToPosition(m, first_);
            m.ClearPositions(first_, last_);
            return m.Done("clear positions " + std::to_string(first_ + 1) + " to " + std::to_string(last_ + 1));
        case 10: Step(m, b == 'R', 11); return;
        case 11:
            state_ = 0;
            if (b > 15) return m.Unread();
            m.SetInternationalSet(b);
            return m.Done("international set");
        }
    }
    bool AtGround() const override { return state_ == 0; }

private:
    void Step(DisplayModel& m, bool ok, int next) {
        state_ = ok ? next : 0;
        if (!ok) m.Unread();
    }
    int state_ = 0;
    std::uint8_t command_ = 0;
    int first_ = 0, last_ = 0;
};

// The ESC/POS customer-display set.
class EscPos : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (state_) {
        case Ground:
            if (b == US) state_ = Us;
            else if (b == ESC) state_ = Esc;
            else if (b == CAN) m.ClearRow(m.CursorRow()), m.Done("clear cursor line");
            else if (!CommonControl(m, b)) Text(m, b);
            return;
        case Us:
            state_ = Ground;
            switch (b) {
            case '$': state_ = X; return;
            case 0x01: m.SetMode(Mode::Overwrite); return m.Done("overwrite mode");
            case 0x02: m.SetMode(Mode::VerticalScroll); return m.Done("vertical scroll mode");
            case 0x03: m.SetMode(Mode::HorizontalScroll); return m.Done("horizontal scroll mode");
            case 'X': state_ = Brightness; return;
            case 'C': state_ = Cursor; return;
            default: return m.Unread();
            }
        case X:
            x_ = b;
            state_ = Y;
            return;
        case Y:
            state_ = Ground;
            return CursorXY(m, x_, b);
        case Brightness:
            state_ = Ground;
            return BrightnessStep(m, b);
        case Cursor:
            state_ = Ground;
            return CursorSwitch(m, b);
        case Esc:
            state_ = b == 'R' ? International : Ground;
            if (b != 'R') m.Unread();
            return;
        case International:
            state_ = Ground;
            if (b > 15) return m.Unread();
            m.SetInternationalSet(b);
            return m.Done("international set");
        }
    }
    bool AtGround() const override { return state_ == Ground; }

private:
    enum State { Ground, Us, X, Y, Brightness, Cursor, Esc, International } state_ = Ground;
    std::uint8_t x_ = 0;
};

// CD5220.
class Cd5220 : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (state_) {
        case Ground:
            if (b == ESC) state_ = Esc;
            else if (b == CAN) m.ClearRow(m.CursorRow()), m.Done("clear cursor line");
            else if (!CommonControl(m, b)) Text(m, b);
            return;
        case Esc:
            state_ = Ground;
            switch (b) {
            case '[': state_ = Bracket; return;
            case 'l': state_ = X; return;
            case 'Q': state_ = Q; return;
            case DC1: m.SetMode(Mode::Overwrite); return m.Done("overwrite mode");
            case DC2: m.SetMode(Mode::VerticalScroll); return m.Done("vertical scroll mode");
            case DC3: m.SetMode(Mode::HorizontalScroll); return m.Done("horizontal scroll mode");
            case '*': state_ = Brightness; return;
            case '_': state_ = Cursor; return;
            default: return m.Unread();
            }
        case Bracket:
            state_ = Ground;
            if (b != 'H') return m.Unread();
            m.MoveTo(0, 0);
            return m.Done("home");
        case X:
            x_ = b;
            state_ = Y;
            return;
        case Y:
            state_ = Ground;
            return CursorXY(m, x_, b);
        case Q:
            if (b != 'A' && b != 'B') {
                state_ = Ground;
                return m.Unread();
            }
            string_.Start(b == 'A' ? 0 : 1);
            state_ = String;
            return;
        case String:
            if (b == FF) {  // clear ends string mode
                state_ = Ground;
                m.ClearScreen();
                return m.Done("clear (string ended)");
            }
            if (string_.Byte(m, b)) state_ = Ground;
            return;
        case Brightness:
            state_ = Ground;
            return BrightnessStep(m, b);
        case Cursor:
            state_ = Ground;
            return CursorSwitch(m, b);
        }
    }
    bool AtGround() const override { return state_ == Ground; }

private:
    enum State { Ground, Esc, Bracket, X, Y, Q, String, Brightness, Cursor } state_ = Ground;
    std::uint8_t x_ = 0;
    RowString string_;
};

// AEDEX: attention code, then 1 / 2 / 9 text CR for the upper, lower or both
// lines, or 8 n m CR to change the attention code. Bytes outside a command
// are not shown.
class Aedex : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (state_) {
        case Ground:
            if (b == code_[0]) state_ = Attention;
            else m.Unread();
            return;
        case Attention:
            if (b == code_[1]) {
                state_ = Command;
                return;
            }
            state_ = Ground;
            m.Unread();
            return;
        case Command:
            state_ = Line;
            switch (b) {
            case '1': return line_.Start(0);
            case '2': return line_.Start(1);
            case '9': return line_.Start(2);
            case '8':
                state_ = NewCode;
                newCode_.clear();
                return;
            default:
                state_ = Ground;
                return m.Unread();
            }
        case Line:
            if (line_.Byte(m, b)) state_ = Ground;
            return;
        case NewCode:
            if (newCode_.size() < 2) {
                newCode_ += static_cast<char>(b);
                return;
            }
            state_ = Ground;
            if (b != CR) return m.Unread();
            code_[0] = static_cast<std::uint8_t>(newCode_[0]);
            code_[1] = static_cast<std::uint8_t>(newCode_[1]);
            return m.Done("attention code now \"" + newCode_ + "\"");
        }
    }
    bool AtGround() const override { return state_ == Ground; }

private:
    enum State { Ground, Attention, Command, Line, NewCode } state_ = Ground;
    std::uint8_t code_[2] = {'!', '#'};
    std::string newCode_;
    RowString line_;
};

// UTC_S, the DLE-position family.
class UtcStandard : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (state_) {
        case Ground:
            switch (b) {
            case DLE: state_ = Position; return;
            case EOT: state_ = Brightness; return;
            case DC1: m.SetMode(Mode::Overwrite); return m.Done("overwrite mode");
            case DC2: m.SetMode(Mode::VerticalScroll); return m.Done("vertical scroll mode");
            case DC3: m.SetCursorVisible(true); return m.Done("cursor on");
            case DC4: m.SetCursorVisible(false); return m.Done("cursor off");
            case US:
                m.ClearScreen();
                m.ResetModes();
                return m.Done("reset");
            case BS: case HT: case LF: case CR: CommonControl(m, b); return;
            default: return Text(m, b);
            }
        case Position:
            state_ = Ground;
            if (b >= 2 * Columns) return m.Unread();  // past position 27 hex: ignored
            return MoveToPosition(m, b);
        case Brightness:
            state_ = Ground;
            switch (b) {
            case 0xFF: return SetBrightness(m, 100);
            case 0x60: return SetBrightness(m, 60);
            case 0x40: return SetBrightness(m, 40);
            case 0x20: return SetBrightness(m, 20);
            default: return m.Unread();
            }
        }
    }
    bool AtGround() const override { return state_ == Ground; }

private:
    enum State { Ground, Position, Brightness } state_ = Ground;
};

// UTC_E: ESC u A / B / I text CR for the upper, lower or both lines; other
// text at the cursor.
class UtcEnhanced : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (state_) {
        case Ground:
            if (b == ESC) state_ = Esc;
            else Text(m, b);
            return;
        case Esc:
            state_ = b == 'u' ? U : Ground;
            if (b != 'u') m.Unread();
            return;
        case U: {
            const int target = b == 'A' ? 0 : b == 'B' ? 1 : b == 'I' ? 2 : -1;
            state_ = target < 0 ? Ground : Line;
            if (target < 0) return m.Unread();
            return line_.Start(target);
        }
        case Line:
            if (line_.Byte(m, b)) state_ = Ground;
            return;
        }
    }
    bool AtGround() const override { return state_ == Ground; }

private:
    enum State { Ground, Esc, U, Line } state_ = Ground;
    RowString line_;
};

// ADM787: FF clear; SO / SI clear the upper / lower line with the cursor at its
// start; CR ends the line (the cursor goes to the start of the other line).
class Adm787 : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (b) {
        case FF: m.ClearScreen(); return m.Done("clear");
        case SO: m.ClearRow(0); return m.Done("clear upper line");
        case SI: m.ClearRow(1); return m.Done("clear lower line");
        case CR: m.MoveTo((m.CursorRow() + 1) % Rows, 0); return m.Done("end of line");
        default: return Text(m, b);
        }
    }
    bool AtGround() const override { return true; }
};

// ICD2002: rows selected and set up one at a time.
class Icd2002 : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (state_) {
        case Ground:
            if (b == ESC) state_ = Esc;
            else Text(m, b);
            return;
        case Esc:
            state_ = Ground;
            switch (b) {
            case 'U': m.MoveTo(0, 0); return m.Done("upper row");
            case 'D': m.MoveTo(1, 0); return m.Done("lower row");
            case 'C': state_ = CursorRow; return;
            case 'E': state_ = ModeRow; return;
            default: return m.Unread();
            }
        case CursorRow:
        case ModeRow:
            row_ = b == 'U' ? 0 : b == 'D' ? 1 : -1;
            if (row_ < 0) {
                state_ = Ground;
                return m.Unread();
            }
            state_ = state_ == CursorRow ? CursorColumn : ModeValue;
            return;
        case CursorColumn:
            state_ = Ground;
            if (b < 1 || b > Columns) return m.Unread();
            return MoveToPosition(m, row_ * Columns + b - 1);
        case ModeValue:
            state_ = Ground;
            switch (b) {
            case '4': m.SetRowMode(row_, Mode::Overwrite); return m.Done("row overwrite mode");
            case '5': m.SetRowMode(row_, Mode::VerticalScroll); return m.Done("row vertical scroll mode");
            case '0': m.SetRowMode(row_, Mode::HorizontalScroll); return m.Done("row shift mode");
            case '3': m.ClearRow(row_); return m.Done("clear row");
            default: return m.Unread();
            }
        }
    }
    bool AtGround() const override { return state_ == Ground; }

private:
    enum State { Ground, Esc, CursorRow, CursorColumn, ModeRow, ModeValue } state_ = Ground;
    int row_ = 0;
};

// NCR: every byte but ESC is shown; ESC DC3 nn puts the cursor at position nn.
class Ncr : public Interpreter {
public:
    void Byte(DisplayModel& m, std::uint8_t b) override {
        switch (state_) {
        case Ground:
            if (b == ESC) {
                state_ = Esc;
                return;
            }
            m.Show(b);
            return m.Shown();
        case Esc:
            state_ = b == DC3 ? Position : Ground;
            if (b != DC3) m.Unread();
            return;
        case Position:
            state_ = Ground;
            if (b >= 2 * Columns) return m.Unread();
            return MoveToPosition(m, b);
        }
    }
    bool AtGround() const override { return state_ == Ground; }

private:
    enum State { Ground, Esc, Position } state_ = Ground;
};

}  // namespace

std::unique_ptr<Interpreter> MakeInterpreter(const char* emulation) {
    const std::string e = emulation ? emulation : "";
    if (e == "ESCPOS") return std::make_unique<EscPos>();
    if (e == "CD5220") return std::make_unique<Cd5220>();
    if (e == "AEDEX") return std::make_unique<Aedex>();
    if (e == "UTC_S") return std::make_unique<UtcStandard>();
    if (e == "UTC_E") return std::make_unique<UtcEnhanced>();
    if (e == "ADM787") return std::make_unique<Adm787>();
    if (e == "ICD2002") return std::make_unique<Icd2002>();
    if (e == "NCR") return std::make_unique<Ncr>();
    if (e == "PD6000") return std::make_unique<PlainText>();  // no public manual: plain text and the common controls
    return std::make_unique<Dsp800>();
}

}  // namespace vantrel::display
