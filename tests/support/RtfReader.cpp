// tests/support/RtfReader.cpp
#include "support/RtfReader.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <optional>
#include <utility>

#include "core/res/Cp1250.h"

namespace {

enum class Destination : uint8_t { Text, ColorTable, Skip };

// The character state that a group saves and restores.
struct GroupState {
    int32_t colorIndex = 0;
    int32_t unicodeSkip = 1;
    bool bold = false;
    bool italic = false;
    Destination destination = Destination::Text;
};

struct TableColor {
    uint32_t rgb = 0;
    bool automatic = true;
};

constexpr size_t kMaxColors = 4096;
constexpr size_t kMaxWordLength = 32;  // longer control words are not RTF
constexpr int32_t kMaxUnicodeSkip = 8;

// Bytes that end a stretch of plain text.
constexpr std::array<bool, 256> kSpecial = [] {
    std::array<bool, 256> special{};
    special[static_cast<unsigned char>('{')] = true;
    special[static_cast<unsigned char>('}')] = true;
    special[static_cast<unsigned char>('\\')] = true;
    special[static_cast<unsigned char>('\r')] = true;
    special[static_cast<unsigned char>('\n')] = true;
    special[0] = true;
    return special;
}();

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<int> HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return std::nullopt;
}

// Control words that start a destination whose text is not shown.
bool IsSkippedDestination(std::string_view word) {
    // clang-format off
    static constexpr auto kWords = std::to_array<std::string_view>({
        "fonttbl", "stylesheet", "info", "pict", "object", "header", "headerl", "headerr",
        "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "annotation", "atnid",
        "atnauthor", "fldinst", "filetbl", "listtable", "listoverridetable", "revtbl", "rsidtbl",
        "xmlnstbl", "themedata", "colorschememapping", "datastore", "latentstyles", "generator",
        "private", "nonshppict", "shpinst", "bkmkstart", "bkmkend", "pgdsctbl"});
    // clang-format on
    return std::find(kWords.begin(), kWords.end(), word) != kWords.end();
}

class Reader {
public:
    explicit Reader(std::string_view document) : m_doc(document) {}

    std::vector<RtfParagraph> Read() {
        while (m_pos < m_doc.size() && !m_ended) {
            const char c = m_doc[m_pos];
            switch (c) {
                case '{':
                    ++m_pos;
                    OpenGroup();
                    break;
                case '}':
                    ++m_pos;
                    CloseGroup();
                    break;
                case '\\':
                    ++m_pos;
                    ReadControl();
                    break;
                case '\r':
                case '\n':
                case '\0':
                    ++m_pos;
                    break;
                default:
                    ReadPlainText();
                    break;
            }
        }
        if (!m_current.runs.empty()) {
            m_paragraphs.push_back(std::move(m_current));
        }
        return std::move(m_paragraphs);
    }

private:
    void OpenGroup() {
        m_pendingSkip = 0;
        if (m_stack.size() >= static_cast<size_t>(kMaxRtfDepth)) {
            SkipGroup();
            return;
        }
        m_stack.push_back(m_state);
    }

    void CloseGroup() {
        m_pendingSkip = 0;
        if (m_stack.empty()) {
            return;  // a stray closing brace
        }
        if (m_state.destination == Destination::ColorTable &&
            m_stack.back().destination != Destination::ColorTable) {
            FinishColorEntryIfStarted();
        }
        m_state = m_stack.back();
        m_stack.pop_back();
        if (m_stack.empty()) {
            m_ended = true;  // the document's outermost group is closed
        }
    }

    // Passes over the rest of a group opened too deep, with its subgroups.
    void SkipGroup() {
        int depth = 1;
        while (m_pos < m_doc.size()) {
            const char c = m_doc[m_pos++];
            if (c == '\\') {
                if (m_pos < m_doc.size()) {
                    ++m_pos;
                }
            } else if (c == '{') {
                ++depth;
            } else if (c == '}' && --depth == 0) {
                return;
            }
        }
    }

