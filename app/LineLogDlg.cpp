// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LineLogDlg.h"

#include "app/DialogUnits.h"
#include "app/Messages.h"
#include "serial/WriteNames.h"
#include "commands/CommandFrames.h"
#include "common/DoubleByteSet.h"
#include "content/TextEncoding.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace vantrel {

namespace {

enum Column { TimeColumn, ControlColumn, BytesColumn, TextColumn, ReadingColumn, ResultColumn, ColumnCount };
constexpr Text Headings[ColumnCount] = {Text::LogTime, Text::LogControl, Text::LogBytes,
                                        Text::LogText, Text::LogReading, Text::LogResult};

constexpr const char* PowerOnEmulation = "DSP800";

// GBK's characters by their two bytes, as the panel's encoder makes them:
// a write is shown as the text that was typed. Made at its first use.
const std::vector<char16_t>& GbkCharacters() {
    static const std::vector<char16_t> characters = [] {
        std::vector<char16_t> table(0x10000);
        for (char32_t c = 0x80; c < 0x10000; ++c) {
            if (c >= 0xD800 && c < 0xF900) continue;  // surrogates and the Private Use Area: never sent
            std::uint8_t bytes[2];
            const std::size_t n = EncodeGbk(static_cast<char16_t>(c), bytes);
            if (n == 2) table[bytes[0] << 8 | bytes[1]] = static_cast<char16_t>(c);
            if (n == 1 && bytes[0] >= 0x80) table[bytes[0]] = static_cast<char16_t>(c);
        }
        return table;
    }();
    return characters;
}

// A write's bytes as text: Send's in the code page the panel typed them in
// (Windows-1252 or GBK); any other write's as ASCII. What is not text is a dot.
QString Printable(const LoggedWrite& w) {
    const bool typed = w.source.controlId == SendId;
    const bool gbk = typed && CodePageFromLocale() == PanelCodePage::Gbk;
    QString s;
    const std::string& bytes = w.bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        char32_t c = b >= 0x20 && b < 0x7F ? b : 0;
        if (gbk && b >= 0x80) {
            const std::vector<char16_t>& table = GbkCharacters();
            const char16_t pair = i + 1 < bytes.size() ? table[b << 8 | static_cast<std::uint8_t>(bytes[i + 1])] : 0;
            c = pair ? pair : table[b];
            if (pair) ++i;
        } else if (typed && b >= 0x80) {
            c = display::CodePageGlyph("W1252", b);
            if (c == U'\uFFFD' || (c >= 0x80 && c < 0xA0)) c = 0;
        }
        s += c ? QChar(static_cast<char16_t>(c)) : QChar('.');
    }
    return s;
}

// The display's own English words in the panel's language (DisplayPhrases):
// a phrase of the table, a phrase with its detail after it ("cursor to
// position 5"), or a phrase with placeholders, each filled in turn.
QString DisplayWords(const QString& english) {
    const QString words = english.trimmed();
    if (UiLanguage == 0 || words.isEmpty()) return english;
    struct Pattern {
        QRegularExpression match;
        const char* chinese;
    };
    static const std::vector<Pattern> patterns = [] {
        std::vector<Pattern> out;
        static const QRegularExpression placeholder(QStringLiteral("%[1-9]"));
        for (const Phrase& p : DisplayPhrases) {
            const QString e = QString::fromUtf8(p.english);
            if (!e.contains(placeholder)) continue;
            QString pattern;
            for (const QString& part : e.split(placeholder)) pattern += QRegularExpression::escape(part) + QStringLiteral("(.+?)");
            pattern.chop(5);  // no capture after the last part
            out.push_back({QRegularExpression(QRegularExpression::anchoredPattern(pattern)), p.chinese});
        }
        return out;
    }();
    static const QStringList phrases = [] {
        QStringList out;
        for (const Phrase& p : DisplayPhrases) out << QString::fromUtf8(p.english);
        return out;
    }();
    int prefix = -1;
    for (int i = 0; i < phrases.size(); ++i) {
        if (phrases[i] == words) return QString::fromUtf8(DisplayPhrases[i].chinese);
        if (words.startsWith(phrases[i] + ' ') && (prefix < 0 || phrases[i].size() > phrases[prefix].size())) prefix = i;
    }
    if (prefix >= 0) return QString::fromUtf8(DisplayPhrases[prefix].chinese) + ' ' + DisplayWords(words.mid(phrases[prefix].size() + 1));
    for (const Pattern& p : patterns) {
        const QRegularExpressionMatch m = p.match.match(words);
        if (!m.hasMatch()) continue;
        const QString chinese = QString::fromUtf8(p.chinese);
        QString out;
        for (int i = 0; i < chinese.size(); ++i) {
            const int n = i + 1 < chinese.size() && chinese[i] == '%' ? chinese[i + 1].digitValue() : -1;
            if (n >= 1 && n <= m.lastCapturedIndex()) {
                out += DisplayWords(m.captured(n));
                ++i;
            } else {
                out += chinese[i];
            }
        }
        return out;
    }
    return english;
}

