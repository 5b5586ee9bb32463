// SPDX-License-Identifier: GPL-3.0-or-later
// The main panel: every control of the program, built from the control table,
// with one handler per notification.
#pragma once

#include "resources/Texts.h"
#include "content/AutoSend.h"

#include <QDialog>
#include <QFont>
#include <QString>
#include <span>
#include <unordered_map>

class QComboBox;

namespace vantrel {

class CLineLogDlg;
class FieldEdit;

class CPanelDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPanelDlg(QWidget* parent = nullptr);
    ~CPanelDlg() override;

    // A control by its id (-1 is the "Port:" caption); nullptr for an unknown id.
    QWidget* GetDlgItem(int id) const;

    // Members exchanged with the controls, and the panel's flags.
    int PortIndex = -1;
    int BaudIndex = -1;
    QString Line1Text;
    int AutoIdle = 1;
    int PortOpen = 0;
    int BaudValue = 0;
    QString Line2Text;
    QFont LineFont;

    // Handlers.
    void OnInitDialog();
    void OnOpenCloseCom();
    void OnPortSelChange();
    void OnBaudSelChange();
    void OnSend();
    void OnSampleText();
    void OnClean();
    void OnReset();
    void OnDemo();
    void OnClearDemo();
    void OnFullLight();
    void OnOptionBox(int boxId);
    void OnSendCommand();
    void OnAutoSend();
    void OnCharTest();
    void OnLanguage();
    void OnSysCommand(int commandId);
    void OnOK();
    // The line log window (its button, Ctrl+L, or the right-click menu's entry below About).
    void ShowLineLog();
    CLineLogDlg* LineLogForTest() const { return lineLog_; }

    // true: controls -> members; false: members -> controls.
    void DoDataExchange(bool saveAndValidate);

    // The worker threads of the auto-send cycle.
    AutoSender& AutoSenderForTest() { return autoSender_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControls();
    void SetDlgItemText(int id, const QString& text);
    void SetLabel(int id, Text text);
    void EnableControls(std::span<const int> ids, bool enable);
    void EnablePortDependentControls(bool enable);
    void SetLineFontOnFields();
    void SetAccessibleNames();
    void ShowSampleLines(int row);
    void ShowSampleText(int row);
    void StopCycle();
    void ListChanged(int listId);

    QComboBox* PortList = nullptr;
    QComboBox* BaudList = nullptr;
    FieldEdit* Line1Edit = nullptr;
    FieldEdit* Line2Edit = nullptr;
    std::unordered_map<int, QWidget*> controls_;
    AutoSender autoSender_;
    CLineLogDlg* lineLog_ = nullptr;
};

}  // namespace vantrel
