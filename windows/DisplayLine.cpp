// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual display's platform part on Windows. There is no pseudo-terminal
// to be a display's own line: the bytes come from a COM port or a recording
// (VirtualDisplay::ExternalLine). A manual-reset event is set while read bytes
// wait to be taken, for the window (QWinEventNotifier) and the headless loop.
// The state file is written as on POSIX: a new file of a name of its own
// beside it, then moved over it.
#include "virtual-display/VirtualDisplay.h"

#include "common/SmallFile.h"
#include "virtual-display/Ranking.h"
#include "windows/Wide.h"

#include <stdexcept>
#include <windows.h>

namespace vantrel::display {

VirtualDisplay::VirtualDisplay(ExternalLine) {
    readyEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!readyEvent_) throw std::runtime_error("cannot make an event: " + windows::ErrorText(GetLastError()));
}

VirtualDisplay::~VirtualDisplay() {
    EndDeliveries();
    CloseHandle(readyEvent_);
}

void VirtualDisplay::SetReady() { SetEvent(readyEvent_); }

void VirtualDisplay::ClearReady() { ResetEvent(readyEvent_); }

bool VirtualDisplay::WaitReady(int ms) const {
    return WaitForSingleObject(readyEvent_, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

std::string WriteState(const std::string& path, const std::string& text) {
    const std::wstring wide = windows::Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return "not a regular file";
    // A name of its own for every save, made new, so two displays sharing the
    // file never meet in it.
    std::wstring temporary;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (unsigned n = 0; h == INVALID_HANDLE_VALUE && n < 100; ++n) {
        temporary = wide + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n);
        h = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (h == INVALID_HANDLE_VALUE) return windows::ErrorText(GetLastError());
    DWORD error = 0, wrote = 0;
    if (!WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr)) error = GetLastError();
    else if (wrote != text.size()) error = ERROR_DISK_FULL;
    if (!error && !FlushFileBuffers(h)) error = GetLastError();
    CloseHandle(h);
    if (!error && !MoveFileExW(temporary.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error) DeleteFileW(temporary.c_str());
    return error ? windows::ErrorText(error) : "";
}

std::optional<std::string> LoadSetup(const std::string& path, DisplayModel& model) {
    const SmallFile file = ReadSmallFile(path, StateFileLimit);
    if (!file.exists) return path;  // a first start
    if (!file.problem.empty()) {
        RefuseState(path, "cannot be used", file.problem);
        return std::nullopt;
    }
    // A file the user made read-only stays as it is.
    if (GetFileAttributesW(windows::Wide(path).c_str()) & FILE_ATTRIBUTE_READONLY) {
        RefuseState(path, "cannot be used", "read-only");
        return std::nullopt;
    }
    std::string error;
    if (!ParseSetup(file.text, model, error)) {
        RefuseState(path, "damaged state file", error);
        return std::nullopt;
    }
    return path;
}

}  // namespace vantrel::display
