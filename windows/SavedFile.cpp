// SPDX-License-Identifier: GPL-3.0-or-later
// SavedFile.h on Windows: a new file of a name of its own beside the old,
// then moved over it.
#include "common/SavedFile.h"

#include "windows/Wide.h"

#include <windows.h>

namespace vantrel {

std::string ReplaceSavedFile(const std::string& path, const std::string& text) {
    const std::wstring wide = windows::Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return "not a regular file";
    // A name of its own for every save, made new, so two programs sharing the
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

SavePlace SavePlaceOf(const std::string& path) { return {path, {}}; }

std::string Unsaveable(const std::string& path) {
    // A file the user made read-only stays as it is.
    return GetFileAttributesW(windows::Wide(path).c_str()) & FILE_ATTRIBUTE_READONLY ? "read-only" : "";
}

}  // namespace vantrel
