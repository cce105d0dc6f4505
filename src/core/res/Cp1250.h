// src/core/res/Cp1250.h
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Conversion between UTF-8 and code page 1250, the text encoding of the wire,
// the settings and the chat log. Core code keeps code page 1250 bytes.
namespace cp1250 {

// Bytes 0x81, 0x83, 0x88, 0x90 and 0x98 have no character; they decode to U+FFFD.
std::string ToUtf8(std::string_view cp1250Bytes);

// Characters that code page 1250 cannot hold become '?' (like the system's
// best-fit conversion without a mapping); invalid UTF-8 bytes become '?' too.
std::string FromUtf8(std::string_view utf8);

// The code page 1250 byte of one Unicode code point, or nothing if it has none.
std::optional<char> Encode(char32_t codePoint);

}  // namespace cp1250
