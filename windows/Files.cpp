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
    if (!file) {
        problem = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(file);
        problem = "not a regular file";
        return nullptr;
    }
    return file;
}

NewFile MakeToWrite(const std::string& path, bool replace) {
    NewFile file;
    // A folder is said as what it is: no file that --force could replace.
    struct _stat64 st {};
    if (_wstat64(windows::Wide(path).c_str(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR) {
        file.problem = "a folder, not a regular file";
        return file;
    }
    file.fd = _wopen(windows::Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | (replace ? _O_TRUNC : _O_EXCL),
                     _S_IREAD | _S_IWRITE);
    if (file.fd < 0) {
        file.exists = errno == EEXIST;
        file.problem = std::strerror(errno);
    }
    return file;
}

std::string WriteAll(int fd, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? std::strerror(errno) : "nothing written";
        done += static_cast<std::size_t>(n);
    }
    return {};
}

void CloseFile(int fd) { ::close(fd); }

void RemoveFile(const std::string& path) { _wunlink(windows::Wide(path).c_str()); }

std::tm UtcTime(std::time_t time) {
    std::tm utc{};
    gmtime_s(&utc, &time);
    return utc;
}

}  // namespace vantrel
