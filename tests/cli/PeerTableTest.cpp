// tests/cli/PeerTableTest.cpp
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "cli/PeerTable.h"
#include "core/base/Log.h"
#include "core/net/Packet.h"
#include "core/res/Cp1250.h"
#include "core/settings/AppState.h"

namespace {

std::vector<uint8_t> Bytes(const PacketBuffer& packet, size_t length) {
    return std::vector<uint8_t>(packet.bytes.begin(), packet.bytes.begin() + length);
}
std::vector<uint8_t> Presence(int16_t status, const char* user, const char* computer = "pc") {
    PacketBuffer packet;
    BuildPresence(packet, status, user, computer, "G");
    return Bytes(packet, kPresenceLength);
}
std::vector<uint8_t> Header(int16_t type, int16_t subtype) {
    PacketBuffer packet;
    packet.SetHeader(type, subtype);
    return Bytes(packet, 4);
}

// The core's warnings, as the command-line peer would print them.
class Warnings final : public LogSink {
public:
    Warnings() { corelog::SetSink(this); }
    ~Warnings() override { corelog::SetSink(nullptr); }
    Warnings(const Warnings&) = delete;
    Warnings& operator=(const Warnings&) = delete;
    void Write(LogLevel level, std::string_view, std::string_view text) override {
        if (level == LogLevel::Warning) {
            lines.emplace_back(text);
        }
    }
    std::vector<std::string> lines;
};

class PeerTableTest : public testing::Test {
protected:
    std::optional<PeerEvent> Receive(const std::vector<uint8_t>& datagram,
                                     const std::string& sender, int64_t now = 100) {
        return table.Receive(datagram.data(), datagram.size(), sender, now);
    }
    AppState state;
    PeerTable table{state};
};

TEST_F(PeerTableTest, PresenceMakesAPeerAndReportsItsStatusChanges) {
    auto event = Receive(Presence(2, "jan"), "10.0.0.2");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PeerEventKind::Appeared);
    EXPECT_EQ(event->peer.name, "jan@pc");
    EXPECT_EQ(event->peer.status, 2);  // as announced
    EXPECT_FALSE(Receive(Presence(2, "jan"), "10.0.0.2", 105));
    EXPECT_EQ(table.Peers().at(0).lastHeard, 105);

    event = Receive(Presence(4, "jan", "nb"), "10.0.0.2", 106);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PeerEventKind::StatusChanged);
    EXPECT_EQ(event->previousStatus, 2);
    EXPECT_EQ(event->peer.name, "jan@nb");
    // A goodbye from an address never heard makes nobody; a cut-off presence neither.
    EXPECT_FALSE(Receive(Presence(4, "eva"), "10.0.0.3"));
    EXPECT_FALSE(Receive(Header(1, 1), "10.0.0.4"));
    EXPECT_EQ(table.Peers().size(), 1u);
}

TEST_F(PeerTableTest, MessagesAndBellsCountOnlyFromPeersHeardBefore) {
    const std::vector<uint8_t> text = {1, 0, 2, 0, 'A', 'h', 'o', 'j', 0};
    EXPECT_FALSE(Receive(text, "10.0.0.2"));
    EXPECT_FALSE(Receive(Header(2, 2), "10.0.0.2"));
    Receive(Presence(0, "jan"), "10.0.0.2");
    auto event = Receive(text, "10.0.0.2");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PeerEventKind::Message);
    EXPECT_EQ(event->text, "Ahoj");
    // Any subtype of type 2 is a bell; typing notices and unknown kinds print nothing.
    event = Receive(Header(2, 7), "10.0.0.2");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PeerEventKind::Bell);
    EXPECT_FALSE(Receive(Header(1, 8), "10.0.0.2"));
    EXPECT_FALSE(Receive(Header(5, 1), "10.0.0.2"));
    // A text without its NUL is read within the received bytes.
    const std::vector<uint8_t> cut = {1, 0, 2, 0, 'a', 'b'};
    EXPECT_EQ(Receive(cut, "10.0.0.2")->text, "ab");
    // A group assignment counts from anybody, and holds for this run.
    PacketBuffer group;
    BuildGroupAssignment(group, "Nová");
    const std::vector<uint8_t> assignment = Bytes(group, 4 + 5);
    event = Receive(assignment, "10.0.0.9", 100);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PeerEventKind::GroupAssigned);
    EXPECT_EQ(event->text, "Nová");
    EXPECT_EQ(state.PresenceIdentity().groupName, "Nová");
}

