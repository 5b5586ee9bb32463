#pragma once

#include <QLineEdit>

namespace vantrel {

// A display-line field without horizontal scrolling: typing or pasting stops
// when the text would no longer fit the visible width.
class FieldEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit FieldEdit(QWidget* parent = nullptr);
    // Whether `text` fits the visible width in the field's font.
    bool Fits(const QString& text) const;
};

}  // namespace vantrel
