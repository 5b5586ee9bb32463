// SPDX-License-Identifier: GPL-3.0-or-later
// Every modal message of the program goes through AfxMessageBox: an OK-only box
// captioned with the program's name. Tests replace the function so that no
// test ever blocks on a real box.
#pragma once

#include "resources/Texts.h"

#include <QString>
#include <functional>

namespace vantrel {

// 0 English, 1 Chinese. Interface thread only.
extern unsigned char UiLanguage;

// `informative` is the smaller text under the message (empty: none).
using MessageFunction = std::function<void(const QString& text, const QString& informative)>;

// Installs the function that shows a message; returns the one it replaces.
MessageFunction SetMessageFunction(MessageFunction function);

void AfxMessageBox(const QString& text, const QString& informative = {});

// The text in the current interface language.
QString Tr(Text text);

// One of the two messages, in the current interface language.
void ShowMessage(Text message, const QString& informative = {});

}  // namespace vantrel
