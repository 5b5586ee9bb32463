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
class QSocketNotifier;

namespace vantrel::display {

// The system's fixed-width font (`system`), for the monitor and the screen:
// where a platform theme gives a proportional font as that (qt6ct before its
// fixed font is set), a monospace face of the same size.
QFont FixedWidthFont(const QFont& system = QFontDatabase::systemFont(QFontDatabase::FixedFont));

// The screen: two rows of twenty cells in vacuum-fluorescent blue-green, with
// a status line and a monitor of every chunk the line delivers.
class ScreenView : public QWidget {
    Q_OBJECT
public:
    explicit ScreenView(const DisplayModel& model, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    static void DrawPattern(QPainter& p, const QRect& cell, const Pattern& pattern, const QColor& ink);
    const DisplayModel& model_;
};

class DisplayWindow : public QWidget {
    Q_OBJECT
public:
    explicit DisplayWindow(VirtualDisplay& display, QWidget* parent = nullptr);

private:
    void LineReadable();
    void Refresh();

    VirtualDisplay& display_;
    ScreenView* screen_;
    QLabel* status_;
    QPlainTextEdit* monitor_;
    QSocketNotifier* notifier_;
    QElapsedTimer clock_;
};

}  // namespace vantrel::display
