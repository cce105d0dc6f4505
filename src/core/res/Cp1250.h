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

// The character of one code page 1250 byte; U+FFFD for the five without one.
char16_t Decode(char byte);

// The code page 1250 byte of one Unicode code point, or nothing if it has none.
std::optional<char> Encode(char32_t codePoint);

}  // namespace cp1250

namespace utf8 {

// The code point that starts at `at`, which then moves past it; nothing, with
// `at` left alone, where no valid sequence starts (overlong forms, surrogates
// and cut-off sequences included).
std::optional<char32_t> Next(std::string_view text, size_t& at);
void Append(std::string& out, char32_t codePoint);

}  // namespace utf8
