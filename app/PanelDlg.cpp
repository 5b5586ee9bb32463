// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PanelDlg.h"

#include "app/AboutDlg.h"
#include "app/DialogUnits.h"
#include "app/FieldEdit.h"
#include "app/LineLogDlg.h"
#include "app/PanelApp.h"
#include "serial/WriteNames.h"
#include "app/Messages.h"
#include "app/PanelTables.h"
#include "app/PortList.h"
#include "commands/CommandFrames.h"
#include "content/CharTest.h"
#include "content/LineMessage.h"
#include "resources/ControlTable.h"
#include "serial/PortTables.h"
#include "serial/SerialLink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <cstring>

namespace vantrel {

namespace {

const QKeySequence LineLogKey(Qt::CTRL | Qt::Key_L);

std::u16string_view Utf16(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}

}  // namespace

CPanelDlg::CPanelDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(PanelCaption));
    // Caption, window menu, minimise box; no maximise box, no sizing.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vantrel-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/vantrel-16.png"), QSize(16, 16));
    setWindowIcon(icon);
    BuildControls();
    // The specified message, and under it why the write failed.
    SetWriteFailureReporter([](WriteResult why) {
        SayWriteFailure(PortName, why);
        ShowMessage(Text::PortClosedMessage, Tr(WriteResultText(why)));
    });
    GetDlgItem(LineLogId)->setToolTip(LineLogKey.toString(QKeySequence::NativeText));
    auto* lineLogKey = new QShortcut(LineLogKey, this);
    connect(lineLogKey, &QShortcut::activated, this, &CPanelDlg::ShowLineLog);
    OnInitDialog();
}

CPanelDlg::~CPanelDlg() {
    // An orderly end for a running cycle: stop the worker and wait for it.
    AutoRun = 0;
    autoSender_.StopAndJoin();
    SetWriteFailureReporter(nullptr);
}

void CPanelDlg::BuildControls() {
    const DialogUnits du(font());
    setFixedSize(du.X(PanelWidth), du.Y(PanelHeight));
    QWidget* previousTabStop = nullptr;
    for (const Control& c : PanelControls) {
        const QString label = QString::fromUtf8(c.label.English());
        QWidget* w = nullptr;
        switch (c.kind) {
        case Kind::Edit: {
            auto* edit = new FieldEdit(this);
            (c.id == UpperLineId ? Line1Edit : Line2Edit) = edit;
            w = edit;
            break;
        }
        case Kind::Label: {
            auto* text = new QLabel(label, this);
            text->setTextFormat(Qt::PlainText);
            w = text;
            break;
        }
        case Kind::List: {
            DropDownList* list = c.id == PortListId ? new PortListBox(this) : new DropDownList(this);
            list->setMaxVisibleItems(8);
            if (c.id == PortListId) {
                PortList = list;
                connect(list, &QComboBox::activated, this, [this] { OnPortSelChange(); });
            } else {
                for (int rate : BaudRates) list->addItem(QString::number(rate));
                BaudList = list;
                connect(list, &QComboBox::activated, this, [this] { OnBaudSelChange(); });
            }
            w = list;
            break;
        }
        case Kind::Button: {
            auto* button = new QPushButton(label, this);
            button->setAutoDefault(false);  // Enter with no button focused is the panel's OK
            w = button;
            break;
        }
        case Kind::Group: w = new QGroupBox(label, this); break;
        case Kind::Check: {
            auto* box = new QCheckBox(label, controls_.at(GroupFrameOf(c)));
            const int id = c.id;
            connect(box, &QCheckBox::clicked, this, [this, id] { OnOptionBox(id); });
            w = box;
            break;
        }
        }
        w->setObjectName(QString::number(c.id));
        // A list's rectangle includes its dropped-down part; the closed box keeps its own height.
        // A box in a group is placed in the group's frame, where the panel placed it.
        QRect r = du.Rect(c);
        if (w->parentWidget() != this) r.translate(-w->parentWidget()->pos());
        w->setGeometry(c.kind == Kind::List ? QRect(r.topLeft(), QSize(r.width(), w->sizeHint().height())) : r);
        controls_[c.id] = w;
        if (w->focusPolicy() != Qt::NoFocus) {
            if (previousTabStop) setTabOrder(previousTabStop, w);
            previousTabStop = w;
        }
    }
    const std::pair<int, void (CPanelDlg::*)()> buttons[] = {
        {OpenComId, &CPanelDlg::OnOpenCloseCom},  {CleanId, &CPanelDlg::OnClean},         {SendId, &CPanelDlg::OnSend},
        {AutoSendId, &CPanelDlg::OnAutoSend},     {ResetId, &CPanelDlg::OnReset},         {DemoId, &CPanelDlg::OnDemo},
        {ClearDemoId, &CPanelDlg::OnClearDemo},   {SendCommandId, &CPanelDlg::OnSendCommand},
        {FullLightId, &CPanelDlg::OnFullLight},   {CharTestId, &CPanelDlg::OnCharTest},
        {SampleTextId, &CPanelDlg::OnSampleText}, {LanguageId, &CPanelDlg::OnLanguage},
        {LineLogId, &CPanelDlg::ShowLineLog},
    };
    for (const auto& [id, handler] : buttons)
        connect(static_cast<QPushButton*>(controls_.at(id)), &QPushButton::clicked, this, handler);
    // Each caption labels its list, also for assistive technology.
    static_cast<QLabel*>(controls_.at(-1))->setBuddy(PortList);
    static_cast<QLabel*>(controls_.at(BaudCaptionId))->setBuddy(BaudList);
}

