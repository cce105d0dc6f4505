// src/platform/win32/SystemNamesWin32.cpp
#include <windows.h>

#include <string>

#include "platform/SystemNames.h"
#include "platform/win32/TextWin32.h"

namespace platform {
namespace {

constexpr DWORD kUserNameBuffer = 257;     // the longest logon name and its terminator
constexpr DWORD kComputerNameBuffer = 16;  // a NetBIOS name and its terminator

}  // namespace

std::optional<std::string> LogonName() {
    char buffer[kUserNameBuffer] = {};
    DWORD size = kUserNameBuffer;
    if (!GetUserNameA(buffer, &size)) {
        return std::nullopt;
    }
    buffer[kUserNameBuffer - 1] = '\0';
    return win32text::AnsiToUtf8(buffer);
}

std::optional<std::string> ComputerName() {
    char buffer[kComputerNameBuffer] = {};
    DWORD size = kComputerNameBuffer;
    if (!GetComputerNameA(buffer, &size)) {
        return std::nullopt;
    }
    buffer[kComputerNameBuffer - 1] = '\0';
    return win32text::AnsiToUtf8(buffer);
}

}  // namespace platform
