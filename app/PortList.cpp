// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PortList.h"

#include "app/Messages.h"
#include "serial/NetPort.h"
#include "serial/PortDiscovery.h"
#include "serial/PortTables.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QWheelEvent>

namespace vantrel {

namespace {

constexpr int DetailRole = Qt::UserRole + 1;
const QString Gap = QStringLiteral("   ");

// Draws a dropped-down row as its name followed by its detail.
class PortItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString detail = index.data(DetailRole).toString();
        if (!detail.isEmpty()) option->text += Gap + detail;
    }
};

}  // namespace

QString PortDetail(const PortAssignment& port) {
    if (port.source == MapSource::Fallback && !port.record) return Tr(Text::NoDevice);
    QString detail = QString::fromStdString(Escaped(ShortDeviceName(port.device)));
    // What --list-ports tells without opening anything, by the same rule.
    const OpenFailure failure = LookAtPort(port.device).failure;
    const Text state = failure == OpenFailure::NoDevice       ? Text::NoDevice
                       : failure == OpenFailure::AccessDenied ? Text::StateAccessDenied
                       : failure == OpenFailure::NotATerminal ? Text::StateNotSerial
                       : failure == OpenFailure::None         ? Text::Count
                                                              : Text::StateCannotOpen;
    if (state != Text::Count) detail += QStringLiteral(" · ") + Tr(state);
    else if (port.record && !port.record->description.empty())
        detail += QStringLiteral(" · ") + QString::fromStdString(Escaped(port.record->description));
    return detail;
}

QString OpenFailureReason(OpenFailure failure, const std::string& device, const std::string& detail) {
    QString path = QString::fromStdString(device);
    if (!detail.empty()) path += QStringLiteral(" (") + QString::fromStdString(detail) + ')';
    switch (failure) {
    case OpenFailure::None: return {};
    case OpenFailure::NoDevice: {
        QStringList found;
        for (const PortRecord& r : OrderDiscovered(DiscoverPorts())) found << QString::fromStdString(r.device);
        QString ports = found.isEmpty() ? Tr(Text::NoPortsFound) : Tr(Text::PortsFound).arg(found.join(", "));
        // A port the list does not reach (COM10 and up on Windows): the line that would, as --list-ports says it.
        if (const std::string hint = FirstReachHint(UiLanguage); !hint.empty()) ports += '\n' + QString::fromStdString(hint);
        return Tr(Text::NoDeviceReason).arg(path) + '\n' + ports;
    }
    case OpenFailure::Busy: return Tr(Text::BusyReason).arg(path);
    case OpenFailure::AccessDenied: return Tr(Text::AccessDeniedReason).arg(path);
    case OpenFailure::NotATerminal: return Tr(Text::NotSerialReason).arg(path);
    case OpenFailure::Other: break;
    }
    return Tr(Text::OtherOpenReason).arg(path);
}

DropDownList::DropDownList(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setFocusPolicy(Qt::StrongFocus);
}

void DropDownList::wheelEvent(QWheelEvent* event) {
    if (hasFocus()) QComboBox::wheelEvent(event);
    else event->ignore();
}

PortListBox::PortListBox(QWidget* parent) : DropDownList(parent) {
    // Each item's text stays its name, which is also what assistive technology
    // reads; the detail lives in a role of its own. The dropped-down view is
    // made at the first drop-down, not at start-up.
    for (const char* name : PortNames) addItem(QString::fromUtf8(name));
}

void PortListBox::RefreshDetails() {
    const PortAssignments ports = ResolvePorts();
    for (int i = 0; i < count() && i < PortCount; ++i) setItemData(i, PortDetail(ports[i]), DetailRole);
}

QString PortListBox::PopupText(int row) const {
    const QString detail = itemData(row, DetailRole).toString();
    return detail.isEmpty() ? itemText(row) : itemText(row) + Gap + detail;
}

void PortListBox::showPopup() {
    if (!dynamic_cast<PortItemDelegate*>(view()->itemDelegate())) view()->setItemDelegate(new PortItemDelegate(view()));
    // An adapter plugged in since the last look shows now.
    RefreshDetails();
    int widest = width();
    const QFontMetrics metrics(view()->font());
    for (int i = 0; i < count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(PopupText(i)) + 32);
    view()->setMinimumWidth(widest);
    QComboBox::showPopup();
}

bool PortListBox::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && currentIndex() >= 0) {
        RefreshDetails();
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), PopupText(currentIndex()), this);
        return true;
    }
    return QComboBox::event(event);
}

}  // namespace vantrel
