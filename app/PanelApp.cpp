// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PanelApp.h"

#include "app/PanelDlg.h"

#include <QApplication>

namespace vantrel {

int CPanelApp::InitInstance(int argc, char** argv) {
    QApplication app(argc, argv);
    CPanelDlg panel;
    panel.exec();
    return 0;
}

}  // namespace vantrel