// The display's set-up line, its parts in the panel's language.
QString StatusWords(const std::string& status) {
    static const QRegularExpression gap(QStringLiteral("\\s{2,}"));
    QStringList parts;
    for (const QString& part : QString::fromStdString(status).split(QStringLiteral("  |  "))) {
        QStringList words;
        for (const QString& w : part.split(gap, Qt::SkipEmptyParts)) words << DisplayWords(w);
        parts << words.join(QStringLiteral("  "));
    }
    return parts.join(QStringLiteral("  |  "));
}

// How the display read a write: its bytes and what they meant to it.
QString ReadingWords(const std::vector<display::Reading>& readings) {
    QStringList said;
    for (const display::Reading& r : readings) {
        // The bytes as the model describes them, without its meaning.
        const QString b = QString::fromStdString(display::DescribeBytes(r.bytes));
        const bool unread = r.kind == display::ReadingKind::Unread && !r.macro;  // as the monitor says "[unread ...]"
        said << (unread ? Tr(Text::LogUnread).arg(b) : b + QStringLiteral("  ") + DisplayWords(QString::fromStdString(r.meaning)));
    }
    return said.join(QStringLiteral("  |  "));
}

// Why an open failed, in one line.
QString OpenFailureWords(const LoggedWrite& w) {
    const QString device = QString::fromStdString(w.bytes);
    const Text reason = w.openFailure == OpenFailure::NoDevice       ? Text::NoDeviceReason
                        : w.openFailure == OpenFailure::Busy         ? Text::BusyReason
                        : w.openFailure == OpenFailure::AccessDenied ? Text::AccessDeniedReason
                        : w.openFailure == OpenFailure::NotATerminal ? Text::NotSerialReason
                                                                      : Text::OtherOpenReason;
    return Tr(reason).arg(device).replace('\n', ' ');
}

QString Format(const CLineLogDlg::Row& row, int column) {
    const LoggedWrite& w = row.write;
    switch (column) {
    case TimeColumn: return QDateTime::fromMSecsSinceEpoch(w.timeOfDayUs / 1000).toString(QStringLiteral("HH:mm:ss.zzz"));
    case ControlColumn: return QString::fromStdString(SourceWords(w.source, UiLanguage, "", w.close));
    case BytesColumn: return w.open ? QString() : QString::fromStdString(HexBytes(w.bytes));
    case TextColumn: return w.open ? QString() : Printable(w);
    case ReadingColumn: return ReadingWords(row.readings);
    case ResultColumn: {
        if (w.open && w.openFailure != OpenFailure::None)
            return Tr(Text::LogOpenFailed).arg(QString::number(w.baud), OpenFailureWords(w));
        if (w.open) return Tr(Text::LogOpened).arg(w.baud);
        const QString ms = QString::number(w.durationUs / 1000.0, 'f', 3);
        if (w.result == WriteResult::Ok)
            return w.close           ? Tr(Text::LogClosed)
                   : row.discarded     ? Tr(Text::LogDiscarded).arg(ms)
                   : w.takenByServer   ? Tr(Text::LogTakenByServer).arg(ms)
                   : w.handedToNetwork ? Tr(Text::LogHandedToNetwork).arg(ms)
                                       : Tr(Text::LogOk).arg(ms);
        QString reason = Tr(WriteResultText(w.result));
        if (w.result == WriteResult::NotTaken) reason = reason.arg(w.notTaken);
        const QString failed = Tr(Text::LogFailed).arg(reason);
        const std::string earlier = EarlierDiscardWords(w, UiLanguage);
        return earlier.empty() ? failed : failed + QStringLiteral("; ") + QString::fromStdString(earlier);
    }
    }
    return {};
}

}  // namespace

