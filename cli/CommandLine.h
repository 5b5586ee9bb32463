// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's command line, answered before any window system is touched:
// --help, --version, --list-ports. A plain start has no options.
#pragma once

#include <optional>

namespace vantrel {

// The help's words that differ by platform: where the mapping file is, what
// a COM name opens when nothing maps it, and which ports --port takes.
struct PlatformHelp {
    const char* environment;
    const char* mappingFile;
    const char* fallback;
    const char* probeNetwork;  // what --probe does to a network port, if there are any
    const char* portNames;     // the rest of vantrel send's --port line
};
const PlatformHelp& ThisPlatformHelp();

// The exit status when the command line was answered here; nothing when the
// panel should start.
std::optional<int> RunCommandLine(int argc, char** argv);

}  // namespace vantrel
