// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/SmallFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

std::string Kind(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder, not a file";
    if (S_ISFIFO(mode)) return "a named pipe, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
    if (S_ISSOCK(mode)) return "a socket, not a regular file";
    return "not a regular file";
}

std::string TooLarge(std::size_t limit) {
    return limit % 1024 == 0 ? "larger than " + std::to_string(limit / 1024) + " KiB"
                             : "larger than " + std::to_string(limit) + " bytes";
}

}  // namespace

SmallFile ReadSmallFile(const std::string& path, std::size_t limit) {
    SmallFile file;
    struct stat st {};
    // Looked at before it is opened: opening a serial device raises its modem lines.
    if (::stat(path.c_str(), &st) != 0) {
        file.exists = errno != ENOENT;
        if (file.exists) file.problem = std::strerror(errno);
        return file;
    }
    file.exists = true;
    if (!S_ISREG(st.st_mode)) {
        file.problem = Kind(st.st_mode);
        return file;
    }
    // O_NONBLOCK: should the path have become a pipe since, the open does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        file.problem = std::strerror(errno);
        return file;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        file.problem = Kind(st.st_mode);
    } else if (static_cast<std::size_t>(st.st_size) > limit) {
        file.problem = TooLarge(limit);
    } else {
        // Read to the end, but never past the limit: the file may grow meanwhile.
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                file.problem = std::strerror(errno);
                break;
            }
            if (n == 0) break;
            if (file.text.size() + static_cast<std::size_t>(n) > limit) {
                file.problem = TooLarge(limit);
                break;
            }
            file.text.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (!file.problem.empty()) file.text.clear();
    return file;
}

}  // namespace vantrel
