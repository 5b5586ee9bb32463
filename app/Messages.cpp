// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Messages.h"

#include <QApplication>
#include <QMessageBox>

namespace vantrel {

unsigned char UiLanguage = 0;

namespace {

void ShowMessageBox(const QString& text, const QString& informative) {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(informative);
    box.exec();
}

MessageFunction& Current() {
    static MessageFunction function = ShowMessageBox;
    return function;
}

}  // namespace

MessageFunction SetMessageFunction(MessageFunction function) {
    std::swap(Current(), function);
    return function;
}

void AfxMessageBox(const QString& text, const QString& informative) {
    if (Current()) Current()(text, informative);
}

QString Tr(Text text) { return QString::fromUtf8(TextIn(text, UiLanguage)); }

void ShowMessage(Text message, const QString& informative) { AfxMessageBox(Tr(message), informative); }

}  // namespace vantrel
