// src/platform/win32/TextWin32.h
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Text conversions of the Windows sources: the services hand out UTF-8.
namespace platform::win32text {

// The system's ANSI code page bytes as UTF-8; nothing if they are empty or
// cannot be converted.
std::optional<std::string> AnsiToUtf8(std::string_view ansi);
std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);

}  // namespace platform::win32text
