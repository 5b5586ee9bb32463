// SPDX-License-Identifier: GPL-3.0-or-later
// `vantrel send`: every action of the panel from a script, through the same
// frame builders and the same link as the buttons. No window system.
#pragma once

namespace vantrel {

// argv[0] is "send". Exit status: 0 every write went out, 1 a write failed,
// 2 a usage error, 3 the port could not be opened. Standard output is left
// for the caller to flush (and to fail on).
int RunSend(int argc, char** argv);

}  // namespace vantrel
