#include "app/FieldEdit.h"

#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>

namespace vantrel {

namespace {

class FitsWidth : public QValidator {
public:
    explicit FitsWidth(FieldEdit* field) : QValidator(field), field_(field) {}
    State validate(QString& input, int&) const override { return field_->Fits(input) ? Acceptable : Invalid; }

private:
    FieldEdit* field_;
};

}  // namespace

FieldEdit::FieldEdit(QWidget* parent) : QLineEdit(parent) { setValidator(new FitsWidth(this)); }

bool FieldEdit::Fits(const QString& text) const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    QRect inside = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    inside = inside.marginsRemoved(textMargins());
    const int horizontalMargin = 2;  // QLineEdit's own margin on each side of the text
    return QFontMetrics(font()).horizontalAdvance(text) <= inside.width() - 2 * horizontalMargin;
}

}  // namespace vantrel
