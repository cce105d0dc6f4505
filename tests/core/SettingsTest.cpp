// tests/core/SettingsTest.cpp
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "core/Fakes.h"
#include "core/MemoryProfile.h"
#include "core/res/Cp1250.h"
#include "core/settings/AppState.h"
#include "core/settings/Settings.h"

namespace {

const std::vector<std::string> kValueNames = {
    "UserName",        "SoundFolder",     "ShowMySelf",        "SoundsInDNDState",
    "IconsType",       "IconsSize",       "GroupName",         "PlaySounds",
    "Notifications",   "WindowsUserName", "TopMost",           "Transpareny",
    "AboutMePeriod",   "CheckActivity",   "InactivityMinutes", "EnableConnectMsg",
    "EnableDisconMsg", "BTooltipTimeout", "OnNewUserMessage",  "OpenOnClickTooTip",
};

// Remembers every access, in order, as "S:name" or "I:name" (reads) and
// "S=name" or "I=name" (writes); delegates to a memory profile.
class TracingProfile final : public Profile {
public:
    std::optional<std::string> ReadString(const std::string& section,
                                          const std::string& name) const override {
        m_trace.push_back(section + " S:" + name);
        return m_store.ReadString(section, name);
    }
    std::optional<int32_t> ReadInt(const std::string& section,
                                   const std::string& name) const override {
        m_trace.push_back(section + " I:" + name);
        return m_store.ReadInt(section, name);
    }
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override {
        m_trace.push_back(section + " S=" + name);
        m_store.WriteString(section, name, value);
    }
    void WriteInt(const std::string& section, const std::string& name, int32_t value) override {
        m_trace.push_back(section + " I=" + name);
        m_store.WriteInt(section, name, value);
    }
    std::vector<std::string> Trace() const { return m_trace; }

private:
    MemoryProfile m_store;
    mutable std::vector<std::string> m_trace;
};

std::vector<std::string> ExpectedTrace(const std::string& op) {
    std::vector<std::string> trace;
    for (const std::string& name : kValueNames) {
        const bool isString = name == "UserName" || name == "SoundFolder" || name == "GroupName";
        trace.push_back(std::string("Settings ") + (isString ? "S" : "I") + op + name);
    }
    return trace;
}

SettingsRecord StartWith(const MemoryProfile& profile, AppState& state,
                         const std::string& logon = "jnovak") {
    LoadSettings(state, profile);
    ApplyDerivedDefaults(state, FixedNames(logon, "PC-07"));
    return state.Settings();
}

}  // namespace

TEST(Settings, FirstRunGivesTheDefaultsAndDerivedValuesWithoutWriting) {
    MemoryProfile profile;
    EXPECT_EQ(LoadSettings(profile), SettingsRecord{});

    AppState state;
    state.SetOwnStatus(AtLunch);
    state.SetStatusBeforeAway(DoNotDisturb);
    const SettingsRecord s = StartWith(profile, state);

    SettingsRecord expected;
    expected.userName = "jnovak";
    expected.soundFolder = "Standard";
    expected.groupName = "P\xF8ipojeni";  // "Připojeni" in code page 1250
    EXPECT_EQ(s, expected);
    EXPECT_EQ(s.groupName, cp1250::FromUtf8("Připojeni"));
    EXPECT_EQ(s.transpareny, 50);
    EXPECT_FALSE(s.topMost);
    EXPECT_FALSE(s.checkActivity);
    EXPECT_EQ(s.aboutMePeriod, 5);
    EXPECT_EQ(s.inactivityMinutes, 10);
    EXPECT_EQ(s.bTooltipTimeout, 15);
    EXPECT_EQ(state.ComputerName(), "PC-07");
    EXPECT_EQ(state.OwnStatus(), Ready);
    EXPECT_EQ(state.StatusBeforeAway(), -1);
    EXPECT_EQ(profile.WriteCount(), 0);
    EXPECT_FALSE(profile.Has(kSettingsSection, "UserName"));
}

TEST(Settings, LoadReadsAndSaveWritesTheTwentyValuesInTableOrder) {
    TracingProfile profile;
    const SettingsRecord loaded = LoadSettings(profile);
    EXPECT_EQ(profile.Trace(), ExpectedTrace(":"));

    TracingProfile target;
    SaveSettings(target, loaded);
    EXPECT_EQ(target.Trace(), ExpectedTrace("="));
}

