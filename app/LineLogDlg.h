// SPDX-License-Identifier: GPL-3.0-or-later
// The line log: every write the panel made on the line, how the display will
// read it, how it ended, and the screen the display should show now. The link
// records all the time (SerialLink.h); this window reads the records, and
// runs the display's reader on them, only while it is shown.
#pragma once

#include "display/DisplayModel.h"
#include "resources/Texts.h"
#include "serial/SerialLink.h"

#include <QDialog>
#include <deque>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;

namespace vantrel {

class LineLogTable;

class CLineLogDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr std::size_t RowLimit = LineLogRows;

    explicit CLineLogDlg(QWidget* parent = nullptr);
    ~CLineLogDlg() override;

    // Takes the link's new records and reads them.
    void Refresh();
    // Labels in the panel's language.
    void Retranslate();
    // The emulation the display was in before the first row: the rows are read again.
    void SetStartEmulation(const char* label);
    // Every row as the window shows it, one line each, after a heading; on
    // failure `why` says why.
    bool SaveTo(const QString& path, QString* why = nullptr) const;
    // SaveTo, and a failure said in the window with its reason.
    bool SaveAs(const QString& path);
    QString Notice() const;
    QString RowsText(const std::vector<int>& rows) const;

    int RowCount() const { return static_cast<int>(rows_.size()); }
    QString Cell(int row, int column) const;
    std::uint64_t Dropped() const { return dropped_; }
    std::string ExpectedLine(int row) const { return model_->Line(row); }
    bool ScreenKnown() const { return screenKnown_; }

    struct Row {
        LoggedWrite write;
        std::vector<display::Reading> readings;  // how the display read the write
        bool discarded = false;  // a later write's discard of the output queue may have taken it
    };
    // Whether `text` is wider than its cell in `column`: the cell's tooltip shows it whole.
    bool CutShort(const QString& text, int column) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Read(Row& row);
    void MarkDiscarded(std::size_t failed);
    void Reread();
    void SizeColumns();
    void ShowExpected();
    void Save();
    void Copy();
    // Forgets the rows shown so far; writes not yet taken still come.
    void Clear();

    std::deque<Row> rows_;
    std::uint64_t last_ = 0;  // the newest record taken
    std::uint64_t dropped_ = 0;
    const char* startEmulation_ = nullptr;
    std::unique_ptr<display::DisplayModel> model_;
    bool screenKnown_ = false;
    bool opened_ = false;  // a port was opened (or records that may hold an open were lost)

    LineLogTable* table_;
    QTableView* view_;
    QLabel* emulationLabel_;
    QComboBox* emulation_;
    QLabel* expectedLabel_;
    QLabel* expected_;
    QLabel* status_;
    QLabel* droppedLabel_;
    QLabel* notice_;
    QPushButton* save_;
    QPushButton* copy_;
    QPushButton* clear_;
    QTimer* timer_;
    friend class LineLogTable;
};

}  // namespace vantrel
