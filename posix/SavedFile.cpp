// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/SavedFile.h"

#include "posix/Posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

std::string ReplaceSavedFile(const std::string& path, const std::string& text) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return "not a regular file";
    // A name of its own for every save (O_EXCL: never through a link that is
    // there already), so two programs sharing the file never meet in it.
    int fd = -1;
    const std::string temporary = posix::MakeBeside(path, [&fd](const std::string& name) {
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        return fd >= 0;
    });
    if (fd < 0) return std::strerror(errno);
    int error = 0;
    // The file as it was: its mode and owner stay.
    const bool existing = lstat(path.c_str(), &st) == 0;
    if (fchmod(fd, existing ? st.st_mode & 07777 : 0644) != 0) error = errno;
    if (!error && existing && (st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, st.st_uid, st.st_gid) != 0)
        error = errno;
    if (!error) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n != static_cast<ssize_t>(text.size())) error = n < 0 ? errno : ENOSPC;
    }
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error) std::remove(temporary.c_str());
    return error ? std::strerror(error) : "";
}

SavePlace SavePlaceOf(const std::string& path) {
    SavePlace place{path, {}};
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Saved into the file the link names: the link stays a link.
        char* resolved = realpath(path.c_str(), nullptr);
        if (!resolved) {
            place.problem = errno == ENOENT ? "a symbolic link to nothing" : std::strerror(errno);
            return place;
        }
        place.path = resolved;
        std::free(resolved);
    }
    // Saved by a rename beside it: the folder must take a new file.
    const auto slash = place.path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : place.path.substr(0, slash);
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        place.problem = "its folder: " + std::string(std::strerror(errno));
    return place;
}

std::string Unsaveable(const std::string& path) {
    // A file the user made read-only (also to root), one that a new file of the
    // same name would split from its other names, or one whose owner a save
    // could not keep.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 ||
        !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        return "read-only";
    if (st.st_nlink > 1) return "more than one hard link";
    if (geteuid() != 0 && st.st_uid != geteuid()) return "owned by another user";
    return {};
}

}  // namespace vantrel
