// SPDX-License-Identifier: GPL-3.0-or-later
// What the programs with a window ask of the platform's desktop
// (posix/Desktop.cpp, windows/Desktop.cpp).
#pragma once

namespace vantrel {

// Whether a window can be shown: a display server, or a platform of the
// toolkit's own (offscreen) chosen. Windows always has its desktop.
bool HasDisplayServer(int argc, char** argv);

// Libraries loaded at run time (the toolkit's plugins and what they load, the
// system's own helpers) come from the program's folder or the system's, never
// from the working folder or PATH. Where the system's loader already keeps to
// that (POSIX: no program carries a search path), nothing is done.
void RestrictLibrarySearch();

// Whether the toolkit's own translations lie beside the program alone (its
// libraries are beside it, as on Windows), or also in the toolkit's folder.
bool ToolkitTextsBesideProgramOnly();

}  // namespace vantrel
