// src/cli/Text.h
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Text at the command line's edge: what the user types is UTF-8, the wire and
// the core hold code page 1250, and what is printed is UTF-8 again.
namespace clitext {

// The text in code page 1250, or nothing with the reason in `error`: invalid
// UTF-8, a NUL, or a character the code page cannot hold (named, with its
// code point).
std::optional<std::string> ToCp1250(std::string_view utf8, std::string& error);

// More input than a message can hold in any encoding.
constexpr size_t kMaxMessageInput = 64 * 1024;

// The message to send, in code page 1250, from what the user gave in UTF-8;
// text from standard input loses its final line breaks. Nothing, with the
// reason in `error`, for an empty message, one the code page cannot hold, or
// one longer than a text that arrives whole.
std::optional<std::string> MessageText(std::string utf8, bool fromInput, std::string& error);

// A code page 1250 text with every capital letter of the code page in its
// small form (Ř to ř, Ž to ž, A to a), for names that match in any case.
std::string FoldCase(std::string_view cp1250Text);

// A JSON string literal of a UTF-8 text, quotes included.
std::string JsonString(std::string_view utf8);

// A UTF-8 text on one line: a backslash is doubled, line breaks, tabs and
// other control characters become \n, \r, \t and \xHH.
std::string OneLine(std::string_view utf8);

}  // namespace clitext
