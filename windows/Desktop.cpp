// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Desktop.h"

#include <windows.h>

namespace vantrel {

bool HasDisplayServer(int, char**) { return true; }

void RestrictLibrarySearch() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS); }

// Qt's libraries lie beside the program, and so do their texts; Qt's own idea
// of its prefix is then the folder above the program's.
bool ToolkitTextsBesideProgramOnly() { return true; }

}  // namespace vantrel
