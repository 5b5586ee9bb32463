// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vantrel {

// The application: shows the panel modally; the program ends when it closes.
class CPanelApp {
public:
    int InitInstance(int argc, char** argv);
};

// Qt's own texts (a message box's buttons, the Save dialog, an edit line's
// menu) in the panel's language: 1 Chinese, 0 English. Qt's Chinese
// translation comes from Qt's own folder, else from the folder "translations"
// beside the program; without one they stay English, said once on standard
// error, and the result is false.
bool UseQtTranslation(int language);

}  // namespace vantrel
