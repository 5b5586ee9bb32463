// SPDX-License-Identifier: GPL-3.0-or-later
// The two-line message and the three sample texts.
#pragma once

#include "resources/Texts.h"
#include "content/TextEncoding.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel {

inline constexpr std::size_t LineFrameLength = 20;  // one display line

struct SampleText {
    Text label;  // the sample button's label while the row is shown
    const char* line1;
    const char* line2;
};

inline constexpr std::array<SampleText, 3> SampleTexts{{
    {Text::String1, "     THANK YOU      ", "  HAVE A NICE DAY   "},
    {Text::String2, "Customer Display!", "Thank You!"},
    {Text::String3, "0123456789    ABCDEF", "GHIJKLMNOPQRSTUVWXYZ"},
}};

// Which sample the fields show: 0..2. Interface thread only.
extern unsigned char SampleTextIndex;

// 20 bytes at `out`: the encoded line's characters that fit whole in 20 bytes,
// padded with spaces. A line is text: a control character is sent as '?'.
void BuildLineFrame(std::u16string_view line, PanelCodePage codePage, std::uint8_t* out);

// The clear byte, then line 1 and line 2 as line frames, through TxBuffer: 41
// bytes. Only a failure of the last write is reported (once).
void SendTwoLines(std::u16string_view line1, std::u16string_view line2, PanelCodePage codePage);
// The same three frames for a script: none after the first that fails (a
// line over the old text, or without its clear, is worse than none), and no
// reporter. True when all three went out.
bool WriteTwoLines(std::u16string_view line1, std::u16string_view line2, PanelCodePage codePage);

}  // namespace vantrel