// The rows as a table for the view; the dialog owns them.
class LineLogTable : public QAbstractTableModel {
public:
    explicit LineLogTable(CLineLogDlg& log) : QAbstractTableModel(&log), log_(log) {}
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : log_.RowCount(); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : ColumnCount; }
    QVariant data(const QModelIndex& index, int role) const override {
        if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid()) return {};
        const QString text = Format(log_.rows_[static_cast<std::size_t>(index.row())], index.column());
        if (role == Qt::DisplayRole) return text;
        return log_.CutShort(text, index.column()) ? text : QVariant();  // the whole of a cell cut short
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
        return Tr(Headings[section]);
    }
    void Append(int first, int last) {
        beginInsertRows({}, first, last);
        endInsertRows();
    }
    void BeginRemove(int count) { beginRemoveRows({}, 0, count - 1); }
    void EndRemove() { endRemoveRows(); }
    void Reset() {
        beginResetModel();
        endResetModel();
    }

private:
    CLineLogDlg& log_;
};

CLineLogDlg::CLineLogDlg(QWidget* parent)
    : QDialog(parent), startEmulation_(PowerOnEmulation), model_(std::make_unique<display::DisplayModel>()),
      table_(new LineLogTable(*this)), view_(new QTableView(this)), emulationLabel_(new QLabel(this)),
      emulation_(new QComboBox(this)), expectedLabel_(new QLabel(this)), expected_(new QLabel(this)),
      status_(new QLabel(this)), droppedLabel_(new QLabel(this)), notice_(new QLabel(this)), save_(new QPushButton(this)),
      copy_(new QPushButton(this)), clear_(new QPushButton(this)), timer_(new QTimer(this)) {
    setWindowFlag(Qt::Window);
    setModal(false);
    resize(980, 560);
    // The platform's interface font for the words; the fixed-width font where
    // bytes and display positions line up in columns.
    setFont(QApplication::font());
    const QFont fixed = FixedFont();
    view_->setModel(table_);
    view_->setFont(fixed);
    view_->horizontalHeader()->setFont(font());
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->verticalHeader()->setVisible(false);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    SizeColumns();

    for (const OptionFrame& f : OptionFrameTable)
        if (f.group == 'C') emulation_->addItem(QString::fromUtf8(f.label));
    emulation_->setCurrentText(QString::fromUtf8(startEmulation_));
    connect(emulation_, &QComboBox::activated, this, [this](int index) {
        for (const OptionFrame& f : OptionFrameTable)
            if (f.group == 'C' && QString::fromUtf8(f.label) == emulation_->itemText(index)) SetStartEmulation(f.label);
    });
    QFont screen = fixed;  // the display's twenty positions, one under the other
    screen.setPointSize(screen.pointSize() + 6);
    expected_->setFont(screen);
    expected_->setTextFormat(Qt::PlainText);
    expected_->setStyleSheet(QStringLiteral("background:#101416; color:#5cffd8; padding:6px;"));
    status_->setTextFormat(Qt::PlainText);
    notice_->setTextFormat(Qt::PlainText);
    notice_->setWordWrap(true);
    notice_->setStyleSheet(QStringLiteral("color:#b00020;"));

    auto* top = new QHBoxLayout;
    top->addWidget(emulationLabel_);
    top->addWidget(emulation_);
    top->addStretch();
    top->addWidget(droppedLabel_);
    top->addWidget(save_);
    top->addWidget(copy_);
    top->addWidget(clear_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(view_, 1);
    layout->addWidget(expectedLabel_);
    layout->addWidget(expected_, 0, Qt::AlignLeft);
    layout->addWidget(status_);
    layout->addWidget(notice_);

    connect(save_, &QPushButton::clicked, this, &CLineLogDlg::Save);
    connect(copy_, &QPushButton::clicked, this, &CLineLogDlg::Copy);
    connect(clear_, &QPushButton::clicked, this, &CLineLogDlg::Clear);
    connect(timer_, &QTimer::timeout, this, &CLineLogDlg::Refresh);
    Retranslate();
    ShowExpected();
}

// The view and the table go first: while the dialog's own parts are taken
// down, the view must not ask a half-gone dialog for its rows.
CLineLogDlg::~CLineLogDlg() {
    delete view_;
    delete table_;
}

void CLineLogDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Refresh();
    timer_->start(200);
}