TEST(Settings, AnyNonZeroNumberSetsAFlagAndIsWrittenBackAsOne) {
    MemoryProfile profile;
    profile.WriteInt(kSettingsSection, "TopMost", 7);
    profile.WriteInt(kSettingsSection, "CheckActivity", -1);
    profile.WriteInt(kSettingsSection, "PlaySounds", 0);
    profile.WriteInt("Other", "ShowMySelf", 1);  // another section is not read

    const SettingsRecord s = LoadSettings(profile);
    EXPECT_TRUE(s.topMost);
    EXPECT_TRUE(s.checkActivity);
    EXPECT_FALSE(s.playSounds);
    EXPECT_FALSE(s.showMySelf);

    SaveSettings(profile, s);
    EXPECT_EQ(profile.ReadInt(kSettingsSection, "TopMost"), 1);
    EXPECT_EQ(profile.ReadInt(kSettingsSection, "CheckActivity"), 1);
    EXPECT_EQ(profile.ReadInt(kSettingsSection, "PlaySounds"), 0);
    EXPECT_EQ(profile.ReadInt(kSettingsSection, "ShowMySelf"), 0);
    EXPECT_EQ(profile.ReadInt(kSettingsSection, "SoundsInDNDState"), 1);
}

TEST(Settings, LogonNameReplacesTheStoredNameUnlessSwitchedOffAndNotEmpty) {
    struct Case {
        std::optional<int32_t> windowsUserName;
        std::string stored;
        std::string expected;
    };
    const Case cases[] = {
        {1, "Eva", "jnovak"}, {std::nullopt, "Eva", "jnovak"},  // missing flag defaults to set
        {0, "Eva", "Eva"},    {0, "", "jnovak"},
        {1, "", "jnovak"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            c.stored + " / " +
            (c.windowsUserName ? std::to_string(*c.windowsUserName) : std::string("missing")));
        MemoryProfile profile;
        profile.WriteString(kSettingsSection, "UserName", c.stored);
        if (c.windowsUserName) {
            profile.WriteInt(kSettingsSection, "WindowsUserName", *c.windowsUserName);
        }
        AppState state;
        EXPECT_EQ(StartWith(profile, state).userName, c.expected);
        EXPECT_EQ(profile.ReadString(kSettingsSection, "UserName"), c.stored);
    }
}

TEST(Settings, EmptyFolderAndGroupAreReplacedInMemoryAndWrittenOnlyAtSave) {
    MemoryProfile profile;
    profile.WriteString(kSettingsSection, "SoundFolder", "");
    profile.WriteString(kSettingsSection, "GroupName", "");
    const int writesBefore = profile.WriteCount();

    AppState state;
    const SettingsRecord s = StartWith(profile, state);
    EXPECT_EQ(s.soundFolder, "Standard");
    EXPECT_EQ(s.groupName, cp1250::FromUtf8("Připojeni"));
    EXPECT_EQ(profile.WriteCount(), writesBefore);
    EXPECT_EQ(profile.ReadString(kSettingsSection, "SoundFolder"), "");
    EXPECT_EQ(profile.ReadString(kSettingsSection, "GroupName"), "");

    SaveSettings(state, profile);
    EXPECT_EQ(profile.ReadString(kSettingsSection, "SoundFolder"), "Standard");
    EXPECT_EQ(profile.ReadString(kSettingsSection, "GroupName"), cp1250::FromUtf8("Připojeni"));
}

TEST(Settings, StoredFolderAndGroupAreKept) {
    MemoryProfile profile;
    profile.WriteString(kSettingsSection, "SoundFolder", "Retro");
    profile.WriteString(kSettingsSection, "GroupName", cp1250::FromUtf8("Účtárna"));
    AppState state;
    const SettingsRecord s = StartWith(profile, state);
    EXPECT_EQ(s.soundFolder, "Retro");
    EXPECT_EQ(s.groupName, cp1250::FromUtf8("Účtárna"));
}

TEST(Settings, SaveAndLoadKeepEveryValueUnchanged) {
    SettingsRecord odd;
    odd.userName = cp1250::FromUtf8("Žluťoučký kůň");
    odd.soundFolder = "Sch\xE9ma 2";
    odd.showMySelf = true;
    odd.soundsInDndState = false;
    odd.iconsType = -3;
    odd.iconsSize = INT32_MAX;
    odd.groupName = "Dev \"ops\"";
    odd.playSounds = false;
    odd.notifications = false;
    odd.windowsUserName = false;
    odd.topMost = true;
    odd.transpareny = -250;
    odd.aboutMePeriod = INT32_MIN;
    odd.checkActivity = true;
    odd.inactivityMinutes = 0;
    odd.enableConnectMsg = false;
    odd.enableDisconMsg = false;
    odd.bTooltipTimeout = 2'000'000'000;
    odd.onNewUserMessage = true;
    odd.openOnClickTooTip = false;

    MemoryProfile profile;
    SaveSettings(profile, odd);
    EXPECT_EQ(profile.WriteCount(), 20);
    EXPECT_EQ(LoadSettings(profile), odd);

    AppState state;
    LoadSettings(state, profile);
    EXPECT_EQ(state.Settings(), odd);
    MemoryProfile second;
    SaveSettings(state, second);
    EXPECT_EQ(LoadSettings(second), odd);
}

