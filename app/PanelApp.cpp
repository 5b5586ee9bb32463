// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PanelApp.h"

#include "app/PanelDlg.h"
#include "cli/CommandLine.h"

#include <QApplication>
#ifdef _WIN32
#include <windows.h>
#endif

namespace vantrel {

int CPanelApp::InitInstance(int argc, char** argv) {
#ifdef _WIN32
    // A library loaded at run time (Qt's plugins and what they load, Windows'
    // own helpers) comes from the program's folder or Windows' own, never from
    // the working folder or PATH.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
#endif
    QApplication app(argc, argv);
    CPanelDlg panel;
    panel.exec();
    return 0;
}

}  // namespace vantrel
