// SPDX-License-Identifier: GPL-3.0-or-later
// A wrong command line, told alike by every program.
#pragma once

#include <cstdio>
#include <string>

namespace vantrel {

// As GNU tools tell it: one line that says what is wrong, then where to look.
// The status to exit with, 2.
inline int UsageError(const char* program, const std::string& problem) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, problem.c_str(), program);
    return 2;
}

}  // namespace vantrel
