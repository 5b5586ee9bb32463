// SPDX-License-Identifier: GPL-3.0-or-later
// The text encoding's Windows side: the language from the user's own
// language setting, GBK through code page 936.
#include "common/DoubleByteSet.h"

#include <cstring>
#include <windows.h>

namespace vantrel {

bool UserLanguageIsChinese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE; }

std::size_t EncodeGbk(char16_t c, std::uint8_t out[2]) {
    const wchar_t wide = static_cast<wchar_t>(c);
    char bytes[4];
    BOOL usedDefault = FALSE;
    // No best fit: a character the set lacks is not swapped for a look-alike.
    const int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes, nullptr, &usedDefault);
    if (n <= 0 || n > 2 || usedDefault) return 0;
    std::memcpy(out, bytes, static_cast<std::size_t>(n));
    return static_cast<std::size_t>(n);
}

}  // namespace vantrel
