// src/platform/win32/TextWin32.cpp
#include <windows.h>

#include "platform/win32/TextWin32.h"

namespace platform::win32text {

std::optional<std::string> AnsiToUtf8(std::string_view ansi) {
    const int ansiLength = static_cast<int>(ansi.size());
    if (ansiLength <= 0) {
        return std::nullopt;
    }
    const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, nullptr, 0);
    if (wideLength <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, wide.data(), wideLength) !=
        wideLength) {
        return std::nullopt;
    }
    std::string utf8 = WideToUtf8(wide);
    if (utf8.empty()) {
        return std::nullopt;
    }
    return utf8;
}

std::string WideToUtf8(std::wstring_view wide) {
    const int wideLength = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string utf8(static_cast<size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr,
                              nullptr) != length) {
        return {};
    }
    return utf8;
}

std::wstring Utf8ToWide(std::string_view utf8) {
    const int utf8Length = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), utf8Length, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), utf8Length, wide.data(), length);
    return wide;
}

}  // namespace platform::win32text
