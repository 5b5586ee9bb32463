// SPDX-License-Identifier: GPL-3.0-or-later
// Windows speaks UTF-16; the program's strings are UTF-8. Every crossing goes
// through these two.
#pragma once

#include <string>
#include <string_view>

namespace vantrel::windows {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The system's words for an error code (FormatMessageW), without the final newline.
std::string ErrorText(unsigned long error);

// A variable of the process's environment as UTF-8 (_wgetenv: the narrow one
// is in the ANSI code page); empty when it is not set.
std::string Environment(const char* name);

}  // namespace vantrel::windows
