// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel.exe: answers --help, --version, --list-ports and `send` itself, as
// a console program; a plain start runs the panel (vantrel-panel.exe beside
// it, a program without a console) with the same arguments, waits for it and
// ends with its exit status.
#include "cli/CommandLine.h"
#include "windows/Wide.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>

namespace {

// What follows the program's own name in the command line, exactly as typed:
// the panel gets its arguments without a second round of quoting.
const wchar_t* ArgumentsOf(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    return line;
}

int StartPanel() {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (n < self.size()) {
            self.resize(n);
            break;
        }
        self.resize(self.size() * 2);
    }
    const std::wstring panel = self.substr(0, self.find_last_of(L"\\/") + 1) + L"vantrel-panel.exe";
    std::wstring command = L"\"" + panel + L"\"" + ArgumentsOf(GetCommandLineW());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(panel.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "vantrel: cannot start the panel %s: %s\n", vantrel::windows::Utf8(panel).c_str(),
                     vantrel::windows::ErrorText(error).c_str());
        return 1;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t** wargv) {
    // A library loaded at run time comes from the program's folder or
    // Windows' own, never from the working folder or PATH.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    // The program's text is UTF-8: so is the console's while it runs.
    const UINT consoleOutput = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    vantrel::windows::Utf8Arguments arguments(argc, wargv);
    char** argv = arguments.Argv();
    // "vantrel /?" asks for the help, as Windows' own programs take it.
    static char help[] = "--help";
    if (argc > 1 && !std::strcmp(argv[1], "/?")) argv[1] = help;
    const auto answered = vantrel::RunCommandLine(argc, argv);
    std::fflush(stdout);
    const int status = answered ? *answered : StartPanel();
    if (consoleOutput) SetConsoleOutputCP(consoleOutput);
    return status;
}
