// tests/core/ChatLogDocumentTest.cpp
#include "core/chat/ChatLogDocument.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Fakes.h"
#include "core/res/Cp1250.h"
#include "core/res/Strings.h"
#include "support/RtfReader.h"

namespace {

const std::string kHeader =
    R"({\rtf1\ansi\ansicpg1250\deff0\deflang1029{\fonttbl{\f0\fswiss\fcharset238{\*\fname Arial;}Arial CE;}}{\colortbl ;\red0\green0\blue255;\red0\green0\blue128;\red255\green0\blue0;\red0\green128\blue0;}\viewkind4\uc1\pard\f0\fs20)";

HistoryEntry In(std::string sender, std::string text) {
    return {Incoming, std::move(sender), std::move(text)};
}

HistoryEntry Out(std::string sender, std::string text) {
    return {Outgoing, std::move(sender), std::move(text)};
}

// The entries part of the document, after checking the header and the closing brace.
std::string Body(const std::vector<HistoryEntry>& history, std::string_view computerName,
                 RecordingPresenter& presenter) {
    const std::string doc = BuildChatLogDocument(history, computerName, presenter);
    EXPECT_EQ(doc.substr(0, kHeader.size()), kHeader);
    EXPECT_GT(doc.size(), kHeader.size());
    EXPECT_EQ(doc.back(), '}');
    if (doc.size() <= kHeader.size()) {
        return {};
    }
    return doc.substr(kHeader.size(), doc.size() - kHeader.size() - 1);
}

std::string Body(const std::vector<HistoryEntry>& history, std::string_view computerName = "PC7") {
    RecordingPresenter presenter;
    std::string body = Body(history, computerName, presenter);
    EXPECT_TRUE(presenter.Shown().empty());
    return body;
}

}  // namespace