void CPanelDlg::SetAccessibleNames() {
    for (const AccessibleName& n : AccessibleNames)
        GetDlgItem(n.controlId)->setAccessibleName(QString::fromStdString(AccessibleControlName(n.controlId, UiLanguage)));
}

QWidget* CPanelDlg::GetDlgItem(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void CPanelDlg::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate) {
        PortIndex = PortList->currentIndex();
        BaudIndex = BaudList->currentIndex();
        Line1Text = Line1Edit->text();
        Line2Text = Line2Edit->text();
    } else {
        PortList->setCurrentIndex(PortIndex);
        BaudList->setCurrentIndex(BaudIndex);
        Line1Edit->SetProgramText(Line1Text);
        Line2Edit->SetProgramText(Line2Text);
    }
}

void CPanelDlg::OnInitDialog() {
    DoDataExchange(false);
    SampleTextIndex = 0;
    UiLanguage = 0;
    UseQtTranslation(UiLanguage);
    SetAccessibleNames();
    CharTestPage = 0;
    PortOpen = 0;
    PortList->setCurrentIndex(DefaultPortIndex);
    PortIndex = DefaultPortIndex;
    BaudList->setCurrentIndex(DefaultBaudIndex);
    BaudValue = BaudValueForIndex(DefaultBaudIndex);
    // 45-pixel line font; SimSun where it exists, else a face that shows GB2312 text.
    LineFont = QFont();
    LineFont.setFamilies({QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                          QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Sans Serif")});
    LineFont.setPixelSize(45);
    LineFont.setWeight(QFont::Normal);
    SetLineFontOnFields();
    ShowSampleLines(0);
    std::strcpy(PortName, PortNameForIndex(DefaultPortIndex));
    EnablePortDependentControls(false);
    Line1Edit->setFocus();
}

void CPanelDlg::SetDlgItemText(int id, const QString& text) {
    QWidget* w = GetDlgItem(id);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(text);
    else if (auto* e = qobject_cast<FieldEdit*>(w)) e->SetProgramText(text);
}

void CPanelDlg::SetLabel(int id, Text text) { SetDlgItemText(id, Tr(text)); }

void CPanelDlg::EnableControls(std::span<const int> ids, bool enable) {
    for (int id : ids) GetDlgItem(id)->setEnabled(enable);
}

void CPanelDlg::EnablePortDependentControls(bool enable) {
    EnableControls(PortDependentControls, enable);
}

void CPanelDlg::SetLineFontOnFields() {
    Line1Edit->setFont(LineFont);
    Line2Edit->setFont(LineFont);
}

// ---- Port state ----

void CPanelDlg::OnOpenCloseCom() {
    if (PortOpen == 0) {
        {
            const WriteSourceScope source({OpenComId});
            OpenPort(BaudValue);
        }
        for (const OptionFrame& f : OptionFrameTable) static_cast<QCheckBox*>(GetDlgItem(f.boxId))->setChecked(false);
        if (!PortHandleValid()) {
            // The panel returns to the closed state before the message goes
            // up, so that nothing behind the box shows a port that is not open.
            PortOpen = 0;
            CharTestPage = 0;
            SetLabel(OpenComId, Text::OpenCom);
            SetLabel(CharTestId, CharTestLabel(0));
            EnablePortDependentControls(false);
            // The specified message, and under it why: from the desktop menu
            // there is no standard error to read.
            ShowMessage(Text::OpenFailedMessage, OpenFailureReason(LastOpenFailure(), LastOpenDevice(), LastOpenDetail()));
            return;
        }
        PortOpen = 1;
        SetLabel(OpenComId, Text::CloseCom);
        EnablePortDependentControls(true);
        return;
    }
    // Stop the worker before the port goes, so none of its bytes can follow the close.
    autoSender_.Stop();
    {
        const WriteSourceScope source({OpenComId});
        ClosePort();
    }
    AutoIdle = 1;
    CharTestPage = 0;
    SetLabel(OpenComId, Text::OpenCom);
    SetLabel(AutoSendId, Text::AutoSend);
    SetLabel(CharTestId, CharTestLabel(0));
    EnablePortDependentControls(false);
    PortOpen = 0;
    AutoRun = 0;
}

void CPanelDlg::ListChanged(int listId) {
    if (AutoIdle == 0) {
        AutoRun = 0;
        autoSender_.Stop();
        AutoIdle = 1;
        SetLabel(AutoSendId, Text::AutoSend);
    }
    const WriteSourceScope source({listId});
    ReapplyAndClose();
    PortOpen = 0;
    SetLabel(OpenComId, Text::OpenCom);
    EnablePortDependentControls(false);
}

void CPanelDlg::OnPortSelChange() {
    PortIndex = PortList->currentIndex();
    std::strcpy(PortName, PortNameForIndex(PortIndex));
    ListChanged(PortListId);
}

void CPanelDlg::OnBaudSelChange() {
    BaudIndex = BaudList->currentIndex();
    BaudValue = BaudValueForIndex(BaudIndex);
    ListChanged(BaudListId);
}

// ---- Two lines and samples ----

void CPanelDlg::OnSend() {
    const WriteSourceScope source({SendId});
    DoDataExchange(true);
    SendTwoLines(Utf16(Line1Text), Utf16(Line2Text), CodePageFromLocale());
}

void CPanelDlg::ShowSampleLines(int row) {
    Line1Edit->SetProgramText(QString::fromUtf8(SampleTexts[row].line1));
    Line2Edit->SetProgramText(QString::fromUtf8(SampleTexts[row].line2));
}

void CPanelDlg::ShowSampleText(int row) {
    SampleTextIndex = static_cast<unsigned char>(row);
    SetLabel(SampleTextId, SampleTexts[row].label);
    ShowSampleLines(row);
}

void CPanelDlg::OnSampleText() {
    SetLineFontOnFields();
    ShowSampleText((SampleTextIndex + 1) % static_cast<int>(SampleTexts.size()));
}

// ---- Command frames ----

namespace {

// A button's frame, its writes named by the button for the line log.
void SendAs(int controlId, void (*send)()) {
    const WriteSourceScope source({controlId});
    send();
}

}  // namespace

void CPanelDlg::OnClean() { SendAs(CleanId, SendCleanFrame); }
void CPanelDlg::OnReset() { SendAs(ResetId, SendResetFrame); }
void CPanelDlg::OnDemo() { SendAs(DemoId, SendDemoFrame); }
void CPanelDlg::OnClearDemo() { SendAs(ClearDemoId, SendClearDemoFrame); }
void CPanelDlg::OnFullLight() { SendAs(FullLightId, SendFullLightFrame); }

void CPanelDlg::OnOptionBox(int boxId) {
    const auto* box = qobject_cast<QCheckBox*>(GetDlgItem(boxId));
    const std::span<const int> group = GroupOf(boxId);
    if (!box || group.empty()) return;
    const bool checked = box->checkState() == Qt::Checked;
    if (!checked && box->checkState() != Qt::Unchecked) return;
    for (int id : group)
        if (id != boxId) GetDlgItem(id)->setEnabled(!checked);
}

void CPanelDlg::OnSendCommand() {
    for (const OptionFrame& f : OptionFrameTable)
        if (static_cast<QCheckBox*>(GetDlgItem(f.boxId))->checkState() == Qt::Checked) {
            const WriteSourceScope source({SendCommandId, f.label});
            SendOptionFrame(f);
        }
}

// ---- Auto-send cycle and test pages ----

void CPanelDlg::StopCycle() {
    AutoRun = 0;
    autoSender_.Stop();  // never waits: the worker ends by itself
    EnableControls(SendingControls, true);
    SetLabel(AutoSendId, Text::AutoSend);
}

void CPanelDlg::OnAutoSend() {
    if (PortOpen == 0) {
        ShowMessage(Text::PortClosedMessage);
        return;
    }
    if (AutoIdle == 1) {
        AutoRun = 1;
        EnableControls(SendingControls, false);
        SetLabel(AutoSendId, Text::StopAuto);
        if (!autoSender_.Start()) {
            StopCycle();  // no worker: back to idle
            return;
        }
    } else {
        StopCycle();
    }
    AutoIdle = AutoIdle == 1 ? 0 : 1;
}

void CPanelDlg::OnCharTest() {
    {
        const WriteSourceScope source({CharTestId, nullptr, CharTestPage});
        SendCharTestPage();
    }
    SetLabel(CharTestId, CharTestLabel(CharTestPage));
}

// ---- Language ----

void CPanelDlg::OnLanguage() {
    SetLineFontOnFields();
    ShowSampleLines(0);
    UiLanguage = UiLanguage == 0 ? 1 : 0;
    UseQtTranslation(UiLanguage);
    if (lineLog_) lineLog_->Retranslate();
    SetAccessibleNames();
    CharTestPage = 0;
    SampleTextIndex = 0;
    for (const LabelRow& row : LabelTable) {
        const bool set = (row.state == LabelState::PortOpen && PortOpen == 1) ||
                         (row.state == LabelState::CycleRunning && AutoIdle == 0);
        SetLabel(row.controlId, set ? row.whenSet : row.text);
    }
}

// ---- Window ----

void CPanelDlg::OnSysCommand(int commandId) {
    if ((commandId & 0xFFF0) == AboutCommandId) {
        CAboutDlg about(this);
        about.exec();
    }
}

void CPanelDlg::OnOK() {
    DoDataExchange(true);
    accept();
}

void CPanelDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
        else OnOK();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape: Cancel
}

void CPanelDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window menu's entry, where the window manager owns the real window menu.
    QMenu menu(this);
    menu.setSeparatorsCollapsible(false);  // the separator stands before the entry, as in a window menu
    menu.addSeparator();
    QAction* about = menu.addAction(QString::fromUtf8(MenuAboutString));
    about->setData(AboutCommandId);
    QAction* lineLog = menu.addAction(Tr(Text::LineLog));
    lineLog->setShortcut(LineLogKey);
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == lineLog) ShowLineLog();
    else if (chosen) OnSysCommand(chosen->data().toInt());
}

void CPanelDlg::ShowLineLog() {
    if (!lineLog_) lineLog_ = new CLineLogDlg(this);  // made at its first use, never at start-up
    lineLog_->show();
    lineLog_->raise();
    lineLog_->activateWindow();
}

}  // namespace vantrel
