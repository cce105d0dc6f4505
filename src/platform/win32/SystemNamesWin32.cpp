// src/platform/win32/SystemNamesWin32.cpp
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "platform/SystemNames.h"

namespace platform {
namespace {

constexpr DWORD kUserNameBuffer = 257;     // the longest logon name and its terminator
constexpr DWORD kComputerNameBuffer = 16;  // a NetBIOS name and its terminator

// The system's ANSI bytes as UTF-8; nothing if they cannot be converted.
std::optional<std::string> AnsiToUtf8(const char* ansi) {
    const int ansiLength = lstrlenA(ansi);
    if (ansiLength <= 0) {
        return std::nullopt;
    }
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, ansi, ansiLength, nullptr, 0);
    if (wideLength <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, ansi, ansiLength, wide.data(), wideLength) != wideLength) {
        return std::nullopt;
    }
    const int utf8Length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0) {
        return std::nullopt;
    }
    std::string utf8(static_cast<size_t>(utf8Length), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), utf8Length, nullptr,
                            nullptr) != utf8Length) {
        return std::nullopt;
    }
    return utf8;
}

}  // namespace

std::optional<std::string> LogonName() {
    char buffer[kUserNameBuffer] = {};
    DWORD size = kUserNameBuffer;
    if (!GetUserNameA(buffer, &size)) {
        return std::nullopt;
    }
    buffer[kUserNameBuffer - 1] = '\0';
    return AnsiToUtf8(buffer);
}

std::optional<std::string> ComputerName() {
    char buffer[kComputerNameBuffer] = {};
    DWORD size = kComputerNameBuffer;
    if (!GetComputerNameA(buffer, &size)) {
        return std::nullopt;
    }
    buffer[kComputerNameBuffer - 1] = '\0';
    return AnsiToUtf8(buffer);
}

}  // namespace platform