TEST(ChatLogDocument, EmptyHistoryIsHeaderAndClosingBrace) {
    RecordingPresenter presenter;
    EXPECT_EQ(BuildChatLogDocument({}, "PC7", presenter), kHeader + "}");
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST(ChatLogDocument, EntriesLookLikeTheReferenceExamples) {
    EXPECT_EQ(Body({In("P1", "ahoj")}), R"(\cf1P1: \cf0\b ahoj\b0\cf0\par )");

    // A notice is marked in the history, not in the document.
    EXPECT_EQ(Body({{Incoming, "P1", res::String(res::kStrPeerDisconnectedNotice), true}}),
              cp1250::FromUtf8(
                  R"(\cf1P1: \cf0\b\cf3 Uživatel se odpojil - nelze komunikovat!\b0\cf0\par )"));

    EXPECT_EQ(Body({Out("U2", "*hotovo")}, "PC7"), R"(\cf2U2@PC7: \cf0\i\cf4 hotovo\i0\cf0\par )");
}

TEST(ChatLogDocument, SmallHistoryGivesWholeDocumentInOrder) {
    RecordingPresenter presenter;
    const std::vector<HistoryEntry> history = {
        In("Petr", "ahoj"),
        Out("Jana", "!pozor"),
        In("Petr", "*ok"),
        Out("Jana", "konec"),
    };
    EXPECT_EQ(BuildChatLogDocument(history, "STANICE", presenter),
              kHeader + R"(\cf1Petr: \cf0\b ahoj\b0\cf0\par )"
                        R"(\cf2Jana@STANICE: \cf0\i\cf3 pozor\i0\cf0\par )"
                        R"(\cf1Petr: \cf0\b\cf4 ok\b0\cf0\par )"
                        R"(\cf2Jana@STANICE: \cf0\i konec\i0\cf0\par )"
                        "}");
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST(ChatLogDocument, MarkerTakesOnlyTheFirstCharacter) {
    EXPECT_EQ(Body({In("A", "!")}), R"(\cf1A: \cf0\b\cf3 \b0\cf0\par )");
    EXPECT_EQ(Body({Out("B", "*")}, "PC"), R"(\cf2B@PC: \cf0\i\cf4 \i0\cf0\par )");
    EXPECT_EQ(Body({In("A", "!!x")}), R"(\cf1A: \cf0\b\cf3 !x\b0\cf0\par )");
    EXPECT_EQ(Body({Out("B", "*!x")}, "PC"), R"(\cf2B@PC: \cf0\i\cf4 !x\i0\cf0\par )");
    // A marker character later in the text is plain text; an empty text has no marker.
    EXPECT_EQ(Body({In("A", "x!")}), R"(\cf1A: \cf0\b x!\b0\cf0\par )");
    EXPECT_EQ(Body({Out("B", "")}, "PC"), R"(\cf2B@PC: \cf0\i \i0\cf0\par )");
}

TEST(ChatLogDocument, ReservedCharactersAreEscapedEverywhere) {
    const std::vector<HistoryEntry> history = {
        In(R"(a\b{c})", R"({x}\y\)"),
        Out(R"(}U{)", R"(!\{})"),
        In("P1", "d\xE1l"),
    };
    EXPECT_EQ(Body(history, R"(PC\{7})"), R"(\cf1a\\b\{c\}: \cf0\b \{x\}\\y\\\b0\cf0\par )"
                                          R"(\cf2\}U\{@PC\\\{7\}: \cf0\i\cf3 \\\{\}\i0\cf0\par )"
                                          "\\cf1P1: \\cf0\\b d\xE1l\\b0\\cf0\\par ");
}

// A sender that begins with a digit or a blank would join the colour word
// ("\cf1007"); it gets the word's delimiter blank, every other sender none.
TEST(ChatLogDocument, SenderThatCouldJoinTheColourWordIsDelimited) {
    EXPECT_EQ(Body({In("007@PC", "x")}), R"(\cf1 007@PC: \cf0\b x\b0\cf0\par )");
    EXPECT_EQ(Body({Out(" jan", "x")}), R"(\cf2  jan@PC7: \cf0\i x\i0\cf0\par )");
    EXPECT_EQ(Body({In("-1", "x")}), R"(\cf1-1: \cf0\b x\b0\cf0\par )");
    EXPECT_EQ(Body({In("", "x")}), R"(\cf1: \cf0\b x\b0\cf0\par )");
}

TEST(ChatLogDocument, OtherBytesAreCopiedUnchanged) {
    EXPECT_EQ(Body({In("Ji\xF8\xED", "\xE8\x61j\r\nnov\xFD \xF8\xE1\x64\x65k")}),
              "\\cf1Ji\xF8\xED: \\cf0\\b \xE8\x61j\r\nnov\xFD \xF8\xE1\x64\x65k\\b0\\cf0\\par ");

    // Every byte value but the three reserved ones, the zero byte included.
    std::string all;
    for (int b = 0; b < 256; ++b) {
        if (b != '\\' && b != '{' && b != '}') {
            all.push_back(static_cast<char>(b));
        }
    }
    const std::string text = "x" + all;  // 'x' keeps '!' and '*' away from the front
    EXPECT_EQ(Body({Out(all, text)}, all),
              "\\cf2" + all + "@" + all + ": \\cf0\\i " + text + "\\i0\\cf0\\par ");
}

TEST(ChatLogDocument, UnknownKindIsSkippedAfterTraceBox) {
    RecordingPresenter presenter;
    const std::vector<HistoryEntry> history = {
        In("P1", "a"),
        {7, "X", "lost"},
        Out("U2", "b"),
        {0, "Y", "lost too"},
    };
    EXPECT_EQ(Body(history, "PC7", presenter),
              R"(\cf1P1: \cf0\b a\b0\cf0\par \cf2U2@PC7: \cf0\i b\i0\cf0\par )");

    const auto shown = presenter.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], (ShownMessage{res::String(res::kStrAppTitle),
                                      res::String(res::kStrTraceCodePrefix) + "RichD 1, val 7",
                                      BoxIcon::Exclamation}));
    EXPECT_TRUE(shown[0].text.ends_with("KOD: RichD 1, val 7"));
    EXPECT_EQ(shown[1].text, res::String(res::kStrTraceCodePrefix) + "RichD 1, val 0");
}

// A conversation whose oldest entries were removed says so in its first line.
TEST(ChatLogDocument, RemovedOlderEntriesGiveARedFirstLine) {
    RecordingPresenter presenter;
    const std::string removed = cp1250::FromUtf8(R"(\cf3 Starší zprávy byly odstraněny.\cf0\par )");
    EXPECT_EQ(BuildChatLogDocument({In("P1", "ahoj")}, "PC7", presenter, true),
              kHeader + removed + R"(\cf1P1: \cf0\b ahoj\b0\cf0\par )" + "}");
    EXPECT_EQ(BuildChatLogDocument({}, "PC7", presenter, true), kHeader + removed + "}");
    EXPECT_EQ(BuildChatLogDocument({In("P1", "ahoj")}, "PC7", presenter, false),
              kHeader + R"(\cf1P1: \cf0\b ahoj\b0\cf0\par )" + "}");
    const auto paragraphs =
        ReadRtf(BuildChatLogDocument({In("P1", "ahoj")}, "PC7", presenter, true));
    ASSERT_EQ(paragraphs.size(), 2u);
    ASSERT_EQ(paragraphs[0].runs.size(), 1u);
    EXPECT_EQ(paragraphs[0].runs[0].text, cp1250::FromUtf8("Starší zprávy byly odstraněny."));
    EXPECT_EQ(paragraphs[0].runs[0].rgb, 0xFF0000u);
    EXPECT_FALSE(paragraphs[0].runs[0].bold);
    EXPECT_TRUE(presenter.Shown().empty());
}
