// src/cli/DesktopProfile.cpp
#include "cli/DesktopProfile.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <limits>
#include <vector>

#include "cli/Text.h"
#include "core/res/Cp1250.h"
#include "core/settings/ProfileNames.h"
#include "platform/ProfileStore.h"

namespace {

// A settings file larger than this is not the desktop program's.
constexpr std::streamsize kMaxFileSize = 1 << 20;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// UTF-16 code units, as QString holds them: \x escapes may give any unit.
using Units = std::u16string;

// UTF-8 as code units; each byte that starts no valid sequence is U+FFFD.
void AppendUnits(Units& out, std::string_view utf8) {
    for (size_t i = 0; i < utf8.size();) {
        const std::optional<char32_t> next = utf8::Next(utf8, i);
        if (!next) {
            ++i;
        }
        const char32_t cp = next.value_or(0xFFFD);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
}

std::string UnitsToUtf8(const Units& units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        utf8::Append(out, cp);
    }
    return out;
}

// A key as QSettings unescapes it: %XX and %UXXXX are code units.
std::string UnescapeKey(std::string_view key) {
    Units units;
    AppendUnits(units, key);
    Units out;
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        if (c != u'%' || i + 1 >= units.size()) {
            out.push_back(c);
            continue;
        }
        size_t first = i + 1;
        size_t digits = 2;
        if (units[first] == u'U') {
            ++first;
            digits = 4;
        }
        unsigned value = 0;
        bool ok = first + digits <= units.size();
        for (size_t k = 0; ok && k < digits; ++k) {
            const char16_t d = units[first + k];
            const int nibble = d < 0x80 ? HexDigit(static_cast<char>(d)) : -1;
            ok = nibble >= 0;
            value = value * 16 + static_cast<unsigned>(nibble);
        }
        if (!ok) {
            out.push_back(u'%');
            continue;
        }
        out.push_back(static_cast<char16_t>(value));
        i = first + digits - 1;
    }
    return UnitsToUtf8(out);
}

// Slashes as QSettings keeps them: none doubled, none at either end.
std::string NormaliseKey(const std::string& key) {
    std::string out;
    for (const char c : key) {
        if (c == '/' && (out.empty() || out.back() == '/')) {
            continue;
        }
        out.push_back(c);
    }
    if (!out.empty() && out.back() == '/') {
        out.pop_back();
    }
    return out;
}

void ChopTrailingSpaces(Units& text, size_t limit) {
    while (text.size() > limit && (text.back() == u' ' || text.back() == u'\t')) {
        text.pop_back();
    }
}

struct Unescaped {
    std::vector<Units> items;  // one item, or the items of a list
    bool isList = false;
};

