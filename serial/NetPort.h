// SPDX-License-Identifier: GPL-3.0-or-later
// Serial ports that a server offers on the network, behind the same open,
// write and close as a local device:
//   rfc2217://HOST:PORT  telnet with the COM-PORT-OPTION (RFC 2217): the line
//                        settings are made through it
//   socket://HOST:PORT   raw TCP: the bytes only, the line as the server has it
// The protocol is the gensio library's (the library ser2net is built on).
#pragma once

#include "serial/SerialLink.h"

#include <memory>
#include <string>
#include <string_view>

namespace vantrel {

// The longest an open may take: connecting and agreeing the line settings.
inline constexpr int NetOpenBoundMs = 3000;

// The kind of network port a name's scheme says, in any case ("RFC2217://"
// too): the one rule of the open, the listing and the port mapping.
enum class NetScheme { None, Rfc2217, Socket };
NetScheme SchemeOf(std::string_view device);
// The length of the scheme's "rfc2217://" or "socket://".
std::size_t SchemeLength(NetScheme scheme);

bool IsNetworkPort(const std::string& device);

// Why OpenNetworkPort refuses `url` before it connects (a malformed address,
// or no network ports in this build); empty when it would try. A dry run
// checks a name with it, as the open does.
std::string NetworkPortRefusal(const std::string& url);

// Connects and, for rfc2217, sets `baud`, 8 data bits, no parity and 1 stop
// bit; flow control and the modem lines stay as the server has them. A
// refused, silent or unknown server fails as NoDevice; a server that ends the
// connection at once as Busy when it says its port is in use, otherwise as
// Other, with words that say which, in the server's own where it gave some.
PortResult OpenNetworkPort(const std::string& url, int baud, std::unique_ptr<Port>& port);

}  // namespace vantrel
