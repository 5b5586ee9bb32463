// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the port mapping file's parser, as a user writes the file by
// hand. Every mapped device comes from one whole line, every complaint names
// the file and a line, and the parser never keeps more than the file held.
#include "serial/PortMap.h"
#include "serial/Platform.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > MappingFileLimit) return 0;  // the reader refuses larger files before parsing
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t complaints = 0;
    const PortNameMap map = ParseMappingFile(
        text, "ports.conf",
        [&](const std::string& message) {
            ++complaints;
            if (message.rfind("vantrel: ports.conf:", 0) != 0 || message.find('\n') != std::string::npos) std::abort();
        },
        ThisPlatform);
    std::size_t lines = 1;
    for (const char c : text) lines += c == '\n';
    if (complaints > lines) std::abort();
    for (const std::string& device : map) {
        if (device.size() > size) std::abort();
        for (const char c : device)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) std::abort();  // no control byte reaches a path
    }
    return 0;
}
