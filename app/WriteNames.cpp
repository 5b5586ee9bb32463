// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WriteNames.h"

namespace vantrel {

Text WriteResultText(WriteResult result) {
    switch (result) {
    case WriteResult::DeviceGone: return Text::WriteGoneReason;
    case WriteResult::Stalled: return Text::WriteStalledReason;
    case WriteResult::ConnectionDropped: return Text::WriteDroppedReason;
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

}  // namespace vantrel
