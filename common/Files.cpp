// SPDX-License-Identifier: GPL-3.0-or-later
// The part of Files.h that both platforms' C libraries do alike.
#include "common/Files.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

std::FILE* RegularOnly(std::FILE* file, std::string& problem) {
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

std::string WriteAll(int fd, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const auto n = ::write(fd, bytes.data() + done, static_cast<unsigned>(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? std::strerror(errno) : "nothing written";
        done += static_cast<std::size_t>(n);
    }
    return {};
}

void CloseFile(int fd) { ::close(fd); }

}  // namespace vantrel
