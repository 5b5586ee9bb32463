// SPDX-License-Identifier: GPL-3.0-or-later
// Windows speaks UTF-16; the program's strings are UTF-8. Every crossing goes
// through these two.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel::windows {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The system's words for an error code (FormatMessageW), without the final newline.
std::string ErrorText(unsigned long error);

// A variable of the process's environment as UTF-8 (_wgetenv: the narrow one
// is in the ANSI code page); empty when it is not set.
std::string Environment(const char* name);

// A program's UTF-16 command line (wmain's) as UTF-8, for a main that takes
// char**: Argv() points into the object, null-terminated.
class Utf8Arguments {
public:
    Utf8Arguments(int argc, wchar_t** wargv);
    char** Argv() { return argv_.data(); }

private:
    std::vector<std::string> args_;
    std::vector<char*> argv_;
};

}  // namespace vantrel::windows
