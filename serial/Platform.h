// SPDX-License-Identifier: GPL-3.0-or-later
// What the portable core asks of each platform. posix/ and windows/ each
// define all of it; CMake builds one of them.
#pragma once

#include "serial/PortMap.h"

#include <string>

namespace vantrel {

enum class Platform { Posix, Windows };
// The platform this program was built for.
extern const Platform ThisPlatform;

// Held while a port opens, around any platform's or network port's open:
// what the platform needs so that a new port's handle cannot be taken for
// something else (on POSIX, descriptors 0 to 2).
class OpeningScope {
public:
    OpeningScope();
    ~OpeningScope();
    OpeningScope(const OpeningScope&) = delete;
    OpeningScope& operator=(const OpeningScope&) = delete;

private:
    int held_[3] = {};
    int count_ = 0;
};

// A variable of the process's environment as UTF-8; empty when it is unset.
std::string EnvironmentValue(const char* name);

// The port lookups that both platforms share (serial/PortDiscovery.cpp).
// Each distinct complaint once per run, said (SerialLink.h's Say).
void ComplainOnce(const std::string& message);
// COMn from $VANTREL_COMn, and from the user's mapping file.
PortNameMap EnvironmentMap();
PortNameMap FileMap();

}  // namespace vantrel
