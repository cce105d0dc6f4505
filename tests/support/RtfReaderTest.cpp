// tests/support/RtfReaderTest.cpp
#include "support/RtfReader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/Fakes.h"
#include "core/chat/ChatLogDocument.h"
#include "core/res/Cp1250.h"
#include "core/res/Strings.h"

namespace {

constexpr uint32_t kBlue = 0x0000FF;
constexpr uint32_t kNavy = 0x000080;
constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kGreen = 0x008000;

RtfRun Colored(std::string text, uint32_t rgb, bool bold = false, bool italic = false) {
    return RtfRun{std::move(text), rgb, false, bold, italic};
}

RtfRun Automatic(std::string text, bool bold = false, bool italic = false) {
    return RtfRun{std::move(text), 0, true, bold, italic};
}

HistoryEntry In(std::string sender, std::string text) {
    return {Incoming, std::move(sender), std::move(text)};
}

HistoryEntry Out(std::string sender, std::string text) {
    return {Outgoing, std::move(sender), std::move(text)};
}

std::vector<RtfParagraph> ReadHistory(const std::vector<HistoryEntry>& history,
                                      std::string_view computerName = "PC7") {
    RecordingPresenter presenter;
    const std::vector<RtfParagraph> paragraphs =
        ReadRtf(BuildChatLogDocument(history, computerName, presenter));
    EXPECT_TRUE(presenter.Shown().empty());
    return paragraphs;
}

std::string AllText(const std::vector<RtfParagraph>& paragraphs) {
    std::string text;
    for (const RtfParagraph& paragraph : paragraphs) {
        for (const RtfRun& run : paragraph.runs) {
            text += run.text;
        }
        text += '|';
    }
    return text;
}

}  // namespace

TEST(RtfReader, LogEntriesReadBackWithTheirColoursAndStyles) {
    const auto paragraphs = ReadHistory({
        In("P1", "ahoj"),
        In("P1", res::String(res::kStrPeerDisconnectedNotice)),
        Out("U2", "*hotovo"),
        Out("U2", "!pozor"),
        Out("U2", "dobre"),
        In("P1", "*zpet"),
    });
    ASSERT_EQ(paragraphs.size(), 6u);
    EXPECT_EQ(paragraphs[0].runs,
              (std::vector<RtfRun>{Colored("P1: ", kBlue), Automatic("ahoj", true)}));
    EXPECT_EQ(
        paragraphs[1].runs,
        (std::vector<RtfRun>{
            Colored("P1: ", kBlue),
            Colored(cp1250::FromUtf8("Uživatel se odpojil - nelze komunikovat!"), kRed, true)}));
    EXPECT_EQ(paragraphs[2].runs, (std::vector<RtfRun>{Colored("U2@PC7: ", kNavy),
                                                       Colored("hotovo", kGreen, false, true)}));
    EXPECT_EQ(paragraphs[3].runs, (std::vector<RtfRun>{Colored("U2@PC7: ", kNavy),
                                                       Colored("pozor", kRed, false, true)}));
    EXPECT_EQ(paragraphs[4].runs,
              (std::vector<RtfRun>{Colored("U2@PC7: ", kNavy), Automatic("dobre", false, true)}));
    EXPECT_EQ(paragraphs[5].runs,
              (std::vector<RtfRun>{Colored("P1: ", kBlue), Colored("zpet", kGreen, true)}));
}

TEST(RtfReader, MarkerAloneOrDoubledLeavesWhatFollowsIt) {
    const auto paragraphs = ReadHistory({In("P1", "!"), In("P1", "!!x"), Out("U2", "*")});
    ASSERT_EQ(paragraphs.size(), 3u);
    EXPECT_EQ(paragraphs[0].runs, (std::vector<RtfRun>{Colored("P1: ", kBlue)}));
    EXPECT_EQ(paragraphs[1].runs,
              (std::vector<RtfRun>{Colored("P1: ", kBlue), Colored("!x", kRed, true)}));
    EXPECT_EQ(paragraphs[2].runs, (std::vector<RtfRun>{Colored("U2@PC7: ", kNavy)}));
}

TEST(RtfReader, ReservedCharactersComeBackLiterallyAndLeaveTheNextEntryAlone) {
    const auto paragraphs = ReadHistory(
        {In("a{b}\\c\\", "x\\y{z}\\par \\'41"), Out("{U}", "}{"), In("P1", "ok")}, "C:\\{pc}");
    ASSERT_EQ(paragraphs.size(), 3u);
    EXPECT_EQ(paragraphs[0].runs, (std::vector<RtfRun>{Colored("a{b}\\c\\: ", kBlue),
                                                       Automatic("x\\y{z}\\par \\'41", true)}));
    EXPECT_EQ(paragraphs[1].runs, (std::vector<RtfRun>{Colored("{U}@C:\\{pc}: ", kNavy),
                                                       Automatic("}{", false, true)}));
    EXPECT_EQ(paragraphs[2].runs,
              (std::vector<RtfRun>{Colored("P1: ", kBlue), Automatic("ok", true)}));
}

