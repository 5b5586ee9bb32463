// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FieldEdit.h"

#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>

namespace vantrel {

namespace {

bool IsControl(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u < 0xA0);
}

// Sees every user edit as the whole new text with the cursor behind the
// inserted part, and shapes it: control characters out, then the inserted
// part cut from its end until the text fits.
class FieldRules : public QValidator {
public:
    explicit FieldRules(FieldEdit* field) : QValidator(field), field_(field) {}
    State validate(QString& input, int& pos) const override {
        if (field_->SettingProgramText()) return Acceptable;
        for (int i = input.size() - 1; i >= 0; --i) {
            if (!IsControl(input[i])) continue;
            input.remove(i, 1);
            if (i < pos) --pos;
        }
        // Only what this edit added is cut; what the field held stays.
        qsizetype added = input.size() - field_->AcceptedText().size();
        if (added <= 0) return Acceptable;
        while (!field_->Fits(input) && added > 0 && pos > 0) {
            input.remove(--pos, 1);
            --added;
            if (added > 0 && pos > 0 && input[pos - 1].isHighSurrogate()) {
                input.remove(--pos, 1);
                --added;
            }
        }
        return field_->Fits(input) ? Acceptable : Invalid;
    }

private:
    FieldEdit* field_;
};

}  // namespace

FieldEdit::FieldEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(new FieldRules(this));
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { accepted_ = text; });
}

void FieldEdit::SetProgramText(const QString& text) {
    settingProgramText_ = true;
    setText(text);
    settingProgramText_ = false;
}

bool FieldEdit::Fits(const QString& text) const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    QRect inside = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    inside = inside.marginsRemoved(textMargins());
    const int horizontalMargin = 2;  // QLineEdit's own margin on each side of the text
    return QFontMetrics(font()).horizontalAdvance(text) <= inside.width() - 2 * horizontalMargin;
}

}  // namespace vantrel
