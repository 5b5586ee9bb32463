// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/WriteNames.h"

#include "common/ControlCharacters.h"

#include <cstdio>

namespace vantrel {

Text WriteResultText(WriteResult result) {
    switch (result) {
    case WriteResult::DeviceGone: return Text::WriteGoneReason;
    case WriteResult::Stalled: return Text::WriteStalledReason;
    case WriteResult::ConnectionDropped: return Text::WriteDroppedReason;
    case WriteResult::NotTaken: return Text::WriteNotTakenReason;
    case WriteResult::Ok:
    case WriteResult::NotOpen: break;
    }
    return Text::WriteNotOpenReason;
}

std::string SourceWords(const WriteSource& source, int language, const char* fallback) {
    if (source.controlId == 1095) return TextIn(CharTestLabel(source.number), language);
    std::string name = fallback;
    for (const LabelRow& row : LabelTable)
        if (row.controlId == source.controlId) name = TextIn(row.text, language);
    if (source.option) return name + ": " + source.option;
    if (source.number < 0) return name;
    // "%1 pattern %2"
    std::string pattern = TextIn(Text::LogPattern, language);
    pattern.replace(pattern.find("%1"), 2, name);
    return pattern.replace(pattern.find("%2"), 2, std::to_string(source.number));
}

std::string HexBytes(const std::string& bytes) {
    std::string s;
    s.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        char h[4];
        std::snprintf(h, sizeof h, "%s%02X", s.empty() ? "" : " ", static_cast<std::uint8_t>(c));
        s += h;
    }
    return s;
}

void PrintWriteFailure(const char* port, WriteResult why, std::uint32_t bytes) {
    std::fprintf(stderr, "vantrel: write to %s failed: %s\n", Escaped(port).c_str(), DescribeWriteResult(why, bytes).c_str());
}

void PrintWriteFailure(const char* port, const LoggedWrite& row, const std::string& write) {
    std::string why = DescribeWriteResult(row.result, row.notTaken) + "; the write that failed: " + write;
    if (row.earlierRows)
        why += "; the " + std::to_string(row.earlierRows) + " writes before it may have been discarded with it from the output queue";
    std::fprintf(stderr, "vantrel: write to %s failed: %s\n", Escaped(port).c_str(), why.c_str());
}

}  // namespace vantrel
