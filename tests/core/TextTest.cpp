// tests/core/TextTest.cpp
#include <gtest/gtest.h>

#include <string>

#include "core/res/Cp1250.h"
#include "core/res/Strings.h"

namespace {

TEST(Cp1250, CzechLettersRoundTripThroughUtf8) {
    const std::string utf8 = "Příliš žluťoučký kůň úpěl ďábelské ódy ŘÍŠĚ";
    const std::string bytes = cp1250::FromUtf8(utf8);
    EXPECT_EQ(bytes.size(), 43u);  // one byte per character
    EXPECT_EQ(bytes.substr(0, 6),
              "P\xF8\xED"
              "li\x9A");
    EXPECT_EQ(cp1250::ToUtf8(bytes), utf8);
}

TEST(Cp1250, EveryByteDecodesAndDefinedBytesEncodeBack) {
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string utf8 = cp1250::ToUtf8(byte);
        ASSERT_FALSE(utf8.empty()) << b;
        const bool undefined = b == 0x81 || b == 0x83 || b == 0x88 || b == 0x90 || b == 0x98;
        if (undefined) {
            EXPECT_EQ(utf8, "\xEF\xBF\xBD") << b;
        } else {
            EXPECT_EQ(cp1250::FromUtf8(utf8), byte) << b;
        }
    }
}

TEST(Cp1250, UnmappableAndBrokenInputBecomesQuestionMarks) {
    EXPECT_EQ(cp1250::FromUtf8("a\xE2\x82\xAC"
                               "b"),
              "a\x80"
              "b");  // euro sign is mapped
    EXPECT_EQ(cp1250::FromUtf8("日本"), "??");
    EXPECT_EQ(cp1250::FromUtf8("\xF0\x9F\x98\x80"), "?");  // emoji
    EXPECT_EQ(cp1250::FromUtf8("x\xC3"), "x?");            // cut sequence
    EXPECT_EQ(cp1250::FromUtf8("\xFF\xFE"), "??");         // not UTF-8 at all
    EXPECT_FALSE(cp1250::Encode(U'ñ').has_value());
    EXPECT_EQ(cp1250::Encode(U'ř'), '\xF8');
}

TEST(StringTable, TextsAreExactInBothEncodings) {
    EXPECT_EQ(res::StringUtf8(res::kStrIsInStatus), " je ve stavu : ");
    EXPECT_EQ(res::String(res::kStrDefaultGroup), "P\xF8ipojeni");
    EXPECT_EQ(res::StringUtf8(res::kStrTraceCodePrefix),
              "Chyba 222 !\nPoznamenejte si poslední činnost a KOD.\nKontaktujte výrobce "
              "produktu.\nKOD: ");
    EXPECT_EQ(res::StringUtf8(res::kStrLastMessage), "\nPoslední správa : ");
    EXPECT_EQ(res::String(res::kStrOnlineWav), "online.wav");
    EXPECT_EQ(res::StringUtf8(res::kStrPromptAtLunch), "Teď obědvám.\nObědvám.");
    EXPECT_EQ(res::String(999999), "");
    EXPECT_EQ(res::StringUtf8(-1), "");
}

}  // namespace
