// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineEdit>

namespace vantrel {

// A display-line field without horizontal scrolling: typing stops when the
// visible width is full, and a paste keeps what fits. Control characters are
// never taken in, typed or pasted: on the line they would be display commands.
class FieldEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit FieldEdit(QWidget* parent = nullptr);
    // Whether `text` fits the visible width in the field's font.
    bool Fits(const QString& text) const;
    // Text set by the program (samples, the data exchange): shown exactly as
    // given, whether or not it fits.
    void SetProgramText(const QString& text);
    bool SettingProgramText() const { return settingProgramText_; }
    // The text before the edit being validated.
    const QString& AcceptedText() const { return accepted_; }

private:
    bool settingProgramText_ = false;
    QString accepted_;
};

}  // namespace vantrel
