// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vantrel {

// The application: shows the panel modally; the program ends when it closes.
class CPanelApp {
public:
    int InitInstance(int argc, char** argv);
};

}  // namespace vantrel
