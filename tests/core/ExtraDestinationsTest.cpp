// tests/core/ExtraDestinationsTest.cpp
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Fakes.h"
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

TEST(ExtraDestinations, RemotePeersLastWhileHeardAtMostTheCapEachOnce) {
    FakeClock clock{1000};
    ExtraDestinations extras{clock, [](const std::string& name, int& error) {
                                 error = 0;
                                 return name == "pc-jana" ? std::optional(Ip("10.9.0.5"))
                                                          : std::nullopt;
                             }};
    extras.SetList("10.1.2.7 pc-jana nikde");
    extras.ResolveNow();
    extras.HeardRemote(Ip("10.1.2.7"), false);  // listed too: once
    extras.HeardRemote(Ip("10.7.0.1"), false);
    EXPECT_EQ(Dotted(extras.Destinations()),
              (std::vector<std::string>{"10.1.2.7", "10.9.0.5", "10.7.0.1"}));

    // A goodbye ends a remote peer at once, 30 s of silence a little later.
    extras.HeardRemote(Ip("10.7.0.1"), true);
    extras.HeardRemote(Ip("10.7.0.2"), false);
    clock.Advance(20);
    extras.HeardRemote(Ip("10.7.0.3"), false);
    clock.Advance(11);
    EXPECT_EQ(Dotted(extras.RemotePeers()), (std::vector<std::string>{"10.7.0.3"}));

    // A flood of announcers: the least recently heard go first.
    for (uint32_t i = 0; i < ExtraDestinations::kMaxRemote + 10; ++i) {
        extras.HeardRemote(Ip("10.8.0.0") + i, false);
    }
    const std::vector<uint32_t> remote = extras.RemotePeers();
    ASSERT_EQ(remote.size(), ExtraDestinations::kMaxRemote);
    EXPECT_EQ(remote.front(), Ip("10.8.0.10"));
    EXPECT_EQ(remote.back(), Ip("10.8.0.0") + ExtraDestinations::kMaxRemote + 9);
}

}  // namespace
