// SPDX-License-Identifier: GPL-3.0-or-later
#include "content/CharTest.h"

#include "commands/CommandFrames.h"
#include "serial/SerialLink.h"

namespace vantrel {

unsigned char CharTestPage = 0;

void BuildCharTestFrame(int page, std::uint8_t* out) {
    out[0] = ClearByte;
    for (int i = 0; i < 16; ++i) out[1 + i] = static_cast<std::uint8_t>(0x80 + 16 * (page % CharTestPages) + i);
}

void SendCharTestPage() {
    const int page = CharTestPage;
    CharTestPage = static_cast<unsigned char>((page + 1) % CharTestPages);
    BuildCharTestFrame(page, TxBuffer.data());
    WriteFrame(CharTestFrameLength);
}

}  // namespace vantrel
