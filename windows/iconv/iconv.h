// SPDX-License-Identifier: GPL-3.0-or-later
// The part of iconv the program uses, on Windows' own converters
// (MultiByteToWideChar / WideCharToMultiByte): one side Unicode ("WCHAR_T",
// which is UTF-16 here, or "UTF-32LE"), the other a code page ("CP437",
// "WINDOWS-1252", "GBK", "SHIFT_JIS"). A code page the system lacks fails
// iconv_open; a character the other side lacks fails with EILSEQ.
#pragma once

#include <cstddef>

typedef struct VantrelIconv* iconv_t;

iconv_t iconv_open(const char* tocode, const char* fromcode);
std::size_t iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft);
int iconv_close(iconv_t cd);
