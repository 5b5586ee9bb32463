// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelFixture.h"
#include "app/PanelTables.h"
#include "commands/CommandFrames.h"
#include "content/CharTest.h"
#include "content/LineMessage.h"
#include "resources/ControlTable.h"

#include <QAccessible>
#include <tuple>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWheelEvent>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <unistd.h>
#include <termios.h>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

int EnabledCount(const vantrel::CPanelDlg& panel, bool enabled) {
    int n = 0;
    for (int id : PortDependentControls) n += panel.GetDlgItem(id)->isEnabled() == enabled;
    return n;
}

QWidget* NextTabStop(QWidget* w) {
    do w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty());
    return w;
}

}  // namespace

TEST_F(PanelTest, EveryControlOfTheTemplateExistsWithItsKindLabelAndTabOrder) {
    std::set<int> ids;
    QWidget* previous = nullptr;
    for (const Control& c : PanelControls) {
        QWidget* w = Item(c.id);
        ASSERT_NE(w, nullptr) << c.id;
        ids.insert(c.id);
        switch (c.kind) {
        case Kind::Button: EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), QString::fromUtf8(c.label.English())); break;
        case Kind::Check: EXPECT_EQ(qobject_cast<QCheckBox*>(w)->text(), QString::fromUtf8(c.label.English())); break;
        case Kind::Group: EXPECT_EQ(qobject_cast<QGroupBox*>(w)->title(), QString::fromUtf8(c.label.English())); break;
        case Kind::Label: EXPECT_EQ(qobject_cast<QLabel*>(w)->text(), QString::fromUtf8(c.label.English())); break;
        case Kind::List: EXPECT_NE(qobject_cast<QComboBox*>(w), nullptr); break;
        case Kind::Edit: EXPECT_NE(qobject_cast<QLineEdit*>(w), nullptr); break;
        }
        if (w->focusPolicy() & Qt::TabFocus) {
            if (previous) {
                EXPECT_EQ(NextTabStop(previous), w) << "Tab after " << previous->objectName().toStdString();
            }
            previous = w;
        }
    }
    EXPECT_EQ(ids.size(), 77u);
    EXPECT_EQ(Label(1115), "TO Chinese");
    EXPECT_EQ(Box(1085)->text(), "Spain1 ");
    EXPECT_EQ(panel->windowTitle(), "Vantrel V2.0");
    EXPECT_EQ(panel->minimumSize(), panel->maximumSize()) << "no resizing";
    EXPECT_FALSE(panel->windowFlags() & Qt::WindowMaximizeButtonHint);
    // Geometry comes from dialog units: the second edit line sits below the first, both equally wide.
    EXPECT_EQ(Item(1000)->width(), Item(1004)->width());
    EXPECT_GT(Item(1004)->y(), Item(1000)->y());
    EXPECT_LT(Item(1117)->geometry().right(), Item(1119)->geometry().left());
}

// What a screen reader gets, through the accessibility tree that AT-SPI and
// UI Automation are fed from.
TEST_F(PanelTest, AssistiveTechnologyHearsWhatEachControlIsInBothLanguages) {
    const auto name = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    const QStringList english{"Display line 1", "Display line 2"};
    const QStringList chinese{"显示第一行", "显示第二行"};
    // The lists are Qt's own drop-down lists: their value the current item,
    // their items children of their list, their caption their label.
    for (const auto& [id, item, count] : {std::tuple{1001, "COM1", 9}, std::tuple{1002, "9600", 8}}) {
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(Item(id));
        EXPECT_EQ(list->role(), QAccessible::ComboBox);
        EXPECT_EQ(list->text(QAccessible::Value), item);
        ASSERT_EQ(list->childCount(), 1) << id;
        EXPECT_EQ(list->child(0)->childCount(), count) << id;
        const auto labels = list->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1) << id;
        EXPECT_EQ(qobject_cast<QLabel*>(labels[0].first->object())->buddy(), Item(id));
    }
    for (const QStringList& expected : {english, chinese}) {
        const QStringList names{name(Item(1000)), name(Item(1004))};
        EXPECT_EQ(names.join('|').toStdString(), expected.join('|').toStdString());
        Click(1115);
    }
    // Every option box is a child of its group's frame: "Set BaudRate", then "9600".
    for (std::size_t g = 0; g < OptionGroups.size(); ++g) {
        for (int id : OptionGroups[g]) {
            QAccessibleInterface* group = QAccessible::queryAccessibleInterface(Item(id))->parent();
            ASSERT_EQ(group->role(), QAccessible::Grouping) << id;
            EXPECT_EQ(group->text(QAccessible::Name), qobject_cast<QGroupBox*>(Item(1117 + static_cast<int>(g)))->title()) << id;
        }
    }
}

TEST_F(PanelTest, ListsHoldTheirItemsUnsortedAndNotEditable) {
    QStringList ports, rates;
    for (int i = 0; i < List(1001)->count(); ++i) ports << List(1001)->itemText(i);
    for (int i = 0; i < List(1002)->count(); ++i) rates << List(1002)->itemText(i);
    EXPECT_EQ(ports, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}));
    EXPECT_EQ(rates, QStringList({"300", "600", "1200", "2400", "4800", "9600", "19200", "38400"}));
    EXPECT_FALSE(List(1001)->isEditable());
    EXPECT_FALSE(List(1002)->isEditable());
}

