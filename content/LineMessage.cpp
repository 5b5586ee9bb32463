// SPDX-License-Identifier: GPL-3.0-or-later
#include "content/LineMessage.h"

#include "commands/CommandFrames.h"
#include "serial/SerialLink.h"

#include <algorithm>

namespace vantrel {

unsigned char SampleTextIndex = 0;

void BuildLineFrame(std::u16string_view line, PanelCodePage codePage, std::uint8_t* out) {
    std::fill_n(out, LineFrameLength, ' ');
    EncodeText(line, codePage, out, LineFrameLength);
}

void SendTwoLines(std::u16string_view line1, std::u16string_view line2, PanelCodePage codePage) {
    TxBuffer[0] = ClearByte;
    WriteFrame(1);
    BuildLineFrame(line1, codePage, TxBuffer.data());
    WriteFrame(LineFrameLength);
    BuildLineFrame(line2, codePage, TxBuffer.data());
    SendFrame(LineFrameLength);
}

bool WriteTwoLines(std::u16string_view line1, std::u16string_view line2, PanelCodePage codePage) {
    TxBuffer[0] = ClearByte;
    if (!WriteFrame(1)) return false;
    BuildLineFrame(line1, codePage, TxBuffer.data());
    if (!WriteFrame(LineFrameLength)) return false;
    BuildLineFrame(line2, codePage, TxBuffer.data());
    return WriteFrame(LineFrameLength);
}

}  // namespace vantrel