void CLineLogDlg::hideEvent(QHideEvent* event) {
    timer_->stop();  // nobody looks: the link keeps recording, nothing is read
    QDialog::hideEvent(event);
}

void CLineLogDlg::Retranslate() {
    setWindowTitle(Tr(Text::LineLog));
    emulationLabel_->setText(Tr(Text::LogEmulation));
    expectedLabel_->setText(Tr(Text::LogExpected));
    save_->setText(Tr(Text::LogSave));
    copy_->setText(Tr(Text::LogCopy));
    clear_->setText(Tr(Text::LogClear));
    emit table_->headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    SizeColumns();
    if (!rows_.empty()) emit table_->dataChanged(table_->index(0, 0), table_->index(RowCount() - 1, ColumnCount - 1));
    ShowExpected();
}

// A write that reached the line goes through the reader; an open starts a
// screen that is not known until the next clear.
void CLineLogDlg::Read(Row& row) {
    const LoggedWrite& w = row.write;
    if (w.open ? w.openFailure == OpenFailure::None : w.result != WriteResult::NotOpen) opened_ = true;
    if (w.open) {
        if (w.openFailure == OpenFailure::None) screenKnown_ = false;
        return;
    }
    if (w.result != WriteResult::Ok) return;  // nothing of it reached the line
    const std::uint64_t clears = model_->Clears();
    model_->Feed(reinterpret_cast<const std::uint8_t*>(w.bytes.data()), w.bytes.size(), w.baud);
    row.readings = model_->TakeReadings();
    if (model_->Clears() != clears) screenKnown_ = true;
}

// Widths by the fonts in use: the time and the control whole, the start of a
// line frame's bytes, its text, an ordinary result; what the display read
// takes the rest, and grows with the window.
void CLineLogDlg::SizeColumns() {
    const QFontMetrics cells(view_->font()), headings(view_->horizontalHeader()->font());
    const int margin = 2 * view_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view_) + cells.averageCharWidth();
    const QString widest[ColumnCount] = {QStringLiteral("00:00:00.000"), QString(20, '0'), QString(3 * 8, '0'),
                                         QString(20, '0'), QString(), Tr(Text::LogOk).arg(QStringLiteral("000.000"))};
    view_->horizontalHeader()->setSectionResizeMode(ReadingColumn, QHeaderView::Stretch);
    for (int c = 0; c < ColumnCount; ++c) {
        if (c == ReadingColumn) continue;
        const int text = cells.horizontalAdvance(widest[c]);
        const int heading = headings.horizontalAdvance(Tr(Headings[c])) + 2 * headings.averageCharWidth();
        view_->setColumnWidth(c, std::max(text, heading) + margin);
    }
}

bool CLineLogDlg::CutShort(const QString& text, int column) const {
    const int margin = 2 * view_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view_) + 2;
    return view_->fontMetrics().horizontalAdvance(text) + margin > view_->columnWidth(column);
}

void CLineLogDlg::Refresh() {
    std::uint64_t lost = 0;
    std::vector<LoggedWrite> fresh = ReadLineLog(last_, lost);
    if (lost) {
        dropped_ += lost;
        screenKnown_ = false;
        opened_ = true;  // what was lost may have been an open
    }
    if (fresh.empty()) {
        if (lost) ShowExpected();
        return;
    }
    last_ = fresh.back().sequence;
    const int first = RowCount();
    for (LoggedWrite& w : fresh) {
        rows_.push_back({std::move(w), {}});
        Read(rows_.back());
    }
    table_->Append(first, RowCount() - 1);
    for (std::size_t i = static_cast<std::size_t>(first); i < rows_.size(); ++i)
        if (rows_[i].write.earlierRows) MarkDiscarded(i);
    if (rows_.size() > RowLimit) {
        const int excess = static_cast<int>(rows_.size() - RowLimit);
        table_->BeginRemove(excess);
        rows_.erase(rows_.begin(), rows_.begin() + excess);
        table_->EndRemove();
        dropped_ += static_cast<std::uint64_t>(excess);
    }
    view_->scrollToBottom();
    ShowExpected();
}

// The rows before a failed write that its discard of the output queue may
// have taken: they may never have reached the line, so the screen is not known.
void CLineLogDlg::MarkDiscarded(std::size_t failed) {
    const std::uint64_t from = rows_[failed].write.sequence - rows_[failed].write.earlierRows;
    std::size_t i = failed;
    while (i > 0 && rows_[i - 1].write.sequence >= from) rows_[--i].discarded = true;
    if (i == failed) return;
    screenKnown_ = false;
    emit table_->dataChanged(table_->index(static_cast<int>(i), ResultColumn),
                             table_->index(static_cast<int>(failed) - 1, ResultColumn));
}