TEST_F(PanelTest, FreshStartState) {
    EXPECT_EQ(List(1001)->currentText(), "COM1");
    EXPECT_EQ(List(1002)->currentText(), "9600");
    EXPECT_EQ(panel->BaudValue, 9600);
    EXPECT_EQ(panel->PortIndex, 0);
    EXPECT_EQ(panel->BaudIndex, -1);
    EXPECT_STREQ(PortName, "COM1");
    EXPECT_EQ(panel->PortOpen, 0);
    EXPECT_EQ(panel->AutoIdle, 1);
    EXPECT_EQ(UiLanguage, 0);
    EXPECT_EQ(Edit(1000)->text(), "     THANK YOU      ");
    EXPECT_EQ(Edit(1004)->text(), "  HAVE A NICE DAY   ");
    EXPECT_EQ(Edit(1000)->font().pixelSize(), 45);
    EXPECT_EQ(Edit(1004)->font().pixelSize(), 45);
    EXPECT_EQ(Edit(1000)->font().weight(), QFont::Normal);
    EXPECT_EQ(EnabledCount(*panel, false), 63);
    for (int id : {1000, 1004, 1001, 1002, 1003, 1114, 1115}) EXPECT_TRUE(Item(id)->isEnabled()) << id;
    QApplication::setActiveWindow(panel.get());
    EXPECT_EQ(panel->focusWidget(), Item(1000));
    EXPECT_FALSE(panel->windowIcon().isNull());
}

TEST_F(PanelTest, EditLinesRefuseTypingPastTheirVisibleWidth) {
    Edit(1000)->clear();
    QTest::keyClicks(Edit(1000), QString(60, QChar('W')));
    const int typed = Edit(1000)->text().size();
    EXPECT_GT(typed, 5);
    EXPECT_LT(typed, 60);
    EXPECT_LE(QFontMetrics(Edit(1000)->font()).horizontalAdvance(Edit(1000)->text()), Edit(1000)->width());
}

TEST_F(PanelTest, OpenEnablesAllAndUnchecksAllBoxes) {
    Open();
    Box(1011)->setChecked(true);
    Click(1003);  // close: the mark stays, disabled
    EXPECT_TRUE(Box(1011)->isChecked());
    EXPECT_FALSE(Box(1011)->isEnabled());
    Open();
    EXPECT_EQ(Label(1003), "Close COM");
    EXPECT_EQ(EnabledCount(*panel, true), 63);
    for (const OptionFrame& f : OptionFrameTable) EXPECT_FALSE(Box(f.boxId)->isChecked()) << f.boxId;
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(PortHandleValid());
}

TEST_F(PanelTest, CloseDisablesAllAndResetsTheLabels) {
    Open();
    Click(1095);
    EXPECT_EQ(CharTestPage, 1);
    Click(1003);
    EXPECT_EQ(panel->PortOpen, 0);
    EXPECT_EQ(panel->AutoIdle, 1);
    EXPECT_EQ(CharTestPage, 0);
    EXPECT_FALSE(PortHandleValid());
    EXPECT_EQ(Label(1003), "Open COM");
    EXPECT_EQ(Label(1007), "Auto Send");
    EXPECT_EQ(Label(1095), "LanguageTest80H");
    EXPECT_EQ(EnabledCount(*panel, false), 63);
}

TEST_F(PanelTest, FailedOpenShowsTheMessageAndReturnsToClosed) {
    Open();
    Box(1042)->setChecked(true);
    Click(1095);
    Click(1003);
    Box(1042)->setChecked(true);
    // Another program takes the device.
    const int holder = open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    // What the panel shows behind the box while it is up.
    QStringList behind;
    SetMessageFunction([&](const QString& text, const QString&) {
        messages << text;
        behind << Label(1003) << QString::number(EnabledCount(*panel, true));
    });
    testing::internal::CaptureStderr();
    Click(1003);
    const std::string err = testing::internal::GetCapturedStderr();
    close(holder);
    EXPECT_EQ(messages, QStringList{"The port is already open!"});
    EXPECT_EQ(behind, QStringList({"Open COM", "0"}));
    EXPECT_NE(err.find("busy"), std::string::npos);
    EXPECT_EQ(panel->PortOpen, 0);
    EXPECT_EQ(Label(1003), "Open COM");
    EXPECT_EQ(Label(1095), "LanguageTest80H");
    EXPECT_EQ(EnabledCount(*panel, false), 63);
    EXPECT_FALSE(Box(1042)->isChecked());
}

TEST_F(PanelTest, MissingDeviceFailsTheSameWay) {
    PortMapping missing(1, "/nonexistent/ttyVANTREL");
    testing::internal::CaptureStderr();
    Click(1003);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages, QStringList{"The port is already open!"});
    EXPECT_EQ(EnabledCount(*panel, false), 63);
    EXPECT_EQ(Label(1003), "Open COM");
}