TEST_F(PeerTableTest, ScanMarksEveryPeerSilentForMoreThan30Seconds) {
    Receive(Presence(0, "a"), "10.0.0.1", 100);
    Receive(Presence(1, "b"), "10.0.0.2", 100);
    Receive(Presence(4, "b"), "10.0.0.2", 100);  // said goodbye: never marked again
    Receive(Presence(3, "c"), "10.0.0.3", 100);
    EXPECT_TRUE(table.Scan(130).empty());
    const std::vector<PeerEvent> events = table.Scan(131);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, PeerEventKind::WentSilent);
    EXPECT_EQ(events[0].peer.address, "10.0.0.1");
    EXPECT_EQ(events[0].silentSeconds, 31);
    EXPECT_EQ(events[1].peer.address, "10.0.0.3");
    EXPECT_EQ(events[1].previousStatus, 3);
    EXPECT_TRUE(table.Scan(134).empty());
    // Heard again, it is back as a status change.
    auto event = Receive(Presence(0, "a"), "10.0.0.1", 140);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PeerEventKind::StatusChanged);
}

// A flood from spoofed addresses: a /16 of peers, no more.
TEST_F(PeerTableTest, KeepsAtMostMaxPeersAndCountsAndLogsTheNewAddressesDropped) {
    Warnings warnings;
    const std::vector<uint8_t> presence = Presence(0, "x");
    for (size_t i = 0; i < PeerTable::kMaxPeers; ++i) {
        const std::string address = "10." + std::to_string(i >> 16) + "." +
                                    std::to_string(i >> 8 & 255) + "." + std::to_string(i & 255);
        ASSERT_TRUE(Receive(presence, address)) << address;
    }
    EXPECT_FALSE(Receive(presence, "10.1.0.0", 100));
    EXPECT_FALSE(Receive(presence, "10.1.0.1", 159));
    EXPECT_EQ(table.Peers().size(), PeerTable::kMaxPeers);
    EXPECT_EQ(table.DroppedPeers(), 2u);
    // One warning a run; a drop after a quiet minute starts the next.
    EXPECT_FALSE(Receive(presence, "10.1.0.2", 219));
    EXPECT_EQ(warnings.lines,
              (std::vector<std::string>{
                  "The table holds 65536 peers, the most it takes: the announcement of 10.1.0.0 "
                  "was dropped; new peers dropped since the start: 1.",
                  "The table holds 65536 peers, the most it takes: the announcement of 10.1.0.2 "
                  "was dropped; new peers dropped since the start: 3."}));
    // The peers it holds are still heard.
    const auto event = Receive(Presence(2, "x"), "10.0.255.255", 220);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PeerEventKind::StatusChanged);
}

TEST_F(PeerTableTest, FindsPeersByFullNameOrUserPart) {
    Receive(Presence(0, "jan"), "10.0.0.1");
    Receive(Presence(0, "jan@pc"), "10.0.0.2");  // announces "jan@pc@pc"
    Receive(Presence(0, "eva"), "10.0.0.3");
    Receive(Presence(0, "eva", "nb"), "10.0.0.5");
    Receive(Presence(0, "petr"), "10.0.0.4");
    Receive(Presence(4, "petr"), "10.0.0.4");
    // A full name wins over a user part.
    ASSERT_EQ(table.Named("jan@pc").size(), 1u);
    EXPECT_EQ(table.Named("jan@pc")[0].address, "10.0.0.1");
    EXPECT_EQ(table.Named("jan@pc@pc").at(0).address, "10.0.0.2");
    EXPECT_EQ(table.Named("jan").at(0).address, "10.0.0.1");
    EXPECT_EQ(table.Named("eva@nb").at(0).address, "10.0.0.5");
    EXPECT_EQ(table.Named("eva").size(), 2u);
    EXPECT_TRUE(table.Named("petr").empty());  // gone
}

TEST_F(PeerTableTest, AnExactNameWinsElseOnePeerMatchingInAnyCase) {
    const std::string novak = cp1250::FromUtf8("Jiří Novák");
    Receive(Presence(0, novak.c_str(), "sklad"), "10.0.0.1");
    Receive(Presence(0, cp1250::FromUtf8("ŘEHOŘ ŽÁK").c_str(), "PC"), "10.0.0.2");
    Receive(Presence(0, "Jan"), "10.0.0.3");
    Receive(Presence(0, "jan", "nb"), "10.0.0.4");
    Receive(Presence(0, "JAN", "x"), "10.0.0.5");
    for (const char* name : {"jiří novák", "JIŘÍ NOVÁK@SKLAD", "Jiří Novák@Sklad"}) {
        const std::vector<Peer> found = table.Named(cp1250::FromUtf8(name));
        ASSERT_EQ(found.size(), 1u) << name;
        EXPECT_EQ(found[0].address, "10.0.0.1") << name;
    }
    EXPECT_EQ(table.Named(cp1250::FromUtf8("řehoř žák@pc")).at(0).address, "10.0.0.2");
    // Exact first; in any case only one peer may match.
    EXPECT_EQ(table.Named("jan").at(0).address, "10.0.0.4");
    EXPECT_EQ(table.Named("Jan@pc").at(0).address, "10.0.0.3");
    EXPECT_EQ(table.Named("jAN").size(), 3u);
    EXPECT_EQ(table.Named("jan@X").at(0).address, "10.0.0.5");
    EXPECT_TRUE(table.Named(cp1250::FromUtf8("jiri novak")).empty());
}

}  // namespace
