// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's two drop-down lists. The port list (1001): "COM1".."COM9" when closed; dropped down, each name
// with the device it maps to and what that device is. The mapping is resolved
// when the list drops down or its tooltip is asked for, never at start-up.
#pragma once

#include "serial/PortMap.h"
#include "serial/SerialLink.h"

#include <QComboBox>
#include <QString>

namespace vantrel {

// "ttyUSB0 · FT232R USB UART", "/dev/pts/3", or "no device" in the current language.
QString PortDetail(const PortAssignment& port);

// The reason under the open-failure message, in the current language, with the
// link's words of detail ("connection refused") when it has them.
QString OpenFailureReason(OpenFailure failure, const std::string& device, const std::string& detail = {});

// A drop-down list of the panel. As a Win32 drop-down list does, it takes the
// mouse wheel only while it has the keyboard focus, and the wheel never gives
// it the focus: a wheel notch over an unfocused list scrolls its window, not
// its choice (a new choice closes the port).
// Assistive technology gets Qt's own interface of a drop-down list: on Linux
// it is named by its choice ("COM1") as AT-SPI's lists are, labelled by its
// caption (the label's buddy), and its items are its children.
class DropDownList : public QComboBox {
    Q_OBJECT
public:
    explicit DropDownList(QWidget* parent);

protected:
    void wheelEvent(QWheelEvent* event) override;
};

class PortListBox : public DropDownList {
public:
    explicit PortListBox(QWidget* parent);

    // Resolves the mapping now and puts each name's detail on its item.
    void RefreshDetails();
    // What the dropped-down list shows for a row: the name, then the detail.
    QString PopupText(int row) const;

    void showPopup() override;

protected:
    bool event(QEvent* event) override;
};

}  // namespace vantrel
