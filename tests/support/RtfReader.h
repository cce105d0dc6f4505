// tests/support/RtfReader.h
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One stretch of text with one character format.
struct RtfRun {
    std::string text;  // code page 1250
    uint32_t rgb = 0;  // 0xRRGGBB; meaningless when automaticColor is set
    bool automaticColor = true;
    bool bold = false;
    bool italic = false;

    bool operator==(const RtfRun&) const = default;
};

struct RtfParagraph {
    std::vector<RtfRun> runs;

    bool operator==(const RtfParagraph&) const = default;
};

// Reads the text of an RTF document (code page 1250) into paragraphs of
// formatted runs: colour from the colour table, bold and italic. \par ends a
// paragraph; text after the last one forms a last paragraph. Raw line breaks
// are not paragraph marks. Destinations other than the colour table (font
// table, ignorable {\* } groups, \info, \pict ...) give no text, nor do groups
// nested deeper than kMaxRtfDepth. Any input is safe: the reader never reads
// outside the document and runs in time linear in its length.
std::vector<RtfParagraph> ReadRtf(std::string_view document);

inline constexpr int kMaxRtfDepth = 64;
