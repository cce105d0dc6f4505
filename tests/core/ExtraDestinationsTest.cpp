// tests/core/ExtraDestinationsTest.cpp
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
