// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel: answers --help, --version, --list-ports and `send` itself, with no
// window toolkit loaded; a plain start becomes the panel (vantrel-panel), in
// this same process, with the same arguments.
#include "app/CommandLine.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The panel program: beside this one (a build), or where the installation puts it.
std::string PanelProgram() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self);
    std::string dir(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    dir.erase(dir.rfind('/') + 1);  // the folder, with its slash; nothing when there is none
    const std::string beside = dir + "vantrel-panel";
    return access(beside.c_str(), X_OK) == 0 ? beside : dir + VANTREL_PANEL_INSTALLED;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = vantrel::RunCommandLine(argc, argv)) return *status;
    const std::string panel = PanelProgram();
    execv(panel.c_str(), argv);
    std::fprintf(stderr, "vantrel: cannot start the panel %s: %s\n", panel.c_str(), std::strerror(errno));
    return 1;
}
