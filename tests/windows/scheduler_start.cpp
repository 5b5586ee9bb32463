// SPDX-License-Identifier: GPL-3.0-or-later
// Starts a program as schedulers and test runners do: no console window
// (CREATE_NO_WINDOW), its standard input a pipe that stays open and never
// says anything, its output and errors this program's, and a time limit.
//   scheduler_start MS PROGRAM [ARGUMENT...]
// Ends with the program's exit status, or 124 (the program is ended) when it
// has not ended within MS milliseconds.
#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

namespace {

// One argument as the C runtime splits a command line again.
std::wstring Quoted(const wchar_t* argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t* c = argument; *c; ++c) {
        if (*c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(*c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += *c;
    }
    return quoted.append(2 * backslashes, L'\\') + L"\"";
}

HANDLE Inherited(HANDLE handle) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS);
    return copy;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: scheduler_start MS PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    std::wstring command;
    for (int i = 2; i < argc; ++i) command += (i > 2 ? L" " : L"") + Quoted(argv[i]);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE input = nullptr, silent = nullptr;  // the program reads `input`; `silent` is never written
    if (!CreatePipe(&input, &silent, &inherit, 0)) return 3;
    SetHandleInformation(silent, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = Inherited(GetStdHandle(STD_OUTPUT_HANDLE));
    startup.hStdError = Inherited(GetStdHandle(STD_ERROR_HANDLE));
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[2], command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "scheduler_start: cannot start the program (error %lu)\n", GetLastError());
        return 3;
    }
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10))) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 124);
        std::fputs("scheduler_start: the program did not end in time\n", stderr);
        return 124;
    }
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
