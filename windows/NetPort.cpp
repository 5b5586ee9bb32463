// SPDX-License-Identifier: GPL-3.0-or-later
// NetPort.h on Windows: the network library has no Windows build here, so a
// network port is recognised and refused in so many words; `vantrel send`
// exits 3 as for any port that cannot be opened.
#include "serial/NetPort.h"

namespace vantrel {

std::unique_ptr<LinkPort> OpenNetworkPort(const std::string&, int, OpenFailure& failure, std::string& detail) {
    failure = OpenFailure::Other;
    detail = "network ports are not available in this build";
    return nullptr;
}

}  // namespace vantrel