// A raw value as QSettings unescapes it.
Unescaped UnescapeValue(std::string_view raw) {
    static constexpr char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                           {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                           {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    Unescaped result;
    Units current;
    bool inQuotes = false;
    bool currentQuoted = false;
    size_t i = 0;
    auto skipSpaces = [&] {
        while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t')) {
            ++i;
        }
    };
    skipSpaces();
    size_t chopLimit = 0;
    while (i < raw.size()) {
        const char c = raw[i];
        if (c == '\\') {
            ++i;
            if (i >= raw.size()) {
                break;
            }
            const char e = raw[i++];
            bool simple = false;
            for (const auto& escape : kEscapes) {
                if (e == escape[0]) {
                    current.push_back(static_cast<char16_t>(escape[1]));
                    simple = true;
                    break;
                }
            }
            if (simple) {
                chopLimit = current.size();
                continue;
            }
            if (e == 'x' || (e >= '0' && e <= '7')) {
                const bool hex = e == 'x';
                char16_t value = hex ? 0 : static_cast<char16_t>(e - '0');
                if (hex && (i >= raw.size() || HexDigit(raw[i]) < 0)) {
                    chopLimit = current.size();  // "\x" without digits gives nothing
                    continue;
                }
                while (i < raw.size()) {
                    const int digit = hex ? HexDigit(raw[i])
                                          : (raw[i] >= '0' && raw[i] <= '7' ? raw[i] - '0' : -1);
                    if (digit < 0) {
                        break;
                    }
                    value = static_cast<char16_t>((value << (hex ? 4 : 3)) + digit);
                    ++i;
                }
                current.push_back(value);
            } else if ((e == '\n' || e == '\r') && i < raw.size() &&
                       (raw[i] == '\n' || raw[i] == '\r') && raw[i] != e) {
                ++i;  // a continued line's two-byte break
            }
            chopLimit = current.size();
            continue;
        }
        if (c == '"') {
            ++i;
            currentQuoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipSpaces();
                chopLimit = current.size();
            }
            continue;
        }
        if (c == ',' && !inQuotes) {
            if (!currentQuoted) {
                ChopTrailingSpaces(current, chopLimit);
            }
            result.isList = true;
            result.items.push_back(std::move(current));
            current.clear();
            currentQuoted = false;
            ++i;
            skipSpaces();
            chopLimit = 0;
            continue;
        }
        size_t j = i + 1;
        while (j < raw.size() && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',') {
            ++j;
        }
        AppendUnits(current, raw.substr(i, j - i));
        i = j;
    }
    if (!currentQuoted) {
        ChopTrailingSpaces(current, chopLimit);
    }
    result.items.push_back(std::move(current));
    return result;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// One unescaped string as QSettings turns it into a value: "@@x" is "@x",
// "@String(x)" is x, "@ByteArray(x)" is x's Latin-1 bytes read as UTF-8;
// "@Invalid()" and the other "@Type(...)" forms are no text (QSettings
// reads a text from some of them, such as a date, which the program never
// writes).
std::optional<std::string> StringValue(const Units& units) {
    const std::string text = UnitsToUtf8(units);
    if (text.empty() || text[0] != '@') {
        return text;
    }
    if (text.back() == ')') {
        if (StartsWith(text, "@String(")) {
            return text.substr(8, text.size() - 9);
        }
        if (StartsWith(text, "@ByteArray(")) {
            std::string bytes;
            for (size_t i = 11; i + 1 < units.size(); ++i) {
                bytes.push_back(static_cast<char>(units[i] & 0xFF));
            }
            Units decoded;
            AppendUnits(decoded, bytes);
            return UnitsToUtf8(decoded);
        }
        if (StartsWith(text, "@Variant(") || StartsWith(text, "@DateTime(") ||
            StartsWith(text, "@Rect(") || StartsWith(text, "@Size(") ||
            StartsWith(text, "@Point(") || text == "@Invalid()") {
            return std::nullopt;
        }
    }
    if (StartsWith(text, "@@")) {
        return text.substr(1);
    }
    return text;
}

}  // namespace

IniProfile::IniProfile(std::string_view data) {
    if (data.substr(0, 3) == "\xEF\xBB\xBF") {
        data.remove_prefix(3);
    }
    std::string section;  // "Name/" or empty for the top level
    size_t pos = 0;
    while (pos < data.size()) {
        // One logical line: a quoted value may run over line ends, a '\' joins
        // the next line, and a ';' outside quotes ends it (a comment follows).
        size_t start = pos;
        while (start < data.size() && IsSpace(data[start])) {
            ++start;
        }
        if (start < data.size() && data[start] == ';') {
            while (start < data.size() && data[start] != '\n' && data[start] != '\r') {
                ++start;
            }
            pos = start;
            continue;
        }
        size_t i = start;
        size_t equals = std::string_view::npos;
        bool inQuotes = false;
        while (i < data.size()) {
            const char c = data[i];
            if (c == '=' && !inQuotes && equals == std::string_view::npos) {
                equals = i;
            } else if ((c == '\n' || c == '\r' || c == ';') && !inQuotes) {
                break;
            } else if (c == '\\') {
                ++i;
                if (i < data.size() && i + 1 < data.size() &&
                    ((data[i] == '\n' && data[i + 1] == '\r') ||
                     (data[i] == '\r' && data[i + 1] == '\n'))) {
                    ++i;
                }
            } else if (c == '"') {
                inQuotes = !inQuotes;
            }
            ++i;
        }
        i = std::min(i, data.size());
        pos = i;
        const std::string_view line = data.substr(start, i - start);
        if (line.empty()) {
            continue;
        }
        if (line[0] == '[') {
            const size_t close = line.find(']');
            std::string_view name =
                close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
            while (!name.empty() && IsSpace(name.front())) {
                name.remove_prefix(1);
            }
            while (!name.empty() && IsSpace(name.back())) {
                name.remove_suffix(1);
            }
            const std::string lower = [&] {
                std::string s(name);
                for (char& c : s) {
                    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                }
                return s;
            }();
            if (lower == "general") {
                section.clear();
            } else {
                // "%General" is the section "General" (in the case written).
                section =
                    (lower == "%general" ? std::string(name.substr(1)) : UnescapeKey(name)) + "/";
            }
            continue;
        }
        // QSettings looks a key "Section/Name" up in its section only: keys
        // of the top level ("General") are never found under a section.
        if (equals == std::string_view::npos || section.empty()) {
            continue;
        }
        size_t keyEnd = equals;
        while (keyEnd > start && (data[keyEnd - 1] == ' ' || data[keyEnd - 1] == '\t')) {
            --keyEnd;
        }
        const std::string key =
            NormaliseKey(section + UnescapeKey(data.substr(start, keyEnd - start)));
        m_values[key] = std::string(data.substr(equals + 1, i - equals - 1));
    }
}

