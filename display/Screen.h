// SPDX-License-Identifier: GPL-3.0-or-later
// The display's screen: two rows of cells with their attributes, the cursor,
// each row's mode (what the cursor does at its end) and the scroll window,
// with the moves the command tables make. It knows neither bytes nor time:
// the glyphs decide what a byte shows, the timed effects draw over it.
#pragma once

#include "display/Cell.h"

#include <array>
#include <cstdint>
#include <span>

namespace vantrel::display {

// What the cursor does when a row is full.
enum class Mode {
    Overwrite,         // on to the next row; after the lower row, home
    VerticalScroll,    // after the lower row, the lower row moves up and the new text starts below
    HorizontalScroll,  // the row shifts left and the new character enters at the right
};

class Screen {
public:
    enum Attribute : std::uint8_t { Reverse = 2, Blink = 4 };

    const Cell& At(int row, int column) const { return cells_[row][column]; }
    std::uint8_t AttributesAt(int row, int column) const { return attributes_[row][column]; }
    // Any cell or row that blinks.
    bool Blinks() const;
    int Row() const { return row_; }
    int Column() const { return column_; }
    int Position() const { return row_ * Columns + column_; }
    Mode RowMode(int row) const { return modes_[row]; }
    bool RowBlinks(int row) const { return rowBlink_[row]; }
    // Counts every change that the lower row's right end may show: the cursor
    // moved onto the lower row, a character written there, a scroll. The time
    // counter shown there gives way at the next one.
    std::uint64_t LowerRowChanges() const { return lowerRowChanges_; }

    // A character at the cursor with the attributes of new characters; a full
    // row waiting to scroll scrolls first, and the cursor moves on.
    void Put(const Cell& cell) { Put({&cell, 1}); }
    // Characters one after the other, as Put puts each.
    void Put(std::span<const Cell> cells);
    // A character at the cursor as it stands, plain; the cursor moves on and
    // nothing waits to scroll (the garbage of a wrong line speed).
    void Overwrite(const Cell& cell);
    void MoveTo(int row, int column);
    void MoveToPosition(int position) { MoveTo(position / Columns, position % Columns); }
    void Clear();
    void ClearRow(int row);
    // Clears positions `from`..`to` (0..39, row by row) and puts the cursor at `from`.
    void ClearPositions(int from, int to);
    // Puts up to 20 cells on a row, the rest blank, the cursor after them.
    void WriteRow(int row, std::span<const Cell> cells);
    // A row's characters blank, its attributes and the cursor as they are.
    void BlankCells(int row);
    // A cell drawn plain, the cursor where it is (a scrolling message).
    void Draw(int row, int column, const Cell& cell) {
        cells_[row][column] = cell;
        attributes_[row][column] = 0;
    }
    // The moves at a row's end follow the mode of the cursor's row.
    void Backspace();
    void Tab();
    void LineFeed();
    void CursorUp();
    void CarriageReturn() { MoveTo(row_, 0); }
    void SetMode(Mode mode);
    void SetRowMode(int row, Mode mode);
    void SetRowBlink(int row, bool on) { rowBlink_[row] = on; }
    // The part of `row` that scrolls in horizontal scroll mode; off: the whole row.
    void SetScrollWindow(bool on, int row, int first, int last);
    // New characters blink / are reversed from here on.
    void SetCharacterBlink(bool on) {
        characterBlink_ = on;
        NewAttributes();
    }
    void SetReverse(bool on) {
        reverse_ = on;
        NewAttributes();
    }
    // Power-on modes: every row in `mode`, nothing waiting to scroll.
    void ResetModes(Mode mode) { SetMode(mode); }
    // The attributes of new characters, row blinking and the scroll window off.
    void ResetAttributes();

private:
    void PutAtEdge(const Cell& cell);
    void NewAttributes() { newAttributes_ = static_cast<std::uint8_t>((reverse_ ? Reverse : 0) | (characterBlink_ ? Blink : 0)); }
    void Advance();
    void ScrollUp();
    void ScrollDown();
    int SpanFirst() const;
    int SpanLast() const;

    std::array<std::array<Cell, Columns>, Rows> cells_{};
    std::array<std::array<std::uint8_t, Columns>, Rows> attributes_{};
    std::array<Mode, Rows> modes_{};
    std::array<bool, Rows> rowBlink_{};
    int row_ = 0;
    int column_ = 0;
    bool pending_ = false;  // a full row waits for the next character to scroll
    bool characterBlink_ = false, reverse_ = false;
    std::uint8_t newAttributes_ = 0;  // of these two
    std::uint64_t lowerRowChanges_ = 0;
    struct {
        bool on = false;
        int row = 0, first = 0, last = Columns - 1;
    } window_;
};

}  // namespace vantrel::display
