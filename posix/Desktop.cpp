// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Desktop.h"

#include <cstdlib>
#include <cstring>

namespace vantrel {

bool HasDisplayServer(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-platform")) return true;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0 && std::strncmp(platform, "wayland", 7) != 0)
        return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

void RestrictLibrarySearch() {}

bool ToolkitTextsBesideProgramOnly() { return false; }

}  // namespace vantrel
