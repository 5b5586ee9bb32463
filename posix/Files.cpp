// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

std::FILE* OpenToRead(const std::string& path, std::string& problem) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        problem = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(file);
        problem = "not a regular file";
        return nullptr;
    }
    return file;
}

NewFile MakeToWrite(const std::string& path, bool replace) {
    NewFile file;
    // Only a regular file is replaced: a named pipe would hold the writer
    // until something reads it, a device is no file to fill.
    // A folder, or anything else but a regular file (a link not followed
    // aside), is said as what it is: no file that --force could replace.
    const auto notAFile = [&path](bool follow) -> const char* {
        struct stat st {};
        if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0 || S_ISREG(st.st_mode) ||
            (!follow && S_ISLNK(st.st_mode)))
            return nullptr;
        return S_ISDIR(st.st_mode) ? "a folder, not a regular file" : "not a regular file";
    };
    if (const char* what = replace ? notAFile(true) : nullptr) {
        file.problem = what;
        return file;
    }
    file.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL | O_NOFOLLOW), 0644);
    if (file.fd < 0) {
        const int error = errno;
        const char* what = error == EEXIST ? notAFile(false) : nullptr;
        file.exists = error == EEXIST && !what;
        file.problem = what ? what : std::strerror(error);
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

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::tm UtcTime(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    return utc;
}

}  // namespace vantrel