void CLineLogDlg::SetStartEmulation(const char* label) {
    startEmulation_ = label;
    emulation_->setCurrentText(QString::fromUtf8(label));
    Reread();
}

// From the display's set-up before the first row, every row read again.
void CLineLogDlg::Reread() {
    model_ = std::make_unique<display::DisplayModel>();
    model_->SetEmulation(startEmulation_);
    screenKnown_ = false;
    for (Row& row : rows_) {
        row.readings.clear();
        Read(row);
    }
    table_->Reset();
    ShowExpected();
}

void CLineLogDlg::ShowExpected() {
    expected_->setText(QString::fromStdString(model_->Line(0) + "\n" + model_->Line(1)));
    QString status = StatusWords(model_->Status());
    if (!screenKnown_) status += QStringLiteral("\n") + Tr(opened_ ? Text::LogScreenUnknown : Text::LogNotOpened);
    if (model_->PrinterBytes()) status += QStringLiteral("\n") + Tr(Text::LogPrinter).arg(model_->PrinterBytes());
    status_->setText(status);
    droppedLabel_->setText(dropped_ ? Tr(Text::LogDropped).arg(dropped_) : QString());
}

QString CLineLogDlg::Cell(int row, int column) const { return Format(rows_[static_cast<std::size_t>(row)], column); }

QString CLineLogDlg::RowsText(const std::vector<int>& rows) const {
    QString text;
    for (int r : rows) {
        QStringList cells;
        for (int c = 0; c < ColumnCount; ++c) cells << Cell(r, c);
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

bool CLineLogDlg::SaveTo(const QString& path, QString* why) const {
    // A file is replaced only once the new text is written whole, so a full
    // disk keeps the old one; a device or a pipe is written directly.
    const QFileInfo info(path);
    std::unique_ptr<QFileDevice> file;
    if (info.exists() && !info.isFile()) file = std::make_unique<QFile>(path);
    else file = std::make_unique<QSaveFile>(path);
    auto* const replace = qobject_cast<QSaveFile*>(file.get());
    const auto failed = [&] {
        if (why) *why = file->errorString();
        if (replace) replace->cancelWriting();
        return false;
    };
    // Unbuffered: a failed write keeps the system's reason.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered)) return failed();
    QStringList heading;
    for (Text h : Headings) heading << Tr(h);
    QString text;
    if (dropped_) text += Tr(Text::LogDropped).arg(dropped_) + QLatin1Char('\n');
    text += heading.join(QLatin1Char('\t')) + QLatin1Char('\n');
    std::vector<int> all(rows_.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    text += RowsText(all);
    const QByteArray bytes = text.toUtf8();
    // A short write is retried: the next one fails with the reason.
    for (qint64 at = 0, n = 0; at < bytes.size(); at += n)
        if ((n = file->write(bytes.constData() + at, bytes.size() - at)) <= 0) return failed();
    if (replace) return replace->commit() || failed();
    file->close();
    return file->error() == QFileDevice::NoError || failed();
}

bool CLineLogDlg::SaveAs(const QString& path) {
    QString why;
    if (SaveTo(path, &why)) {
        notice_->clear();
        return true;
    }
    notice_->setText(Tr(Text::LogSaveFailed).arg(path, why));
    std::fprintf(stderr, "vantrel: cannot save the line log in %s: %s\n", qPrintable(path), qPrintable(why));
    return false;
}

QString CLineLogDlg::Notice() const { return notice_->text(); }

void CLineLogDlg::Save() {
    const QString name = QStringLiteral("vantrel-line-log-%1.txt").arg(QDate::currentDate().toString(Qt::ISODate));
    const QString path = QFileDialog::getSaveFileName(this, Tr(Text::LogSave), name);
    if (!path.isEmpty()) SaveAs(path);
}

void CLineLogDlg::Copy() {
    std::vector<int> rows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    QApplication::clipboard()->setText(RowsText(rows));
}

void CLineLogDlg::Clear() {
    Refresh();  // what was written up to now is read first: the expected screen keeps it
    rows_.clear();
    dropped_ = 0;
    table_->Reset();
    ShowExpected();
}

}  // namespace vantrel