TEST_F(PanelTest, ListChangeWhileOpenReleasesTheDevice) {
    Open();
    Click(1095);  // the test page is not reset by a list change
    Choose(1002, 6);
    EXPECT_EQ(panel->BaudValue, 19200);
    EXPECT_EQ(panel->BaudIndex, 6);
    EXPECT_EQ(panel->PortOpen, 0);
    EXPECT_FALSE(PortHandleValid());
    EXPECT_EQ(Label(1003), "Open COM");
    EXPECT_EQ(Label(1095), "LanguageTest90H");
    EXPECT_EQ(EnabledCount(*panel, false), 63);
    EXPECT_TRUE(messages.isEmpty());
    const int other = open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0) << "the device was released";
    close(other);
    // The new rate applies at the next open.
    Open();
    termios t{};
    tcgetattr(pty.Slave(), &t);
    EXPECT_EQ(cfgetospeed(&t), B19200);
}

TEST_F(PanelTest, TheWheelChangesAListOnlyWhileItHasTheFocus) {
    Open();
    QApplication::setActiveWindow(panel.get());
    const auto wheel = [](QWidget* w) {
        const QPointF at(w->width() / 2, w->height() / 2);
        QWheelEvent notch(at, w->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &notch);
    };
    for (int id : {1001, 1002}) {
        Edit(1000)->setFocus();
        const int before = List(id)->currentIndex();
        wheel(List(id));
        EXPECT_EQ(List(id)->currentIndex(), before) << id;
        EXPECT_FALSE(List(id)->hasFocus()) << "the wheel gives no focus";
        EXPECT_EQ(panel->PortOpen, 1) << id;
    }
    List(1002)->setFocus();
    wheel(List(1002));
    EXPECT_EQ(List(1002)->currentText(), "19200");
    EXPECT_EQ(panel->BaudValue, 19200);
    EXPECT_EQ(panel->PortOpen, 0) << "a focused list's new choice closes the port";
}

TEST_F(PanelTest, PortChangeNamesTheNextDeviceAndTouchesNothingWhileClosed) {
    Pty com9;
    PortMapping mapping9(9, com9.Path());
    termios before{};
    tcgetattr(pty.Slave(), &before);
    Choose(1001, 8);
    EXPECT_STREQ(PortName, "COM9");
    EXPECT_EQ(panel->PortIndex, 8);
    EXPECT_EQ(panel->PortOpen, 0);
    EXPECT_TRUE(messages.isEmpty());
    termios after{};
    tcgetattr(pty.Slave(), &after);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    Open();
    Click(1005);
    EXPECT_EQ(com9.Read(1), Hex("0C"));
    EXPECT_TRUE(pty.ReadUntilQuiet(50ms).empty());
}

TEST_F(PanelTest, EnterInAnEditLineClosesAsOkAndEscapeCancels) {
    QSignalSpy accepted(panel.get(), &QDialog::accepted);
    Edit(1000)->setFocus();
    Edit(1000)->setText("typed");
    QTest::keyClick(Edit(1000), Qt::Key_Return);
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_EQ(panel->Line1Text, "typed") << "OK exchanges from the controls first";
    EXPECT_EQ(panel->result(), QDialog::Accepted);

    panel->show();
    QSignalSpy rejected(panel.get(), &QDialog::rejected);
    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_EQ(rejected.count(), 1);
}

TEST_F(PanelTest, EnterOnAFocusedButtonPressesThatButton) {
    Open();
    QSignalSpy accepted(panel.get(), &QDialog::accepted);
    Item(1005)->setFocus();
    QTest::keyClick(Item(1005), Qt::Key_Return);
    EXPECT_EQ(accepted.count(), 0);
    EXPECT_EQ(pty.Read(1), Hex("0C"));
}

TEST_F(PanelTest, AboutBoxFromTheWindowMenuCommand) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        shown = true;
        EXPECT_EQ(about->windowTitle(), "About Vantrel");
        QStringList texts;
        for (auto* l : about->findChildren<QLabel*>()) texts << l->text();
        EXPECT_TRUE(texts.contains("Vantrel Version 1.0"));
        about->findChild<QPushButton*>("ok")->click();
    });
    HidePanelForModalLoop();
    panel->OnSysCommand(16);
    EXPECT_TRUE(shown);
    EXPECT_EQ(panel->PortOpen, 0);
    EXPECT_EQ(Edit(1000)->text(), "     THANK YOU      ");
}

TEST_F(PanelTest, WindowLevelMenuHoldsASeparatorTheAboutEntryThenTheLineLog) {
    QStringList entries;
    QVariant command;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* a : menu->actions()) entries << (a->isSeparator() ? QString("-") : a->text());
        if (menu->actions().size() > 1) command = menu->actions()[1]->data();
        menu->close();  // nothing chosen: the panel stays as it was
    });
    HidePanelForModalLoop();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), panel->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(panel.get(), &event);
    EXPECT_EQ(entries, QStringList({"-", "&About Vantrel...", "Line log"}));
    EXPECT_EQ(command.toInt(), 16);
    EXPECT_EQ(panel->PortOpen, 0);
}
