// SPDX-License-Identifier: GPL-3.0-or-later
// NetPort.h on Windows: the network library has no Windows build here, so a
// network port is recognised and refused in so many words; `vantrel send`
// exits 3 as for any port that cannot be opened.
#include "serial/NetPort.h"

namespace vantrel {

std::string NetworkPortRefusal(const std::string&) { return "network ports are not available in this build"; }

std::unique_ptr<LinkPort> OpenNetworkPort(const std::string& url, int, OpenFailure& failure, std::string& detail) {
    failure = OpenFailure::Other;
    detail = NetworkPortRefusal(url);
    return nullptr;
}

}  // namespace vantrel
