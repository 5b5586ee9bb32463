// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/Wide.h"

#include <cstdlib>
#include <windows.h>

namespace vantrel::windows {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string ErrorText(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words(text ? text : L"", n);
    if (text) LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.')) words.pop_back();
    return words.empty() ? "error " + std::to_string(error) : Utf8(words);
}

std::string Environment(const char* name) {
    const wchar_t* value = _wgetenv(Wide(name).c_str());
    return value ? Utf8(value) : std::string();
}

Utf8Arguments::Utf8Arguments(int argc, wchar_t** wargv) {
    for (int i = 0; i < argc; ++i) args_.push_back(Utf8(wargv[i]));
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
}

}  // namespace vantrel::windows
