// tests/core/ExtraDestinationsTest.cpp
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Fakes.h"
#include "core/net/AnsweredPeers.h"
#include "core/net/ExtraDestinations.h"
#include "platform/Socket.h"

namespace {

std::vector<std::string> Dotted(const std::vector<uint32_t>& addresses) {
    std::vector<std::string> texts;
    for (const uint32_t address : addresses) {
        texts.push_back(platform::FormatDottedAddress(address));
    }
    return texts;
}
uint32_t Ip(const char* text) {
    return *platform::ParseDottedAddress(text);
}

TEST(ExtraAddresses, ReadsAddressesSubnetsAndNamesAndRefusesTheRest) {
    const ExtraAddressList list = ParseExtraAddresses(
        " 10.1.2.7,10.1.3.0/24;\n pc-jana.firma.cz\t10.1.4.9/32 10.1.2.7 10.1.5.77/26 ");
    ASSERT_EQ(list.entries.size(), 5u);  // the repeated address once
    EXPECT_EQ(list.entries[0].kind, ExtraAddress::Kind::Address);
    EXPECT_EQ(list.entries[1].kind, ExtraAddress::Kind::Subnet);
    EXPECT_EQ(platform::FormatDottedAddress(list.entries[1].address), "10.1.3.255");
    EXPECT_EQ(list.entries[2].hostName, "pc-jana.firma.cz");
    EXPECT_EQ(list.entries[3].kind, ExtraAddress::Kind::Address);  // a /32 is one computer
    EXPECT_EQ(platform::FormatDottedAddress(list.entries[4].address), "10.1.5.127");
    EXPECT_TRUE(list.refused.empty());

    for (const char* wrong :
         {"10.1.2", "10.1.2.256", "10.1.2.0/7", "10.1.2.0/33", "10.1.2.0/", "0.0.0.0", "127.0.0.1",
          "224.0.0.1", "255.255.255.255", "-pc", "pc..cz", "pc/24", "jana@pc", "10.1.2.0/24x"}) {
        EXPECT_FALSE(ParseExtraAddress(wrong)) << wrong;
    }
    std::string many;
    for (int i = 0; i < 300; ++i) {
        many += "10.2." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + " ";
    }
    const ExtraAddressList capped = ParseExtraAddresses(many);
    EXPECT_EQ(capped.entries.size(), ExtraAddressList::kMaxEntries);
    EXPECT_TRUE(capped.tooMany);
    EXPECT_EQ(capped.refused.size(), 44u);
}

TEST(ExtraDestinations, ListedAddressesAndResolvedNamesEachOnce) {
    ExtraDestinations extras{[](const std::string& name, int& error) {
        error = 0;
        return name == "pc-jana" ? std::optional(Ip("10.9.0.5")) : std::nullopt;
    }};
    extras.SetList("10.1.2.7 pc-jana nikde 10.1.3.0/24");
    EXPECT_EQ(Dotted(extras.Destinations()), (std::vector<std::string>{"10.1.2.7", "10.1.3.255"}));
    extras.ResolveNow();  // "nikde" does not resolve: skipped
    EXPECT_EQ(Dotted(extras.Destinations()),
              (std::vector<std::string>{"10.1.2.7", "10.9.0.5", "10.1.3.255"}));
    extras.SetList("pc-jana 10.9.0.5");  // the same address twice: once
    extras.ResolveNow();
    EXPECT_EQ(Dotted(extras.Destinations()), (std::vector<std::string>{"10.9.0.5"}));
}

// Peers beyond a router are answered while heard; those on this computer's
// links are not, and are not asked about again soon.
TEST(AnsweredPeers, AnswersPeersBeyondARouterWhileHeard) {
    FakeClock clock;
    std::vector<uint32_t> asked;
    AnsweredPeers answered{clock, [&](uint32_t address) {
                               asked.push_back(address);
                               return address >> 16 == (Ip("10.7.0.0") >> 16);
                           }};
    answered.Heard(Ip("10.7.0.1"), false);
    answered.Heard(Ip("10.7.0.2"), false);
    answered.Heard(Ip("10.7.0.1"), false);  // again: once, now the latest
    answered.Heard(Ip("172.16.0.9"), false);
    answered.Heard(Ip("172.16.0.9"), false);
    answered.Heard(Ip("10.7.0.3"), true);  // a stranger's goodbye
    EXPECT_EQ(Dotted(answered.Addresses()), (std::vector<std::string>{"10.7.0.2", "10.7.0.1"}));
    EXPECT_EQ(Dotted(asked), (std::vector<std::string>{"10.7.0.1", "10.7.0.2", "172.16.0.9"}));

    // A goodbye ends one at once, 30 s of silence the other.
    answered.Heard(Ip("10.7.0.2"), true);
    clock.Advance(20);
    answered.Heard(Ip("10.7.0.4"), false);
    clock.Advance(11);
    EXPECT_EQ(Dotted(answered.Addresses()), (std::vector<std::string>{"10.7.0.4"}));

    // The address on a link is asked about again after a while.
    clock.Advance(AnsweredPeers::kRecheckAfter);
    answered.Heard(Ip("172.16.0.9"), false);
    EXPECT_EQ(Dotted(asked).back(), "172.16.0.9");
    EXPECT_EQ(asked.size(), 5u);
}

// A flood of announcers: the system is asked a bounded number of times a
// second, and at most kMax peers are answered, the least recently heard going.
TEST(AnsweredPeers, AFloodOfAnnouncersIsBounded) {
    FakeClock clock;
    int asked = 0;
    AnsweredPeers answered{clock, [&](uint32_t) {
                               ++asked;
                               return true;
                           }};
    const uint32_t first = Ip("10.8.0.0");
    uint32_t next = first;
    for (int second = 0; second < 10; ++second, clock.Advance(1)) {
        for (int i = 0; i < 500; ++i) {
            answered.Heard(next++, false);
        }
    }
    EXPECT_EQ(asked, 10 * AnsweredPeers::kChecksPerSecond);
    // The answered are those asked about, each the first of its second.
    const std::vector<uint32_t> addresses = answered.Addresses();
    ASSERT_EQ(addresses.size(), static_cast<size_t>(10 * AnsweredPeers::kChecksPerSecond));
    EXPECT_EQ(addresses.front(), first);

    for (int second = 0; second < 20; ++second, clock.Advance(1)) {
        for (int i = 0; i < AnsweredPeers::kChecksPerSecond; ++i) {
            answered.Heard(next++, false);
        }
    }
    const std::vector<uint32_t> capped = answered.Addresses();
    ASSERT_EQ(capped.size(), AnsweredPeers::kMax);
    EXPECT_EQ(capped.back(), next - 1);
    EXPECT_EQ(capped.front(), next - AnsweredPeers::kMax);
}

}  // namespace
