// SPDX-License-Identifier: GPL-3.0-or-later
// NetPort.h on Windows: the network library has no Windows build here, so a
// network port is recognised and refused in so many words; `vantrel send`
// exits 3 as for any port that cannot be opened.
#include "serial/NetPort.h"

namespace vantrel {

std::string NetworkPortRefusal(const std::string&) { return "network ports are not available in this build"; }

PortResult OpenNetworkPort(const std::string& url, int, std::unique_ptr<Port>& port) {
    port.reset();
    return {PortError::Other, NetworkPortRefusal(url)};
}

}  // namespace vantrel
