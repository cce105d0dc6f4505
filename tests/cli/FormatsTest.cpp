// tests/cli/FormatsTest.cpp
#include <gtest/gtest.h>

#include "cli/Formats.h"
#include "cli/Text.h"
#include "core/res/Cp1250.h"

namespace {

// Code page 1250 bytes of a UTF-8 literal.
std::string Cp(const char* utf8) {
    return cp1250::FromUtf8(utf8);
}

Peer Alice() {
    return Peer{"10.0.0.7", Cp("Žofie@PC-ŘEŠ"), Cp("Připojeni"), 1, 100};
}

TEST(TextTest, TakesOnlyWhatCodePage1250Holds) {
    std::string error;
    EXPECT_EQ(clitext::ToCp1250("Příliš žluťoučký kůň € „x“", error),
              Cp("Příliš žluťoučký kůň € „x“"));
    EXPECT_FALSE(clitext::ToCp1250("Ahoj 😀", error));
    EXPECT_EQ(error,
              "the character '😀' (U+1F600) has no place in code page 1250, the "
              "network's encoding");
    EXPECT_FALSE(clitext::ToCp1250(std::string("a\0b", 3), error));
    EXPECT_NE(error.find("NUL"), std::string::npos);
    // Cut-off, overlong and surrogate sequences are not UTF-8.
    for (const char* bad : {"\xC5", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}) {
        EXPECT_FALSE(clitext::ToCp1250(bad, error)) << bad;
        EXPECT_EQ(error, "the text is not valid UTF-8");
    }
}

// A message arrives whole or is not sent: at most 503 bytes in code page 1250,
// however many UTF-8 bytes it took to type.
TEST(TextTest, AMessageIsRefusedUnlessItArrivesWhole) {
    std::string error;
    const std::string fits(503, 'x');
    EXPECT_EQ(clitext::MessageText(fits, false, error), fits);
    EXPECT_EQ(clitext::MessageText(fits + "\r\n\n", true, error), fits);
    EXPECT_EQ(clitext::MessageText(std::string(251, 'x') + "\xC5\x99" + std::string(251, 'x'),
                                   false, error)
                  ->size(),
              503u);
    EXPECT_FALSE(clitext::MessageText(fits + "y", false, error));
    EXPECT_NE(error.find("takes 504 bytes in code page 1250; at most 503"), std::string::npos);
    // Line breaks end only what standard input gives.
    EXPECT_EQ(clitext::MessageText("a\n", false, error), "a\n");
    EXPECT_FALSE(clitext::MessageText("\n\r\n", true, error));
    EXPECT_NE(error.find("empty"), std::string::npos);
}

TEST(TextTest, FoldsEveryCapitalOfTheCodePageToItsSmallLetter) {
    EXPECT_EQ(clitext::FoldCase(Cp("ABCZ ÁÂĂÄĹĆÇČÉĘËĚÍÎĎĐŃŇÓÔŐÖŔŘŮÚŰÜÝŢ ŁĽŚŠŞŤŹŽŻĄ")),
              Cp("abcz áâăäĺćçčéęëěíîďđńňóôőöŕřůúűüýţ łľśšşťźžżą"));
    // Small letters, signs and bytes without a character stay.
    const std::string others = Cp("ßąž×÷€@[`{ 09") + "\x81\x98";
    EXPECT_EQ(clitext::FoldCase(others), others);
}

TEST(TextTest, EscapesJsonAndOneLineText) {
    EXPECT_EQ(clitext::JsonString("a\"b\\c/ř\n\r\t\b\f\x01\x1f\x7f"),
              "\"a\\\"b\\\\c/ř\\n\\r\\t\\b\\f\\u0001\\u001f\x7f\"");
    EXPECT_EQ(clitext::OneLine("řádek 1\nřádek\t2\\\x01\x7f"), "řádek 1\\nřádek\\t2\\\\\\x01\\x7f");
}

TEST(FormatsTest, PrintsPeersAsAlignedTableAndAsJson) {
    Peer bob{"10.0.0.12", "bob@x", Cp("Vývoj"), 4, 140};
    const std::vector<Peer> peers = {Alice(), bob};
    // Columns line up in characters, not bytes.
    EXPECT_EQ(formats::PeersTable(peers, 142, false),
              "ADDRESS    NAME          GROUP      STATUS       HEARD\n"
              "10.0.0.7   Žofie@PC-ŘEŠ  Připojeni  Pryč (1)     42 s\n"
              "10.0.0.12  bob@x         Vývoj      Odpojen (4)  2 s\n");
    EXPECT_EQ(formats::PeersTable({}, 0, true),
              "\x1b[1mADDRESS  NAME  GROUP  STATUS  HEARD\x1b[0m\n");
    EXPECT_EQ(formats::PeersJson({bob}, 142),
              "[{\"address\":\"10.0.0.12\",\"name\":\"bob@x\",\"group\":\"Vývoj\",\"status\":4,"
              "\"statusText\":\"Odpojen\",\"lastHeardSeconds\":2}]\n");
    EXPECT_EQ(formats::PeersJson({}, 0), "[]\n");
}

TEST(FormatsTest, PrintsEachEventOnOneLineOrAsOneObject) {
    PeerEvent event;
    event.peer = Alice();
    event.kind = PeerEventKind::Message;
    event.text = Cp("Ahoj \"všichni\"\ndruhý řádek");
    EXPECT_EQ(formats::EventLine(event, "T", false),
              "T message 10.0.0.7 Žofie@PC-ŘEŠ: Ahoj \"všichni\"\\ndruhý řádek\n");
    EXPECT_EQ(formats::EventJson(event, 7),
              "{\"time\":7,\"event\":\"message\",\"address\":\"10.0.0.7\",\"name\":"
              "\"Žofie@PC-ŘEŠ\",\"group\":\"Připojeni\",\"status\":1,\"statusText\":\"Pryč\","
              "\"text\":\"Ahoj \\\"všichni\\\"\\ndruhý řádek\"}\n");

    event.kind = PeerEventKind::StatusChanged;
    event.previousStatus = 0;
    EXPECT_EQ(formats::EventLine(event, "T", true),
              "T \x1b[33mstatus\x1b[0m 10.0.0.7 Žofie@PC-ŘEŠ: Pryč (1), was OK (0)\n");
    EXPECT_NE(
        formats::EventJson(event, 7).find(",\"previousStatus\":0,\"previousStatusText\":\"OK\"}"),
        std::string::npos);

    event.kind = PeerEventKind::WentSilent;
    event.peer.status = 4;
    event.silentSeconds = 31;
    EXPECT_EQ(formats::EventLine(event, "T", false),
              "T silent 10.0.0.7 Žofie@PC-ŘEŠ: Odpojen (4), nothing heard for 31 s\n");
    event.kind = PeerEventKind::Appeared;
    event.peer.status = 9;  // outside the table: the number alone
    EXPECT_EQ(formats::EventLine(event, "T", false),
              "T appeared 10.0.0.7 Žofie@PC-ŘEŠ: (9), group Připojeni\n");
    EXPECT_NE(formats::EventJson(event, 7).find("\"status\":9,\"statusText\":\"\"}"),
              std::string::npos);
    event.kind = PeerEventKind::GroupAssigned;
    event.text = Cp("Účtárna");
    EXPECT_EQ(formats::EventLine(event, "T", false), "T group 10.0.0.7: Účtárna\n");
    EXPECT_EQ(formats::EventJson(event, 7),
              "{\"time\":7,\"event\":\"group\",\"address\":\"10.0.0.7\",\"group\":\"Účtárna\"}\n");
}

}  // namespace
