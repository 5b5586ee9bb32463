// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

std::FILE* OpenToRead(const std::string& path, std::string& problem) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    return RegularOnly(file, problem);
}

NewFile MakeToWrite(const std::string& path, bool replace) {
    NewFile file;
    // Only a regular file is replaced: a named pipe would hold the writer
    // until something reads it, a device is no file to fill.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        // Said as what it is: no file that --force could replace.
        file.problem = S_ISDIR(st.st_mode) ? "a folder, not a regular file" : "not a regular file";
        return file;
    }
    // Emptied only once it is held: a file that another display records to is left as it is.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? 0 : O_EXCL | O_NOFOLLOW), 0644);
    if (fd < 0) {
        file.exists = errno == EEXIST;
        file.problem = std::strerror(errno);
        return file;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        file.problem = errno == EWOULDBLOCK ? FileBusy : std::strerror(errno);
    } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        file.problem = "not a regular file";
    } else if (replace && ::ftruncate(fd, 0) != 0) {
        file.problem = std::strerror(errno);
    } else {
        file.fd = fd;
        return file;
    }
    ::close(fd);
    return file;
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::tm UtcTime(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    return utc;
}

}  // namespace vantrel
