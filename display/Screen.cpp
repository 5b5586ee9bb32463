// SPDX-License-Identifier: GPL-3.0-or-later
// The screen's cells and the cursor's moves; see Screen.h.
#include "display/Screen.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace vantrel::display {

namespace {

constexpr std::array<Cell, Columns> BlankRow{};

// A row of cells blanked in one copy of its bytes: the compiler copies an
// array of cells assigned whole one cell at a time.
void Blank(std::array<Cell, Columns>& row) {
    static_assert(std::is_trivially_copyable_v<Cell>);
    std::memcpy(row.data(), BlankRow.data(), sizeof BlankRow);
}

}  // namespace

bool Screen::Blinks() const {
    bool blinks = rowBlink_[0] || rowBlink_[1];
    for (const auto& row : attributes_)
        for (std::uint8_t a : row) blinks = blinks || (a & Blink);
    return blinks;
}

void Screen::BlankCells(int row) { Blank(cells_[row]); }

void Screen::Clear() {
    for (auto& row : cells_) Blank(row);
    for (auto& row : attributes_) row.fill(0);
    MoveTo(0, 0);
}

void Screen::ClearRow(int row) {
    Blank(cells_[row]);
    attributes_[row].fill(0);
    MoveTo(row, 0);
}

void Screen::ClearPositions(int from, int to) {
    for (int p = from; p <= to; ++p) {
        cells_[p / Columns][p % Columns] = ' ';
        attributes_[p / Columns][p % Columns] = 0;
    }
    MoveToPosition(from);
}

void Screen::WriteRow(int row, std::span<const Cell> cells) {
    ClearRow(row);
    const std::size_t n = std::min<std::size_t>(cells.size(), Columns);
    std::copy_n(cells.begin(), n, cells_[row].begin());
    MoveTo(row, static_cast<int>(std::min<std::size_t>(n, Columns - 1)));
}

void Screen::MoveTo(int row, int column) {
    row_ = row;
    column_ = column;
    pending_ = false;
    if (row == Rows - 1) ++lowerRowChanges_;
}

void Screen::ScrollUp() {
    cells_[0] = cells_[1];
    attributes_[0] = attributes_[1];
    Blank(cells_[1]);
    attributes_[1].fill(0);
    ++lowerRowChanges_;
}

void Screen::ScrollDown() {
    cells_[1] = cells_[0];
    attributes_[1] = attributes_[0];
    Blank(cells_[0]);
    attributes_[0].fill(0);
    ++lowerRowChanges_;
}

// The columns of the cursor's row that text runs through: a scroll window, or all.
int Screen::SpanFirst() const {
    return window_.on && window_.row == row_ && modes_[row_] == Mode::HorizontalScroll ? window_.first : 0;
}

int Screen::SpanLast() const {
    return window_.on && window_.row == row_ && modes_[row_] == Mode::HorizontalScroll ? window_.last : Columns - 1;
}

void Screen::SetScrollWindow(bool on, int row, int first, int last) {
    window_ = {on, row, first, last};
    if (on) MoveTo(row, first);
}

void Screen::ResetAttributes() {
    characterBlink_ = reverse_ = false;
    NewAttributes();
    rowBlink_.fill(false);
    window_ = {};
}

void Screen::Advance() {
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

void Screen::Put(std::span<const Cell> cells) {
    for (std::size_t i = 0; i < cells.size();) {
        if (pending_ || window_.on || column_ == Columns - 1) {
            PutAtEdge(cells[i++]);
            continue;
        }
        // Most text: nothing waits to scroll, no window; up to the row's last
        // column the cursor only moves on.
        const std::size_t n = std::min<std::size_t>(cells.size() - i, static_cast<std::size_t>(Columns - 1 - column_));
        if (row_ == Rows - 1) ++lowerRowChanges_;
        std::copy_n(cells.begin() + static_cast<std::ptrdiff_t>(i), n, cells_[row_].begin() + column_);
        std::fill_n(attributes_[row_].begin() + column_, n, newAttributes_);
        column_ += static_cast<int>(n);
        i += n;
    }
}

void Screen::PutAtEdge(const Cell& cell) {
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
    if (row_ == Rows - 1) ++lowerRowChanges_;
    cells_[row_][column_] = cell;
    attributes_[row_][column_] = newAttributes_;
    Advance();
}

void Screen::Overwrite(const Cell& cell) {
    cells_[row_][column_] = cell;
    attributes_[row_][column_] = 0;
    Advance();
    pending_ = false;
}

// At a row's start: in overwrite mode to the other row's right end (from
// home to the lower row's); in vertical scroll mode from the upper row the
// screen scrolls down and the cursor goes to the upper row's right end; in
// horizontal scroll mode the cursor stays.
void Screen::Backspace() {
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

void Screen::Tab() {
    pending_ = false;
    Advance();
}

void Screen::LineFeed() {
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
void Screen::CursorUp() {
    if (row_ == 0 && modes_[row_] == Mode::VerticalScroll) return ScrollDown(), MoveTo(0, column_);
    if (modes_[row_] == Mode::HorizontalScroll) return;
    MoveTo((row_ + Rows - 1) % Rows, column_);
}

void Screen::SetMode(Mode mode) {
    modes_.fill(mode);
    pending_ = false;
}

void Screen::SetRowMode(int row, Mode mode) {
    modes_[row] = mode;
    pending_ = false;
}

}  // namespace vantrel::display
