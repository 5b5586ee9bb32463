// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: typed text -> line frame. The first byte picks the code page,
// the rest is UTF-16 as typed (any code units, lone surrogates included).
#include "common/ControlCharacters.h"
#include "content/LineMessage.h"
#include "content/TextEncoding.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const PanelCodePage codePage = data[0] & 1 ? PanelCodePage::Gbk : PanelCodePage::Windows1252;
    std::u16string text((size - 1) / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), data + 1, text.size() * 2);

    // A frame between guard bytes: exactly 20 bytes are written, never more.
    std::array<std::uint8_t, 40> buffer;
    buffer.fill(0xA5);
    BuildLineFrame(text, codePage, buffer.data() + 10);
    for (int i = 0; i < 10; ++i)
        if (buffer[i] != 0xA5 || buffer[30 + i] != 0xA5) std::abort();
    // Pure ASCII text is sent as it is, cut or padded to 20, a control character as '?'.
    bool ascii = true;
    for (char16_t c : text) ascii = ascii && c < 0x80;
    if (ascii) {
        for (std::size_t i = 0; i < LineFrameLength; ++i) {
            const std::uint8_t expected = i >= text.size()                ? ' '
                                          : IsControlCharacter(text[i]) ? '?'
                                                                        : static_cast<std::uint8_t>(text[i]);
            if (buffer[10 + i] != expected) std::abort();
        }
    }
    // Any capacity is honoured.
    std::array<std::uint8_t, 64> out;
    out.fill(0xA5);
    const std::size_t capacity = data[0] % 48;
    if (EncodeText(text, codePage, out.data(), capacity) > capacity) std::abort();
    for (std::size_t i = capacity; i < out.size(); ++i)
        if (out[i] != 0xA5) std::abort();
    return 0;
}
