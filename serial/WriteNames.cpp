// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/WriteNames.h"

#include "common/ControlCharacters.h"
#include "resources/ControlTable.h"

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

std::string AccessibleControlName(int controlId, int language) {
    for (const AccessibleName& n : AccessibleNames) {
        if (n.controlId != controlId) continue;
        std::string name = TextIn(n.text, language);
        name.erase(0, name.find_first_not_of(' '));
        if (name.ends_with(':')) name.pop_back();
        return name;
    }
    return {};
}

std::string SourceWords(const WriteSource& source, int language, const char* fallback, bool whenSet) {
    if (source.controlId == 1095) return TextIn(CharTestLabel(source.number), language);
    std::string name = AccessibleControlName(source.controlId, language);
    if (name.empty()) name = fallback;
    for (const LabelRow& row : LabelTable)
        if (row.controlId == source.controlId)
            name = TextIn(whenSet && row.whenSet != Text::Count ? row.whenSet : row.text, language);
    if (source.option) return name + ": " + source.option;
    if (source.number < 0) return name;
    // "%1 pattern %2"
    std::string pattern = TextIn(Text::LogPattern, language);
    pattern.replace(pattern.find("%1"), 2, name);
    return pattern.replace(pattern.find("%2"), 2, std::to_string(source.number));
}

std::string EarlierDiscardWords(const LoggedWrite& row, int language) {
    if (!row.earlierRows && !row.earlierRuns) return {};
    if (!row.earlierRows) return TextIn(Text::EarlierRunsOnlyDiscarded, language);
    std::string words = TextIn(row.earlierRuns ? Text::EarlierRunsDiscarded : Text::EarlierRowsDiscarded, language);
    return words.replace(words.find("%1"), 2, std::to_string(row.earlierRows));
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

void SayWriteFailure(const char* port, WriteResult why, std::uint32_t bytes) {
    Say("vantrel: write to " + Shortened(port) + " failed: " + DescribeWriteResult(why, bytes));
}

void SayWriteFailure(const char* port, const LoggedWrite& row, const std::string& write) {
    std::string why = DescribeWriteResult(row.result, row.notTaken) + "; the write that failed: " + write;
    if (const std::string earlier = EarlierDiscardWords(row, 0); !earlier.empty()) why += "; " + earlier;
    Say("vantrel: write to " + Shortened(port) + " failed: " + why);
}

}  // namespace vantrel