TEST(Settings, SystemNamesAreNeverEmpty) {
    // Either the system's answer or string 129; an empty name would go out on the wire.
    EXPECT_FALSE(QueryWindowsUserName().empty());
    const std::string computer = QueryComputerName();
    EXPECT_FALSE(computer.empty());
    EXPECT_LE(computer.size(), 15u);
    EXPECT_EQ(computer.find('.'), std::string::npos);
}

TEST(AppState, ConcurrentReadersNeverSeeAMixedRecord) {
    SettingsRecord a;
    a.userName = "anna-from-the-accounting-department";
    a.groupName = "accounting-department-second-floor";
    a.aboutMePeriod = 5;
    SettingsRecord b;
    b.userName = "bob";
    b.groupName = "dev";
    b.aboutMePeriod = 7;
    b.soundFolder = "a-sound-folder-name-too-long-for-small-strings";

    AppState state;
    state.SetSettings(a);
    state.SetHostComputerName("PC-07");

    std::atomic<bool> done{false};
    std::atomic<int> identityReads{0};
    std::atomic<int> recordReads{0};
    std::atomic<int> mixed{0};

    std::thread identityReader([&] {
        while (!done.load()) {
            const AppState::Identity id = state.PresenceIdentity();
            const bool ok = (id.userName == a.userName && id.groupName == a.groupName) ||
                            (id.userName == b.userName && id.groupName == b.groupName);
            if (!ok || id.computerName != "PC-07") {
                ++mixed;
            }
            ++identityReads;
        }
    });
    std::thread recordReader([&] {
        while (!done.load()) {
            const SettingsRecord s = state.Settings();
            if (!(s == a || s == b)) {
                ++mixed;
            }
            const bool paired = state.Read([&](const SettingsRecord& r) {
                return r.aboutMePeriod == (r.userName == a.userName ? 5 : 7);
            });
            if (!paired) {
                ++mixed;
            }
            ++recordReads;
        }
    });

    // Keep writing until both readers have overlapped with many writes.
    for (int i = 0; i < 20'000 || identityReads.load() < 2'000 || recordReads.load() < 2'000; ++i) {
        if (i % 2 == 0) {
            state.SetSettings(i % 4 == 0 ? b : a);
        } else {
            state.Modify([&](SettingsRecord& r) { r = (i % 4 == 1) ? a : b; });
        }
        state.SetOwnStatus(static_cast<int16_t>(i % 4));
    }
    done = true;
    identityReader.join();
    recordReader.join();

    EXPECT_EQ(mixed.load(), 0);
    EXPECT_GE(identityReads.load(), 2'000);
    EXPECT_GE(recordReads.load(), 2'000);
}

// Listeners hear every change of the own status or of the settings, with what
// it touched, and nothing that changes nothing; an ended subscription hears
// no more.
TEST(AppState, SubscribersHearWhatChanged) {
    AppState state;
    std::vector<std::string> heard;
    auto subscription = state.Subscribe([&](const AppState::Change& change) {
        heard.push_back(std::string(change.ownStatus ? "status" : "") +
                        (change.settings ? "settings" : "") +
                        (change.aboutMePeriod ? "+period" : ""));
    });
    state.SetOwnStatus(Away);
    state.SetOwnStatus(Away);
    state.Modify([](SettingsRecord& s) { s.userName = "eva"; });
    state.Modify([](SettingsRecord& s) { s.userName = "eva"; });
    state.Modify([](SettingsRecord& s) { s.aboutMePeriod = 9; });
    SettingsRecord record = state.Settings();
    state.SetSettings(record);
    record.aboutMePeriod = 5;
    record.checkActivity = true;
    state.SetSettings(record);
    EXPECT_EQ(heard, (std::vector<std::string>{"status", "settings", "settings+period",
                                               "settings+period"}));

    subscription.Reset();
    state.SetOwnStatus(Ready);
    state.Modify([](SettingsRecord& s) { s.aboutMePeriod = 1; });
    EXPECT_EQ(heard.size(), 4u);
}

// Beside the table: older copies ignore the key, and a profile without it
// gets none until the list is set.
TEST(Settings, ExtraAddressesAreKeptBesideTheTableOnceSet) {
    MemoryProfile profile;
    AppState state;
    LoadSettings(state, profile);
    SaveSettings(state, profile);
    EXPECT_FALSE(profile.ReadString(kSettingsSection, kExtraAddressesKey));
    state.Modify([](SettingsRecord& s) { s.extraAddresses = "10.1.2.0/24 pc-jana"; });
    SaveSettings(state, profile);
    AppState loaded;
    LoadSettings(loaded, profile);
    EXPECT_EQ(loaded.Settings().extraAddresses, "10.1.2.0/24 pc-jana");
    loaded.Modify([](SettingsRecord& s) { s.extraAddresses.clear(); });
    SaveSettings(loaded, profile);
    EXPECT_EQ(profile.ReadString(kSettingsSection, kExtraAddressesKey), "");
}
