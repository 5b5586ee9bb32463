// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-panel: the panel's window, started by `vantrel` for a plain start.
#include "app/PanelApp.h"

int main(int argc, char** argv) { return vantrel::CPanelApp().InitInstance(argc, argv); }
