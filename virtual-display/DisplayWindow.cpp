// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual-display/DisplayWindow.h"

#include "virtual-display/Ranking.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <algorithm>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace vantrel::display {

namespace {

constexpr int CellWidth = 30;
constexpr int CellHeight = 46;
constexpr int Gap = 4;
constexpr int Margin = 18;
constexpr int RankingShown = 3;

// "1 CD5220 94%   2 ADM787 94%   3 PD6000 91%"; on a tie "= DSP800 100%
// = ESCPOS 100%   = ADM787 100%   (9 alike)"; empty before any byte.
QString RankingText(const Ranking* ranking) {
    if (!ranking || !ranking->Bytes()) return {};
    const Ranking::Answer answer = ranking->Result();
    QString text;
    for (std::size_t i = 0; i < answer.ranks.size() && i < RankingShown; ++i) {
        const QString place = i < answer.alike && answer.Tied() ? QStringLiteral("=") : QString::number(i + 1);
        text += QStringLiteral("%1%2 %3 %4%").arg(i ? QStringLiteral("   ") : QString(), place,
                                                  QString::fromLatin1(answer.ranks[i].emulation)).arg(answer.ranks[i].read);
    }
    if (answer.alike > RankingShown) text += QStringLiteral("   (%1 alike)").arg(answer.alike);
    return text;
}

}  // namespace

QFont FixedWidthFont(const QFont& system) {
    QFont font = system;
    if (!QFontInfo(font).fixedPitch()) {
        font.setFamilies({QStringLiteral("monospace")});
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    }
    return font;
}

namespace {

// The screen as assistive technology reads it: read-only text, no selection.
class ScreenAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ScreenAccessible(ScreenView* view) : QAccessibleWidget(view, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return View()->ScreenText();
        return QAccessibleWidget::text(t);
    }

    QString text(int start, int end) const override { return View()->ScreenText().mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(View()->ScreenText().size()); }
    QRect characterRect(int offset) const override {
        const QRect cell = View()->CellRect(offset);
        return cell.isNull() ? QRect() : QRect(View()->mapToGlobal(cell.topLeft()), cell.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint at = View()->mapFromGlobal(point);
        for (int offset = 0; offset < characterCount(); ++offset)
            if (View()->CellRect(offset).contains(at)) return offset;
        return -1;
    }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    ScreenView* View() const { return static_cast<ScreenView*>(widget()); }
};

QAccessibleInterface* ScreenAccessibleFor(const QString&, QObject* object) {
    auto* view = qobject_cast<ScreenView*>(object);
    return view ? new ScreenAccessible(view) : nullptr;
}

}  // namespace

ScreenView::ScreenView(const DisplayModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    static const bool installed = (QAccessible::installFactory(ScreenAccessibleFor), true);
    Q_UNUSED(installed);
    setAccessibleName(QStringLiteral("Customer display"));
    setAccessibleDescription(QStringLiteral("The two rows of the virtual customer display"));
    rows_ = ScreenText();
}

QString ScreenView::ScreenText() const {
    QString rows;
    for (int r = 0; r < Rows; ++r) {
        if (r) rows += QLatin1Char('\n');
        for (int c = 0; c < Columns; ++c) {
            const char32_t g = model_.Glyph(r, c);
            rows += QString::fromUcs4(&g, 1);
        }
    }
    return rows;
}

QRect ScreenView::CellRect(int offset) const {
    const int row = offset / (Columns + 1), column = offset % (Columns + 1);  // a row and its line end
    if (offset < 0 || row >= Rows || column == Columns) return {};
    return {Margin + column * (CellWidth + Gap), Margin + row * (CellHeight + Gap), CellWidth, CellHeight};
}

void ScreenView::Refresh() {
    update();
    QString rows = ScreenText();
    if (rows == rows_) return;
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, 0, rows_, rows);
        QAccessible::updateAccessibility(&event);
    }
    rows_ = std::move(rows);
}

QSize ScreenView::sizeHint() const {
    return {2 * Margin + Columns * (CellWidth + Gap) - Gap, 2 * Margin + Rows * (CellHeight + Gap) - Gap};
}

void ScreenView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0x10, 0x14, 0x16));
    QFont font = FixedWidthFont();
    font.setPixelSize(CellHeight - 12);
    font.setBold(true);
    p.setFont(font);
    // Dimmer at a lower brightness; the cursor, when on, underlines its cell.
    const double level = 0.35 + 0.65 * model_.Brightness() / 100.0;
    const QColor lit = QColor::fromRgbF(0x5c / 255.0 * level, 1.0 * level, 0xd8 / 255.0 * level);
    for (int r = 0; r < Rows; ++r) {
        for (int c = 0; c < Columns; ++c) {
            const QRect cell = CellRect(r * (Columns + 1) + c);
            p.fillRect(cell, QColor(0x18, 0x26, 0x24));  // an unlit cell glows faintly
            if (!model_.Lit(r, c)) continue;             // blinked off, or the display is off
            // A reversed cell: lit, with its character dark on it.
            const bool reversed = model_.Reversed(r, c);
            if (reversed) p.fillRect(cell, lit);
            const QColor ink = reversed ? QColor(0x10, 0x14, 0x16) : lit;
            if (model_.CursorVisible() && r == model_.CursorRow() && c == model_.CursorColumn())
                p.fillRect(cell.left(), cell.bottom() - 3, cell.width(), 3, ink);
            if (const Pattern* pattern = model_.UserPattern(r, c)) {
                DrawPattern(p, cell, *pattern, ink);
                continue;
            }
            const char32_t g = model_.Glyph(r, c);
            if (g == U' ') continue;
            p.setPen(ink);
            p.drawText(cell, Qt::AlignCenter, QString::fromUcs4(&g, 1));
        }
    }
}

