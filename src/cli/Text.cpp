// src/cli/Text.cpp
#include "cli/Text.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "core/net/Packet.h"
#include "core/res/Cp1250.h"

namespace clitext {
namespace {

// The small letter of a capital of Latin-1 or Latin Extended-A, the blocks
// code page 1250's letters come from; any other character as it is.
char32_t SmallLetter(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return c + 0x20;
    }
    // Pairs in Latin Extended-A: the capital at the even code point, or at the odd one.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
        return c | 1;
    }
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && (c & 1) != 0) {
        return c + 1;
    }
    return c;
}

}  // namespace

std::optional<std::string> ToCp1250(std::string_view utf8, std::string& error) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        const std::optional<char32_t> next = utf8::Next(utf8, at);
        if (!next) {
            error = "the text is not valid UTF-8";
            return std::nullopt;
        }
        const char32_t cp = *next;
        if (cp == 0) {
            error = "the text holds a NUL character, which ends a text on the network";
            return std::nullopt;
        }
        const std::optional<char> byte = cp1250::Encode(cp);
        if (!byte) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
            std::string character;
            utf8::Append(character, cp);
            error = "the character '" + character + "' (" + code +
                    ") has no place in code page 1250, the network's encoding";
            return std::nullopt;
        }
        out.push_back(*byte);
    }
    return out;
}

std::optional<std::string> MessageText(std::string utf8, bool fromInput, std::string& error) {
    while (fromInput && !utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r')) {
        utf8.pop_back();
    }
    if (utf8.empty()) {
        error = "the message is empty; give its words or pipe it to standard input";
        return std::nullopt;
    }
    if (utf8.size() > kMaxMessageInput) {
        error = "the message is far too long";
        return std::nullopt;
    }
    std::optional<std::string> text = ToCp1250(utf8, error);
    if (text && text->size() > kMaxDeliverableText) {
        error = "the message takes " + std::to_string(text->size()) +
                " bytes in code page 1250; at most " + std::to_string(kMaxDeliverableText) +
                " arrive whole";
        return std::nullopt;
    }
    return text;
}

std::string FoldCase(std::string_view cp1250Text) {
    static const std::array<char, 256> kSmall = [] {
        std::array<char, 256> table{};
        for (size_t byte = 0; byte < table.size(); ++byte) {
            const char c = static_cast<char>(byte);
            table[byte] = cp1250::Encode(SmallLetter(cp1250::Decode(c))).value_or(c);
        }
        return table;
    }();
    std::string folded(cp1250Text);
    for (char& c : folded) {
        c = kSmall[static_cast<uint8_t>(c)];
    }
    return folded;
}

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<uint8_t>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string OneLine(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto byte = static_cast<uint8_t>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(byte));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace clitext
