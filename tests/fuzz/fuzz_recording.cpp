// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the reader of the display's recordings, line by line as a file
// gives them. A line it takes is a chunk that writes back to a line it takes
// again, the same; one it refuses says why.
#include "recording/RecordingFile.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace vantrel::display;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    RecordingParser parser;
    RecordedChunk chunk;
    std::string error;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.size() > RecordingLineLimit) return 0;  // the file reader refuses it before parsing
        const auto result = parser.Line(line, chunk, error);
        if (result == RecordingParser::Result::Error) {
            if (error.empty()) std::abort();
            return 0;
        }
        if (result != RecordingParser::Result::Chunk) continue;
        if (chunk.bytes.size() > RecordedChunkLimit || (chunk.direction == 'S') != chunk.bytes.empty()) std::abort();
        // Written again and read by a parser past a header: the same chunk.
        RecordingParser again;
        RecordedChunk back;
        for (std::string_view head : {"vantrel-display recording 1", "program: p", "port: p", "speed: 9600", "emulation: e", ""})
            if (again.Line(head, back, error) != RecordingParser::Result::Ok) std::abort();
        const std::string written = RecordingLine(chunk.ms, chunk.direction, chunk.baud, chunk.bytes);
        if (again.Line(std::string_view(written).substr(0, written.size() - 1), back, error) != RecordingParser::Result::Chunk)
            std::abort();
        if (back.bytes != chunk.bytes || back.direction != chunk.direction || back.baud != chunk.baud ||
            std::fabs(back.ms - chunk.ms) > 0.001)
            std::abort();
    }
    return 0;
}