TEST(RtfReader, RawLineBreaksAreNoParagraphMarks) {
    const auto paragraphs = ReadHistory({In("P1", "jedna\r\ndva\nt\rri"), In("P1", "konec")});
    ASSERT_EQ(paragraphs.size(), 2u);
    EXPECT_EQ(paragraphs[0].runs,
              (std::vector<RtfRun>{Colored("P1: ", kBlue), Automatic("jednadvatri", true)}));
}

TEST(RtfReader, EmptyHistoryGivesNoParagraph) {
    EXPECT_TRUE(ReadHistory({}).empty());
    EXPECT_TRUE(ReadRtf("").empty());
}

TEST(RtfReader, CodePage1250BytesPassUnchanged) {
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b) {
        high += static_cast<char>(b);
    }
    const auto paragraphs = ReadHistory({In(cp1250::FromUtf8("Jiří"), high)});
    ASSERT_EQ(paragraphs.size(), 1u);
    EXPECT_EQ(paragraphs[0].runs, (std::vector<RtfRun>{Colored(cp1250::FromUtf8("Jiří: "), kBlue),
                                                       Automatic(high, true)}));
}

TEST(RtfReader, GroupsRestoreTheFormatAndPlainResetsIt) {
    const auto paragraphs =
        ReadRtf("{\\rtf1{\\colortbl;\\red10\\green20\\blue30;}\\b a{\\i\\cf1 b}c\\plain d\\par e}");
    ASSERT_EQ(paragraphs.size(), 2u);
    EXPECT_EQ(paragraphs[0].runs,
              (std::vector<RtfRun>{Automatic("a", true), Colored("b", 0x0A141E, true, true),
                                   Automatic("c", true), Automatic("d")}));
    EXPECT_EQ(paragraphs[1].runs, (std::vector<RtfRun>{Automatic("e")}));
}

TEST(RtfReader, ColourTableEntriesAndOutOfRangeIndexes) {
    // A first entry with components is a real colour; an index past the table
    // or below zero is the automatic colour.
    const auto paragraphs = ReadRtf(
        "{\\rtf1{\\colortbl\\red1\\green2\\blue3;\\red255;}\\cf0 a\\cf1 b\\cf2 c\\cf-1 d"
        "\\cf99999999999999999999 e\\par}");
    ASSERT_EQ(paragraphs.size(), 1u);
    EXPECT_EQ(paragraphs[0].runs, (std::vector<RtfRun>{Colored("a", 0x010203),
                                                       Colored("b", 0xFF0000), Automatic("cde")}));
}

TEST(RtfReader, EscapesUnicodeAndSkippedDestinations) {
    const auto paragraphs = ReadRtf(
        "{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\info{\\title T}}{\\*\\generator G;}{\\*\\unknown U}"
        "\\unknownword1 a\\'e8\\'C8\\u268?\\uc0\\u269 \\u-3913 b\\~c\\_d\\-e\\tab f\\bin3 {}}g"
        "\\par}");
    ASSERT_EQ(paragraphs.size(), 1u);
    // \u-3913 is U+F0B7, which code page 1250 has not: '?'.
    EXPECT_EQ(AllText(paragraphs),
              "a\xE8\xC8\xC8\xE8?b\xA0"
              "c-de\tfg|");
}

TEST(RtfReader, TextAfterTheLastParagraphMarkIsALastParagraph) {
    EXPECT_EQ(AllText(ReadRtf("{\\rtf1 a\\par b}")), "a|b|");
    EXPECT_EQ(AllText(ReadRtf("{\\rtf1 a\\par\\par b\\par}")), "a||b|");
    EXPECT_EQ(AllText(ReadRtf("{\\rtf1 a\\par}ignored after the document")), "a|");
}

TEST(RtfReader, HostileInputGivesSomeResultWithoutHarm) {
    const std::vector<std::string> inputs = {
        "{",
        "}",
        "}}}}{",
        "{{{{a",
        "\\",
        "{\\rtf1 a\\",
        "\\'",
        "{\\rtf1 \\'",
        "\\'a",
        "\\'zz",
        "\\cf99999999999999999999 x",
        "\\b-99999999999999999999 x",
        "\\u99999999999999999 x",
        "\\uc99999999999 \\u268 abc",
        "\\bin99999999999",
        "\\bin-5 x",
        "{\\colortbl;;;;;;\\red999999999;\\cf3",
        std::string(100, 'a') + "\\" + std::string(100000, 'x') + "1 y",
        "\\-",
        std::string("a\0b", 3),
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.substr(0, 40));
        const auto paragraphs = ReadRtf(input);
        for (const RtfParagraph& paragraph : paragraphs) {
            for (const RtfRun& run : paragraph.runs) {
                EXPECT_FALSE(run.text.empty());
            }
        }
    }
    EXPECT_EQ(AllText(ReadRtf("\\'zz")), "zz|");
    EXPECT_EQ(AllText(ReadRtf("{\\rtf1 a\\")), "a|");
    EXPECT_EQ(ReadRtf("\\cf99999999999999999999 x")[0].runs, (std::vector<RtfRun>{Automatic("x")}));
    EXPECT_EQ(AllText(ReadRtf("\\uc99999999999 \\u268 abcdefghijkl")), "\xC8ijkl|");
}

