// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AboutDlg.h"

#include "app/DialogUnits.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace vantrel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setFont(DialogFont());
    setWindowTitle(QString::fromUtf8(AboutCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits du(font());
    setFixedSize(du.X(AboutWidth), du.Y(AboutHeight));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/vantrel-32.png")).pixmap(32, 32));
    icon->move(du.X(AboutIcon.x), du.Y(AboutIcon.y));
    icon->resize(32, 32);

    auto* text = new QLabel(QString::fromUtf8(AboutText.label.English()), this);
    text->setTextFormat(Qt::PlainText);
    text->setGeometry(du.Rect(AboutText));

    auto* ok = new QPushButton(QString::fromUtf8(AboutOk.label.English()), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setGeometry(du.Rect(AboutOk));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace vantrel
