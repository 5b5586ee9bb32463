// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/iconv/iconv.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <windows.h>

struct VantrelIconv {
    unsigned codePage;  // the byte side
    bool toUnicode;     // bytes -> Unicode, else Unicode -> bytes
    bool utf32;         // the Unicode side is UTF-32LE, else UTF-16 (wchar_t)
};

namespace {

// 1200 for the UTF-16 side, 12000 for UTF-32LE, a code page's number, or 0.
unsigned CodePage(const char* name) {
    std::string n(name);
    for (char& c : n) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    if (n == "WCHAR_T" || n == "UTF-16LE") return 1200;
    if (n == "UTF-32LE") return 12000;
    if (n == "GBK" || n == "CP936") return 936;
    if (n == "SHIFT_JIS") return 932;
    for (const char* prefix : {"WINDOWS-", "CP"})
        if (n.rfind(prefix, 0) == 0) return static_cast<unsigned>(std::strtoul(n.c_str() + std::strlen(prefix), nullptr, 10));
    return 0;
}

bool Unicode(unsigned cp) { return cp == 1200 || cp == 12000; }

}  // namespace

iconv_t iconv_open(const char* tocode, const char* fromcode) {
    const unsigned to = CodePage(tocode), from = CodePage(fromcode);
    const bool toUnicode = Unicode(to);
    const unsigned bytes = toUnicode ? from : to;
    if (toUnicode == Unicode(from) || bytes == 0 || !IsValidCodePage(bytes)) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    return new VantrelIconv{bytes, toUnicode, (toUnicode ? to : from) == 12000};
}

int iconv_close(iconv_t cd) {
    delete cd;
    return 0;
}

// Converts all of the input in one step, or nothing: the program hands over
// one character at a time.
std::size_t iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
    if (!in || !*in || !inLeft || *inLeft == 0) return 0;  // a reset: no state is kept
    std::wstring wide;
    std::string bytes;
    if (cd->toUnicode) {
        const int n = MultiByteToWideChar(cd->codePage, MB_ERR_INVALID_CHARS, *in, static_cast<int>(*inLeft), nullptr, 0);
        if (n <= 0) return errno = EILSEQ, static_cast<std::size_t>(-1);
        wide.resize(static_cast<std::size_t>(n));
        MultiByteToWideChar(cd->codePage, MB_ERR_INVALID_CHARS, *in, static_cast<int>(*inLeft), wide.data(), n);
        std::string result;
        if (cd->utf32) {
            for (std::size_t i = 0; i < wide.size(); ++i) {
                char32_t c = wide[i];
                if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size())
                    c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
                result.append(reinterpret_cast<const char*>(&c), sizeof c);
            }
        } else {
            result.assign(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
        }
        bytes.swap(result);
    } else {
        if (cd->utf32) {
            for (std::size_t i = 0; i + 4 <= *inLeft; i += 4) {
                char32_t c;
                std::memcpy(&c, *in + i, 4);
                if (c >= 0x10000) {
                    wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
                    wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
                } else {
                    wide += static_cast<wchar_t>(c);
                }
            }
        } else {
            wide.assign(reinterpret_cast<const wchar_t*>(*in), *inLeft / sizeof(wchar_t));
        }
        BOOL usedDefault = FALSE;
        const int n = WideCharToMultiByte(cd->codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                          nullptr, 0, nullptr, &usedDefault);
        if (n <= 0 || usedDefault) return errno = EILSEQ, static_cast<std::size_t>(-1);
        bytes.resize(static_cast<std::size_t>(n));
        WideCharToMultiByte(cd->codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), bytes.data(), n,
                            nullptr, &usedDefault);
    }
    if (bytes.size() > *outLeft) return errno = E2BIG, static_cast<std::size_t>(-1);
    std::memcpy(*out, bytes.data(), bytes.size());
    *out += bytes.size();
    *outLeft -= bytes.size();
    *in += *inLeft;
    *inLeft = 0;
    return 0;
}
