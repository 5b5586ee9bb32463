// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the small text files that users write by hand (the port mapping, the
// virtual display's state). Only a regular file is read: a named pipe would
// block the reader for ever and a device such as /dev/zero never ends. And
// only up to a limit, so a huge file costs nothing but a refusal.
#pragma once

#include <cstddef>
#include <string>

namespace vantrel {

struct SmallFile {
    bool exists = false;  // false: nothing at the path (or a folder on it missing)
    std::string text;     // the whole file, when `problem` is empty
    std::string problem;  // why it was not read: "not a regular file", "Permission denied", ...
};

// Looks at `path` without opening anything but a regular file, then reads it
// whole when it holds at most `limit` bytes.
SmallFile ReadSmallFile(const std::string& path, std::size_t limit);

}  // namespace vantrel
