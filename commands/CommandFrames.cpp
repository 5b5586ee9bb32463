// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands/CommandFrames.h"

#include "serial/SerialLink.h"

#include <algorithm>

namespace vantrel {

namespace {

template <std::size_t N>
void SendReported(const std::array<std::uint8_t, N>& frame) {
    std::copy(frame.begin(), frame.end(), TxBuffer.begin());
    SendFrame(N);
}

}  // namespace

void SendCleanFrame() { SendReported(CleanFrame); }
void SendResetFrame() { SendReported(ResetFrame); }
void SendDemoFrame() { SendReported(DemoFrame); }
void SendClearDemoFrame() { SendReported(ClearDemoFrame); }
void SendOptionFrame(const OptionFrame& frame) { SendReported(frame.Bytes()); }

void SendFullLightFrame() {
    std::fill_n(TxBuffer.begin(), FullLightLength, FullLightByte);
    WriteFrame(FullLightLength);  // never reported
}

}  // namespace vantrel
