// SPDX-License-Identifier: GPL-3.0-or-later
// SmallFile.h on Windows: the path is UTF-8, opened through its UTF-16 name;
// only a regular disk file is read.
#include "common/SmallFile.h"

#include "windows/Wide.h"

#include <windows.h>

namespace vantrel {

SmallFile ReadSmallFile(const std::string& path, std::size_t limit) {
    SmallFile file;
    const std::wstring wide = windows::Wide(path);
    // Looked at before it is opened: opening a serial device raises its modem lines.
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &attributes)) {
        const DWORD error = GetLastError();
        file.exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        if (file.exists) file.problem = windows::ErrorText(error);
        return file;
    }
    file.exists = true;
    if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        file.problem = "a folder, not a file";
        return file;
    }
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        file.problem = windows::ErrorText(GetLastError());
        return file;
    }
    const std::string tooLarge = limit % 1024 == 0 ? "larger than " + std::to_string(limit / 1024) + " KiB"
                                                   : "larger than " + std::to_string(limit) + " bytes";
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK) {
        file.problem = "not a regular file";
    } else if (!GetFileSizeEx(h, &size) || static_cast<unsigned long long>(size.QuadPart) > limit) {
        file.problem = tooLarge;
    } else {
        // Read to the end, but never past the limit: the file may grow meanwhile.
        char buf[4096];
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
                file.problem = windows::ErrorText(GetLastError());
                break;
            }
            if (n == 0) break;
            if (file.text.size() + n > limit) {
                file.problem = tooLarge;
                break;
            }
            file.text.append(buf, n);
        }
    }
    CloseHandle(h);
    if (!file.problem.empty()) file.text.clear();
    return file;
}

}  // namespace vantrel
