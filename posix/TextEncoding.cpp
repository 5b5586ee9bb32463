// SPDX-License-Identifier: GPL-3.0-or-later
// The text encoding's POSIX side: the language from the locale's variables,
// GBK through iconv.
#include "common/DoubleByteSet.h"

#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <initializer_list>

namespace vantrel {

bool UserLanguageIsChinese() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return std::strncmp(value, "zh", 2) == 0;
    }
    return false;
}

std::size_t EncodeGbk(char16_t c, std::uint8_t out[2]) {
    static const iconv_t gbk = iconv_open("GBK", "WCHAR_T");  // opened once, kept for the program's life
    if (gbk == reinterpret_cast<iconv_t>(-1)) return 0;
    wchar_t wide = c;
    char bytes[8];
    char* in = reinterpret_cast<char*>(&wide);
    char* to = bytes;
    std::size_t inLeft = sizeof wide, toLeft = sizeof bytes;
    const bool ok = iconv(gbk, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1);
    iconv(gbk, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    const std::size_t n = sizeof bytes - toLeft;
    if (!ok || n == 0 || n > 2) return 0;
    std::memcpy(out, bytes, n);
    return n;
}

}  // namespace vantrel
