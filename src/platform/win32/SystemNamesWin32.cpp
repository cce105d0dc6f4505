// src/platform/win32/SystemNamesWin32.cpp
#include <windows.h>

#include <string>

#include "platform/SystemNames.h"
#include "platform/win32/TextWin32.h"

namespace platform {
namespace {

constexpr DWORD kUserNameBuffer = 257;     // the longest logon name and its terminator
constexpr DWORD kComputerNameBuffer = 16;  // a NetBIOS name and its terminator

// A name the system writes into a buffer of this size, in the ANSI code page.
template <DWORD kBufferSize>
std::optional<std::string> AnsiName(BOOL(WINAPI* query)(LPSTR, LPDWORD)) {
    char buffer[kBufferSize] = {};
    DWORD size = kBufferSize;
    if (!query(buffer, &size)) {
        return std::nullopt;
    }
    buffer[kBufferSize - 1] = '\0';
    return win32text::AnsiToUtf8(buffer);
}

}  // namespace

std::optional<std::string> LogonName() {
    return AnsiName<kUserNameBuffer>(GetUserNameA);
}

std::optional<std::string> ComputerName() {
    return AnsiName<kComputerNameBuffer>(GetComputerNameA);
}

}  // namespace platform
