// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PanelApp.h"

int main(int argc, char** argv) { return vantrel::CPanelApp().InitInstance(argc, argv); }
