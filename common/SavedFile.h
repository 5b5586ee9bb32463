// SPDX-License-Identifier: GPL-3.0-or-later
// Small files that a program saves again and again (the virtual display's
// state): each save is a new file beside the old one, renamed over it, so a
// reader never sees half of one. Where it is kept and whether a save may
// replace it are told before it is first used. Each platform's
// (posix/SavedFile.cpp, windows/SavedFile.cpp).
#pragma once

#include <string>

namespace vantrel {

// Writes `text` to `path` atomically: a new file of a name of its own beside
// it (never through a link), then a rename over it; a file that was there
// keeps its mode and owner. Only nothing or a regular file at `path` is
// replaced. Empty when it worked, else why not.
std::string ReplaceSavedFile(const std::string& path, const std::string& text);

// Where a file at `path` is saved: `path`, or the file that a symbolic link
// there names, so that the link stays. `problem` says why no file can be
// saved there (a link to nothing, a folder that takes no new file).
struct SavePlace {
    std::string path;
    std::string problem;
};
SavePlace SavePlaceOf(const std::string& path);

// Why a save could not replace the file at `path` as it stands (read-only,
// more than one hard link, another user's); empty when it could.
std::string Unsaveable(const std::string& path);

}  // namespace vantrel
