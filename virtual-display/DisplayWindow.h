// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "virtual-display/VirtualDisplay.h"

#include <QElapsedTimer>
#include <QFont>
#include <QFontDatabase>
#include <QWidget>

class QLabel;
class QPainter;
class QPlainTextEdit;

namespace vantrel::display {

// The system's fixed-width font (`system`), for the monitor and the screen:
// where a platform theme gives a proportional font as that (qt6ct before its
// fixed font is set), a monospace face of the same size.
QFont FixedWidthFont(const QFont& system = QFontDatabase::systemFont(QFontDatabase::FixedFont));

// The screen: two rows of twenty cells in vacuum-fluorescent blue-green, with
// a status line and a monitor of every chunk the line delivers.
// To assistive technology (a screen reader, through AT-SPI) the screen is one
// element of static text named "Customer display", whose text is its two
// rows, a line each, twenty characters a row.
class ScreenView : public QWidget {
    Q_OBJECT
public:
    explicit ScreenView(const DisplayModel& model, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    // The two rows as the screen shows them now: "row 1\nrow 2".
    QString ScreenText() const;
    // The place of the character at `offset` of ScreenText(), in the view.
    QRect CellRect(int offset) const;
    // Draws anew, and tells assistive technology when the rows changed.
    void Refresh();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    static void DrawPattern(QPainter& p, const QRect& cell, const Pattern& pattern, const QColor& ink);
    const DisplayModel& model_;
    QString rows_;  // as last told
};

// The window: the screen, on a line other than its own the likely command
// sets (the best three with their shares, a tie marked "="), the status line
// and the monitor. The ranking and the status keep their size: a longer
// status is cut short with an ellipsis (the whole of it in its tool tip),
// and the window never widens for it.
class DisplayWindow : public QWidget {
    Q_OBJECT
public:
    // `line`: the line's name for the title (a port, a tap, a recording);
    // empty for the display's own line, named by its link or its path.
    explicit DisplayWindow(VirtualDisplay& display, const std::string& line = {}, QWidget* parent = nullptr);
    ~DisplayWindow() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LineReadable();
    void Refresh();

    VirtualDisplay& display_;
    ScreenView* screen_;
    QLabel* ranking_;
    QLabel* status_;
    QString statusText_;  // whole, as last shown
    QPlainTextEdit* monitor_;
    QElapsedTimer clock_;
};

}  // namespace vantrel::display
