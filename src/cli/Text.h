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

// A JSON string literal of a UTF-8 text, quotes included.
std::string JsonString(std::string_view utf8);

// A UTF-8 text on one line: a backslash is doubled, line breaks, tabs and
// other control characters become \n, \r, \t and \xHH.
std::string OneLine(std::string_view utf8);

}  // namespace clitext
