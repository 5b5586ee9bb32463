// SPDX-License-Identifier: GPL-3.0-or-later
// Files.h on Windows: the C runtime's files, opened through their UTF-16
// names, binary so that a line never gains a CR.
#include "common/Files.h"

#include "windows/Wide.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace vantrel {

namespace {

// Whether Windows opens a device for `path`, not a file: a path in its device
// namespace (\\.\COM5, //./pipe/x) or a name it takes for a device alias
// (COM5, COM5.rec, AUX, NUL, CON, C:\folder\lpt1.txt), which it gives as
// \\.\NAME in full.
bool DeviceName(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    full.resize(n < full.size() ? n : 0);
    const auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    return full.size() >= 4 && slash(full[0]) && slash(full[1]) && (full[2] == L'.' || full[2] == L'?') && slash(full[3]);
}

}  // namespace

std::FILE* OpenToRead(const std::string& path, std::string& problem) {
    const std::wstring wide = windows::Wide(path);
    if (DeviceName(wide)) {
        problem = "not a regular file";
        return nullptr;
    }
    std::FILE* file = _wfopen(wide.c_str(), L"rb");
    return RegularOnly(file, problem);
}

NewFile MakeToWrite(const std::string& path, bool replace) {
    NewFile file;
    const std::wstring wide = windows::Wide(path);
    // A device is no file to fill: a serial port would carry the recording to the far end.
    if (DeviceName(wide)) {
        file.problem = "not a regular file";
        return file;
    }
    // A folder is said as what it is: no file that --force could replace.
    struct _stat64 st {};
    if (_wstat64(wide.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR) {
        file.problem = "a folder, not a regular file";
        return file;
    }
    // Others may read it meanwhile, but neither write it nor delete it.
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, replace ? OPEN_ALWAYS : CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        file.exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        file.problem = error == ERROR_SHARING_VIOLATION ? FileBusy : windows::ErrorText(error);
        return file;
    }
    // Emptied only once it is held and known to be a file on a disk.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        file.problem = "not a regular file";
    } else if (replace && !SetEndOfFile(h)) {
        file.problem = windows::ErrorText(GetLastError());
    } else if ((file.fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY)) < 0) {
        file.problem = std::strerror(errno);
    } else {
        return file;
    }
    CloseHandle(h);
    return file;
}

void RemoveFile(const std::string& path) { _wunlink(windows::Wide(path).c_str()); }

std::tm UtcTime(std::time_t time) {
    std::tm utc{};
    gmtime_s(&utc, &time);
    return utc;
}

}  // namespace vantrel
