// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel on POSIX systems: answers --help, --version, --list-ports and
// `send` itself, with no window toolkit loaded; a plain start becomes the
// panel (vantrel-panel), in this same process, with the same arguments.
#include "cli/CommandLine.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The panel program: beside this one (a build), or where the installation puts
// it. Without /proc this program's folder is unknown, and the installed path
// stands as it is: a path relative to the current folder would start whatever
// lies there. A panel that is there but can't be run is named as it is, so
// that starting it says why.
std::string PanelProgram() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self);
    const std::string path(self, n > 0 && n < static_cast<ssize_t>(sizeof self) ? static_cast<std::size_t>(n) : 0);
    if (path.empty() || path.front() != '/') return VANTREL_PANEL_INSTALLED_PATH;
    const std::string dir = path.substr(0, path.rfind('/') + 1);
    const std::string beside = dir + "vantrel-panel";
    return access(beside.c_str(), F_OK) == 0 ? beside : dir + VANTREL_PANEL_INSTALLED;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = vantrel::RunCommandLine(argc, argv)) return *status;
    const std::string panel = PanelProgram();
    execv(panel.c_str(), argv);
    std::fprintf(stderr, "vantrel: cannot start the panel %s: %s\n", panel.c_str(), std::strerror(errno));
    return 1;
}
