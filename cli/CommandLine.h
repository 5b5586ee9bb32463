// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's command line, answered before any window system is touched:
// --help, --version, --list-ports. A plain start has no options.
#pragma once

#include <optional>

namespace vantrel {

// The exit status when the command line was answered here; nothing when the
// panel should start.
std::optional<int> RunCommandLine(int argc, char** argv);

}  // namespace vantrel
