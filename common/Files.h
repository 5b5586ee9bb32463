// SPDX-License-Identifier: GPL-3.0-or-later
// The files a program writes as it goes and reads back whole (a line's
// recordings), by their UTF-8 names on every system. They are binary: their
// lines end in LF alone, so that a file made on one system reads on another.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace vantrel {

// Opens a regular file to read. Null, with `problem` saying why ("not a
// regular file", the system's words), when it cannot.
std::FILE* OpenToRead(const std::string& path, std::string& problem);
// OpenToRead's check of what an open gave: `file` when it is a regular file;
// else it is closed and null given, with `problem` saying why (null: errno's).
std::FILE* RegularOnly(std::FILE* file, std::string& problem);

// A file made to be written.
struct NewFile {
    int fd = -1;          // -1: not made
    bool exists = false;  // not made because a file is there and may not be replaced
    // Not made otherwise: why ("a folder, not a regular file", "not a regular
    // file", FileBusy, the system's words).
    std::string problem;
};

// Why a file is not made: another program (another display's recording) is writing it.
inline constexpr const char* FileBusy = "busy: another program is writing it";

// Makes the file at `path` to write, the runtime's descriptor, and holds it
// for this program alone until it is closed: a second writer is refused as
// FileBusy (POSIX: a lock that every writer through here takes; Windows: no
// write or delete sharing). One that is there already is replaced only with
// `replace`, only a regular file (never a device, a named pipe or, on Windows,
// a device alias such as COM5.rec or CON), and emptied only once it is held;
// without `replace`, not even a symbolic link is followed.
NewFile MakeToWrite(const std::string& path, bool replace);

// Writes all of `bytes`, again where a write is interrupted. Empty, or why
// not all were written (the system's words, "nothing written").
std::string WriteAll(int fd, std::string_view bytes);
void CloseFile(int fd);

// Removes the file at `path`, when it can.
void RemoveFile(const std::string& path);

// A time in the fields of the calendar, in UTC.
std::tm UtcTime(std::time_t time);

}  // namespace vantrel