    // After a backslash.
    void ReadControl() {
        if (m_pos >= m_doc.size()) {
            return;
        }
        const char c = m_doc[m_pos];
        if (IsAsciiLetter(c)) {
            ReadControlWord();
            return;
        }
        ++m_pos;
        switch (c) {
            case '\\':
            case '{':
            case '}':
                AppendText(&c, 1);
                break;
            case '\'':
                ReadHexByte();
                break;
            case '*':
                m_state.destination = Destination::Skip;
                break;
            case '\r':
            case '\n':
                EndParagraph();
                break;
            case '~': {
                const char nbsp = '\xA0';
                AppendText(&nbsp, 1);
                break;
            }
            case '_': {
                const char hyphen = '-';
                AppendText(&hyphen, 1);
                break;
            }
            default:
                ConsumeSkippedCharacter();  // other control symbols show nothing
                break;
        }
    }

    void ReadHexByte() {
        if (m_pos + 1 < m_doc.size()) {
            const auto high = HexValue(m_doc[m_pos]);
            const auto low = HexValue(m_doc[m_pos + 1]);
            if (high && low) {
                m_pos += 2;
                const char byte = static_cast<char>((*high << 4) | *low);
                AppendText(&byte, 1);
                return;
            }
        }
        // Not a hex escape: what follows is read as it stands.
    }

