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

namespace vantrel {

std::FILE* OpenToRead(const std::string& path, std::string& problem) {
    std::FILE* file = _wfopen(windows::Wide(path).c_str(), L"rb");
    return RegularOnly(file, problem);
}

NewFile MakeToWrite(const std::string& path, bool replace) {
    NewFile file;
    file.fd = _wopen(windows::Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | (replace ? _O_TRUNC : _O_EXCL),
                     _S_IREAD | _S_IWRITE);
    if (file.fd < 0) {
        file.exists = errno == EEXIST;
        file.problem = std::strerror(errno);
    }
    return file;
}

void RemoveFile(const std::string& path) { _wunlink(windows::Wide(path).c_str()); }

std::tm UtcTime(std::time_t time) {
    std::tm utc{};
    gmtime_s(&utc, &time);
    return utc;
}

}  // namespace vantrel