TEST(RtfReader, GroupsNestedTooDeeplyAreSkippedWhole) {
    const std::string deep =
        "{a" + std::string(200000, '{') + "hidden\\}" + std::string(200000, '}') + "b\\par}";
    EXPECT_EQ(AllText(ReadRtf(deep)), "ab|");

    std::string limit = "{";
    for (int depth = 2; depth <= kMaxRtfDepth + 1; ++depth) {
        limit += "{" + std::to_string(depth) + " ";
    }
    limit += std::string(static_cast<size_t>(kMaxRtfDepth), '}');
    // Groups down to depth 64 are read; the 65th is not.
    std::string expected;
    for (int depth = 2; depth <= kMaxRtfDepth; ++depth) {
        expected += std::to_string(depth) + " ";
    }
    EXPECT_EQ(AllText(ReadRtf(limit)), expected + "|");

    EXPECT_TRUE(ReadRtf(std::string(1'000'000, '{')).empty());
    EXPECT_TRUE(ReadRtf(std::string(1'000'000, '}')).empty());
}

TEST(RtfReader, RandomBytesNeverHurt) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 3000);
    const std::string syntax = "{}\\'*;0123456789- \r\nabcfpruib";
    std::uniform_int_distribution<size_t> pick(0, syntax.size() - 1);
    for (int round = 0; round < 500; ++round) {
        std::string input(static_cast<size_t>(length(random)), '\0');
        for (char& c : input) {
            // Mostly RTF syntax, so the control paths are well exercised.
            c = byte(random) < 160 ? syntax[pick(random)] : static_cast<char>(byte(random));
        }
        const auto paragraphs = ReadRtf(input);
        size_t textBytes = 0;
        for (const RtfParagraph& paragraph : paragraphs) {
            for (const RtfRun& run : paragraph.runs) {
                textBytes += run.text.size();
            }
        }
        EXPECT_LE(textBytes, input.size());
    }
}

// A log of random entries reads back as exactly its senders, colons and texts.
// Line breaks drop out (they are no paragraph marks); senders that begin with
// a digit or a blank come back whole too.
TEST(RtfReader, RandomLogsRoundTrip) {
    std::mt19937 random(1250);
    const std::string special = "\\{}!*;'@: \r\n\x80\x8A\x9E\xC8\xE8\xFF";
    std::uniform_int_distribution<int> coin(0, 99);
    std::uniform_int_distribution<int> anyByte(1, 255);
    std::uniform_int_distribution<size_t> pickSpecial(0, special.size() - 1);
    auto randomText = [&](size_t maxLength) {
        std::uniform_int_distribution<size_t> length(0, maxLength);
        std::string text(length(random), '\0');
        for (char& c : text) {
            c = coin(random) < 35 ? special[pickSpecial(random)]
                                  : static_cast<char>(anyByte(random));
        }
        return text;
    };
    auto withoutLineBreaks = [](std::string text) {
        std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
        return text;
    };

    for (int round = 0; round < 300; ++round) {
        std::string computer = withoutLineBreaks(randomText(15));
        std::vector<HistoryEntry> history;
        std::vector<std::vector<RtfRun>> expected;
        const int count = coin(random) % 12;
        for (int i = 0; i < count; ++i) {
            std::string sender = randomText(20);
            if (coin(random) < 20) {
                sender.insert(0, coin(random) < 50 ? "007" : " ");
            }
            while (!sender.empty() && (sender[0] == '\r' || sender[0] == '\n')) {
                sender.erase(0, 1);
            }
            std::string text = randomText(80);
            const bool incoming = coin(random) < 50;

            std::vector<RtfRun> runs;
            const std::string shownSender =
                withoutLineBreaks(incoming ? sender : sender + "@" + computer) + ": ";
            runs.push_back(Colored(shownSender, incoming ? kBlue : kNavy));
            std::string shown = text;
            RtfRun textRun = Automatic("", incoming, !incoming);
            if (!shown.empty() && (shown[0] == '!' || shown[0] == '*')) {
                textRun = Colored("", shown[0] == '!' ? kRed : kGreen, incoming, !incoming);
                shown.erase(0, 1);
            }
            textRun.text = withoutLineBreaks(shown);
            if (!textRun.text.empty()) {
                runs.push_back(textRun);
            }
            expected.push_back(std::move(runs));
            history.push_back(incoming ? In(std::move(sender), std::move(text))
                                       : Out(std::move(sender), std::move(text)));
        }

        const auto paragraphs = ReadHistory(history, computer);
        ASSERT_EQ(paragraphs.size(), expected.size()) << "round " << round;
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(paragraphs[i].runs, expected[i]) << "round " << round << " entry " << i;
        }
    }
}