    void ReadControlWord() {
        const size_t start = m_pos;
        while (m_pos < m_doc.size() && IsAsciiLetter(m_doc[m_pos])) {
            ++m_pos;
        }
        const std::string_view word = m_doc.substr(start, m_pos - start);

        bool negative = false;
        if (m_pos + 1 < m_doc.size() && m_doc[m_pos] == '-' && IsDigit(m_doc[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        bool hasParameter = false;
        int64_t value = 0;
        while (m_pos < m_doc.size() && IsDigit(m_doc[m_pos])) {
            hasParameter = true;
            value = std::min<int64_t>(value * 10 + (m_doc[m_pos] - '0'), INT32_MAX);
            ++m_pos;
        }
        if (m_pos < m_doc.size() && m_doc[m_pos] == ' ') {
            ++m_pos;
        }
        const auto parameter = static_cast<int32_t>(negative ? -value : value);
        if (word.size() <= kMaxWordLength) {
            ControlWord(word, hasParameter, parameter);
        }
    }

    void ControlWord(std::string_view word, bool hasParameter, int32_t parameter) {
        if (word == "par") {
            EndParagraph();
        } else if (word == "cf") {
            m_state.colorIndex = hasParameter ? parameter : 0;
        } else if (word == "b") {
            m_state.bold = !hasParameter || parameter != 0;
        } else if (word == "i") {
            m_state.italic = !hasParameter || parameter != 0;
        } else if (word == "plain") {
            m_state.bold = false;
            m_state.italic = false;
            m_state.colorIndex = 0;
        } else if (word == "red" || word == "green" || word == "blue") {
            SetColorComponent(word, parameter);
        } else if (word == "colortbl") {
            m_state.destination = Destination::ColorTable;
            m_colors.clear();
            ResetColorEntry();
        } else if (word == "u") {
            ReadUnicode(parameter);
        } else if (word == "uc") {
            m_state.unicodeSkip = std::clamp(parameter, 0, kMaxUnicodeSkip);
        } else if (word == "bin") {
            // Raw bytes follow; they are data, never text or syntax.
            const size_t count = parameter > 0 ? static_cast<size_t>(parameter) : 0;
            m_pos += std::min(count, m_doc.size() - m_pos);
        } else if (word == "tab") {
            AppendLiteral('\t');
        } else if (word == "emdash") {
            AppendLiteral('\x97');
        } else if (word == "endash") {
            AppendLiteral('\x96');
        } else if (word == "bullet") {
            AppendLiteral('\x95');
        } else if (word == "lquote") {
            AppendLiteral('\x91');
        } else if (word == "rquote") {
            AppendLiteral('\x92');
        } else if (word == "ldblquote") {
            AppendLiteral('\x93');
        } else if (word == "rdblquote") {
            AppendLiteral('\x94');
        } else if (IsSkippedDestination(word)) {
            m_state.destination = Destination::Skip;
        } else {
            ConsumeSkippedCharacter();
        }
    }

    void AppendLiteral(char c) { AppendText(&c, 1); }

    void ReadUnicode(int32_t parameter) {
        const char32_t code = static_cast<char32_t>(parameter < 0 ? parameter + 65536 : parameter);
        const char byte = cp1250::Encode(code).value_or('?');
        m_pendingSkip = 0;
        AppendText(&byte, 1);
        m_pendingSkip = m_state.unicodeSkip;
    }

    // A control word or symbol counts as one of the characters that stand in
    // for the last \u character.
    void ConsumeSkippedCharacter() {
        if (m_pendingSkip > 0) {
            --m_pendingSkip;
        }
    }

    void ReadPlainText() {
        const size_t start = m_pos;
        while (m_pos < m_doc.size() && !kSpecial[static_cast<unsigned char>(m_doc[m_pos])]) {
            ++m_pos;
        }
        AppendText(m_doc.data() + start, m_pos - start);
    }

    void AppendText(const char* data, size_t size) {
        if (m_pendingSkip > 0) {
            const size_t skipped = std::min(size, static_cast<size_t>(m_pendingSkip));
            m_pendingSkip -= static_cast<int32_t>(skipped);
            data += skipped;
            size -= skipped;
        }
        if (size == 0) {
            return;
        }
        switch (m_state.destination) {
            case Destination::Text:
                AppendToRun(std::string_view(data, size));
                break;
            case Destination::ColorTable:
                for (size_t i = 0; i < size; ++i) {
                    if (data[i] == ';') {
                        FinishColorEntry();
                    }
                }
                break;
            case Destination::Skip:
                break;
        }
    }

    void AppendToRun(std::string_view text) {
        TableColor color;
        if (m_state.colorIndex >= 0 && static_cast<size_t>(m_state.colorIndex) < m_colors.size()) {
            color = m_colors[static_cast<size_t>(m_state.colorIndex)];
        }
        std::vector<RtfRun>& runs = m_current.runs;
        if (!runs.empty()) {
            RtfRun& last = runs.back();
            if (last.automaticColor == color.automatic &&
                (color.automatic || last.rgb == color.rgb) && last.bold == m_state.bold &&
                last.italic == m_state.italic) {
                last.text.append(text);
                return;
            }
        }
        RtfRun run;
        run.text.assign(text);
        run.rgb = color.automatic ? 0 : color.rgb;
        run.automaticColor = color.automatic;
        run.bold = m_state.bold;
        run.italic = m_state.italic;
        runs.push_back(std::move(run));
    }

    void EndParagraph() {
        if (m_state.destination != Destination::Text) {
            return;
        }
        m_paragraphs.push_back(std::move(m_current));
        m_current = RtfParagraph{};
    }

    void SetColorComponent(std::string_view word, int32_t parameter) {
        if (m_state.destination != Destination::ColorTable) {
            return;
        }
        const auto value = static_cast<uint32_t>(std::clamp(parameter, 0, 255));
        if (word == "red") {
            m_red = value;
        } else if (word == "green") {
            m_green = value;
        } else {
            m_blue = value;
        }
        m_colorStarted = true;
    }

    void FinishColorEntry() {
        if (m_colors.size() < kMaxColors) {
            TableColor color;
            if (m_colorStarted) {
                color.rgb = (m_red << 16) | (m_green << 8) | m_blue;
                color.automatic = false;
            }
            m_colors.push_back(color);
        }
        ResetColorEntry();
    }

    // An entry whose closing ';' is missing still counts when its group ends.
    void FinishColorEntryIfStarted() {
        if (m_colorStarted) {
            FinishColorEntry();
        }
    }

    void ResetColorEntry() {
        m_red = m_green = m_blue = 0;
        m_colorStarted = false;
    }

    std::string_view m_doc;
    size_t m_pos = 0;
    bool m_ended = false;
    GroupState m_state;
    std::vector<GroupState> m_stack;
    int32_t m_pendingSkip = 0;  // characters still standing in for a \u character

    std::vector<TableColor> m_colors;
    uint32_t m_red = 0;
    uint32_t m_green = 0;
    uint32_t m_blue = 0;
    bool m_colorStarted = false;

    RtfParagraph m_current;
    std::vector<RtfParagraph> m_paragraphs;
};

}  // namespace

std::vector<RtfParagraph> ReadRtf(std::string_view document) {
    return Reader(document).Read();
}
