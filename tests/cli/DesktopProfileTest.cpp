// tests/cli/DesktopProfileTest.cpp
#include <gtest/gtest.h>

#include "cli/DesktopProfile.h"
#include "cli/Identity.h"
#include "core/Fakes.h"
#include "core/MemoryProfile.h"
#include "core/net/Packet.h"
#include "core/res/Cp1250.h"

namespace {

std::string Cp(const char* utf8) {
    return cp1250::FromUtf8(utf8);
}

// As Qt 6's QSettings writes the desktop program's settings: UTF-8 as it is,
// control characters escaped, quotes around special characters and edge spaces.
const char* const kWrittenByQt =
    "[General]\n"
    "UserName=not the section's\n"
    "\n"
    "[Settings]\n"
    "AboutMePeriod=7\n"
    "GroupName=\"Účtárna, 2. patro; \\\"A\\\" \\\\ tab\\there\"\n"
    "UserName=Jiří Čermák\n"
    "SoundFolder=\"@@Mine  \"\n"
    "Transpareny=abc\n";

TEST(DesktopProfileTest, ReadsTheSettingsAsQtWritesThem) {
    const IniProfile profile(kWrittenByQt);
    EXPECT_EQ(profile.ReadString("Settings", "UserName"), Cp("Jiří Čermák"));
    EXPECT_EQ(profile.ReadString("Settings", "GroupName"),
              Cp("Účtárna, 2. patro; \"A\" \\ tab\there"));
    EXPECT_EQ(profile.ReadString("Settings", "SoundFolder"), "@Mine  ");
    EXPECT_EQ(profile.ReadInt("Settings", "AboutMePeriod"), 7);
    EXPECT_FALSE(profile.ReadInt("Settings", "Transpareny"));
    EXPECT_FALSE(profile.ReadString("Settings", "IconsType"));
}

TEST(DesktopProfileTest, ReadsWhatQtReadsFromAHandEditedFile) {
    const IniProfile profile(
        "\xEF\xBB\xBF; comment\r\n"
        "[Settings]\r\n"
        "UserName = Ji\\x159\\xed  ; the rest is a comment\r\n"
        "GroupName=a, b ,c\r\n"
        "Sound%46older=@String(x)\r\n"
        "IconsSize=\"12\"\r\n"
        "IconsType=@Invalid()\r\n"
        "InactivityMinutes= -3 \r\n"
        "BTooltipTimeout=99999999999\r\n"
        "[Other]\r\n"
        "UserName=elsewhere\r\n"
        "[Settings]\r\n"
        "TopMost=line\\\r\n"
        "  continued\r\n");
    EXPECT_EQ(profile.ReadString("Settings", "UserName"), Cp("Jiří"));
    EXPECT_EQ(profile.ReadString("Settings", "GroupName"), "a, b, c");
    EXPECT_EQ(profile.ReadString("Settings", "SoundFolder"), "x");
    EXPECT_EQ(profile.ReadInt("Settings", "IconsSize"), 12);
    EXPECT_FALSE(profile.ReadString("Settings", "IconsType"));
    EXPECT_EQ(profile.ReadInt("Settings", "InactivityMinutes"), -3);
    EXPECT_FALSE(profile.ReadInt("Settings", "BTooltipTimeout"));
    EXPECT_EQ(profile.ReadString("Settings", "TopMost"), "line  continued");
    EXPECT_FALSE(IniProfile("UserName=x\n").ReadString("Settings", "UserName"));
}

// Sections and names come in code page 1250 like every text of the core;
// QSettings writes a section "General" as "[%General]".
TEST(DesktopProfileTest, FindsTheKeysTheProgramNames) {
    const IniProfile profile(
        "[%General]\n"
        "UserName=a\n"
        "[Okna%20a%20li%U0161ty]\n"
        "%U0160%ED%U0159ka=b\n");
    EXPECT_EQ(profile.ReadString("General", "UserName"), "a");
    EXPECT_FALSE(profile.ReadString("general", "UserName"));
    EXPECT_EQ(profile.ReadString(Cp("Okna a lišty"), Cp("Šířka")), "b");
}

TEST(IdentityTest, AnnouncesTheOptionsOverTheSettingsOverTheDefaults) {
    const FixedNames names("logon", "PC");
    Arguments arguments;
    MemoryProfile empty;
    AppState first;
    ASSERT_EQ(PrepareIdentity(first, empty, names, arguments), "");
    AppState::Identity identity = first.PresenceIdentity();
    EXPECT_EQ(identity.userName, "logon");
    EXPECT_EQ(identity.computerName, "PC");
    EXPECT_EQ(identity.groupName, Cp("Připojeni"));
    EXPECT_EQ(identity.status, 0);

    // The stored name counts only where the desktop program would use it.
    IniProfile settings("[Settings]\nUserName=Jan\nWindowsUserName=0\nGroupName=Vývoj\n");
    AppState stored;
    ASSERT_EQ(PrepareIdentity(stored, settings, names, arguments), "");
    EXPECT_EQ(stored.PresenceIdentity().userName, "Jan");
    EXPECT_EQ(stored.PresenceIdentity().groupName, Cp("Vývoj"));
    AppState logon;
    ASSERT_EQ(PrepareIdentity(logon, IniProfile("[Settings]\nUserName=Jan\n"), names, arguments),
              "");
    EXPECT_EQ(logon.PresenceIdentity().userName, "logon");

    arguments.name = "Robot Řehoř";
    arguments.group = "Stroje";
    arguments.status = 2;
    AppState options;
    ASSERT_EQ(PrepareIdentity(options, settings, names, arguments), "");
    identity = options.PresenceIdentity();
    EXPECT_EQ(identity.userName, Cp("Robot Řehoř"));
    EXPECT_EQ(identity.groupName, "Stroje");
    EXPECT_EQ(identity.status, 2);
}

TEST(IdentityTest, CutsALongNameOrGroupToItsFieldAndRefusesControlCharacters) {
    const FixedNames names("logon", "COMPUTER");
    MemoryProfile empty;
    Arguments arguments;
    arguments.name = std::string(39, 'n');  // with "@COMPUTER": 48 bytes
    arguments.group = std::string(48, 'g');
    AppState state;
    ASSERT_EQ(PrepareIdentity(state, empty, names, arguments), "");
    // The presence as the endpoint builds it: 47 bytes of each and the NUL.
    const AppState::Identity identity = state.PresenceIdentity();
    PacketBuffer packet;
    BuildPresence(packet, identity.status, identity.userName, identity.computerName,
                  identity.groupName);
    const DatagramView presence(packet.data(), kPresenceLength);
    EXPECT_EQ(presence.PresenceName(), std::string(39, 'n') + "@COMPUTE");
    EXPECT_EQ(presence.PresenceGroup(), std::string(47, 'g'));
    EXPECT_EQ(packet.bytes[kPresenceNameOffset + 47], 0);
    EXPECT_EQ(packet.bytes[kPresenceGroupOffset + 47], 0);

    arguments.name = "Robot\x1b[31m";  // an escape sequence
    EXPECT_EQ(PrepareIdentity(state, empty, names, arguments),
              "--name: the control character U+001B cannot be announced");
    arguments.name = "Robot";
    arguments.group = "Ωmega";
    EXPECT_EQ(PrepareIdentity(state, empty, names, arguments),
              "--group: the character 'Ω' (U+03A9) has no place in code page 1250, the "
              "network's encoding");
}

}  // namespace