// A user-defined character from its five columns of seven dots (bit 0 on
// top), as tall as the capitals of the font the others are drawn in: the top
// row at their top, the bottom row on their baseline, where drawText in the
// cell's centre puts them.
void ScreenView::DrawPattern(QPainter& p, const QRect& cell, const Pattern& pattern, const QColor& ink) {
    const QFontMetricsF metrics(p.font());
    const qreal baseline = cell.top() + (cell.height() - metrics.height()) / 2 + metrics.ascent();
    const qreal pitch = metrics.capHeight() / 7, dot = pitch * 0.8;
    const qreal left = cell.left() + (cell.width() - 5 * pitch) / 2, top = baseline - 7 * pitch;
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 7; ++y)
            if (pattern[x] >> y & 1) p.fillRect(QRectF(left + x * pitch, top + y * pitch + pitch - dot, dot, dot), ink);
}

DisplayWindow::DisplayWindow(VirtualDisplay& display, const std::string& line, QWidget* parent)
    : QWidget(parent), display_(display), screen_(new ScreenView(display.Model(), this)), ranking_(new QLabel(this)),
      status_(new QLabel(this)), monitor_(new QPlainTextEdit(this)) {
    // The line's name, else the path the user gave, else the line's own.
    const std::string& path = !line.empty() ? line : display.Link().empty() ? display.SlavePath() : display.Link();
    setWindowTitle(QStringLiteral("Vantrel virtual display - %1").arg(QString::fromStdString(path)));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(screen_, 0, Qt::AlignHCenter);
    // Their text never sets the window's width: the screen and the monitor do.
    for (QLabel* label : {ranking_, status_}) {
        label->setTextFormat(Qt::PlainText);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    ranking_->setAccessibleName(QStringLiteral("Likely command sets"));
    ranking_->setVisible(display.Ranks() != nullptr);
    layout->addWidget(ranking_);
    status_->setAccessibleName(QStringLiteral("Status"));
    layout->addWidget(status_);
    monitor_->setReadOnly(true);
    monitor_->setMaximumBlockCount(500);
    monitor_->setLineWrapMode(QPlainTextEdit::NoWrap);
    monitor_->setFont(FixedWidthFont());
    monitor_->setMinimumHeight(160);
    layout->addWidget(monitor_);
    // Woken from the line's thread when bytes come to wait; taken on this one.
    display_.OnReady([this] { QMetaObject::invokeMethod(this, &DisplayWindow::LineReadable, Qt::QueuedConnection); });
    if (display_.WaitReady(0)) QMetaObject::invokeMethod(this, &DisplayWindow::LineReadable, Qt::QueuedConnection);
    // Time for the model: demonstration, scrolling, blinking, the counter.
    auto* clock = new QTimer(this);
    clock_.start();
    connect(clock, &QTimer::timeout, this, [this] {
        // The printer's counts change also while the host is silent.
        if (display_.Model().Elapse(static_cast<int>(clock_.restart())) ||
            display_.LineWentQuiet() || statusText_ != QString::fromStdString(StatusLine(display_)))
            Refresh();
    });
    clock->start(50);
    Refresh();
}

DisplayWindow::~DisplayWindow() { display_.OnReady({}); }

// One bounded slice at a time: while more waits, the next is taken after the
// event loop has had its turn (painting, timers, the end).
void DisplayWindow::LineReadable() {
    for (const VirtualDisplay::Chunk& chunk : display_.ReadAvailable())
        monitor_->appendPlainText(QString::fromStdString(MonitorLine(chunk)));
    Refresh();
    if (display_.WaitReady(0)) QMetaObject::invokeMethod(this, &DisplayWindow::LineReadable, Qt::QueuedConnection);
}

void DisplayWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Refresh();
}

void DisplayWindow::Refresh() {
    statusText_ = QString::fromStdString(StatusLine(display_));
    status_->setText(status_->fontMetrics().elidedText(statusText_, Qt::ElideRight, status_->width()));
    status_->setToolTip(statusText_);
    status_->setAccessibleDescription(statusText_);
    ranking_->setText(RankingText(display_.Ranks()));
    screen_->Refresh();
}

}  // namespace vantrel::display