std::optional<platform::StoredValue> IniProfile::Stored(const std::string& section,
                                                        const std::string& name) const {
    const auto found = m_values.find(NormaliseKey(cp1250::ToUtf8(section + "/" + name)));
    if (found == m_values.end()) {
        return std::nullopt;
    }
    const Unescaped value = UnescapeValue(found->second);
    if (!value.isList) {
        const std::optional<std::string> text = StringValue(value.items.front());
        return text ? std::optional(platform::StoredValue{text, std::nullopt}) : std::nullopt;
    }
    // A list is text only while no item is another "@" form; "@@" is "@".
    std::string joined;
    for (size_t i = 0; i < value.items.size(); ++i) {
        std::string item = UnitsToUtf8(value.items[i]);
        if (!item.empty() && item[0] == '@') {
            if (item.size() < 2 || item[1] != '@') {
                return std::nullopt;
            }
            item.erase(0, 1);
        }
        joined += (i == 0 ? "" : ", ") + item;
    }
    return platform::StoredValue{joined, std::nullopt};
}

std::optional<platform::StoredValue> RegistryProfile::Stored(const std::string& section,
                                                             const std::string& name) const {
    std::optional<platform::StoredValue> value = platform::ReadUserRegistryValue(
        kProfileOrganisation, kProfileApplication, cp1250::ToUtf8(section), cp1250::ToUtf8(name));
    if (!value || !value->text) {
        return value;
    }
    Units units;
    AppendUnits(units, *value->text);
    value->text = StringValue(units);
    return value->text ? value : std::nullopt;
}

namespace {

// A number stored as text, as QString::toInt reads it after trimming.
std::optional<int32_t> ParseInt(std::string_view digits) {
    while (!digits.empty() && IsSpace(digits.front())) {
        digits.remove_prefix(1);
    }
    while (!digits.empty() && IsSpace(digits.back())) {
        digits.remove_suffix(1);
    }
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    int32_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::string> DesktopProfile::ReadString(const std::string& section,
                                                      const std::string& name) const {
    const std::optional<platform::StoredValue> value = Stored(section, name);
    if (!value) {
        return std::nullopt;
    }
    if (value->number) {
        return std::to_string(*value->number);
    }
    return cp1250::FromUtf8(value->text.value_or(""));
}

std::optional<int32_t> DesktopProfile::ReadInt(const std::string& section,
                                               const std::string& name) const {
    const std::optional<platform::StoredValue> value = Stored(section, name);
    if (!value) {
        return std::nullopt;
    }
    if (value->number) {
        if (*value->number < std::numeric_limits<int32_t>::min() ||
            *value->number > std::numeric_limits<int32_t>::max()) {
            return std::nullopt;
        }
        return static_cast<int32_t>(*value->number);
    }
    return ParseInt(value->text.value_or(""));
}

std::unique_ptr<Profile> OpenDesktopProfile() {
    const std::string path = platform::UserSettingsFile(kProfileOrganisation, kProfileApplication);
    if (path.empty()) {
        return std::make_unique<RegistryProfile>();
    }
    std::string contents;
    std::ifstream file(path, std::ios::binary);
    if (file) {
        contents.resize(static_cast<size_t>(kMaxFileSize));
        file.read(contents.data(), kMaxFileSize);
        contents.resize(static_cast<size_t>(file.gcount()));
    }
    return std::make_unique<IniProfile>(contents);
}
