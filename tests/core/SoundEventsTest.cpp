// tests/core/SoundEventsTest.cpp
#include <gtest/gtest.h>

#include "core/Fakes.h"
#include "core/MemoryProfile.h"
#include "core/res/Strings.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"

namespace {

using Paths = std::vector<std::string>;

class SoundEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        MemoryProfile firstRun;
        LoadSettings(state, firstRun);
        ApplyDerivedDefaults(state, FixedNames("jnovak", "PC-07"));
    }
    void Set(void (*change)(SettingsRecord&)) { state.Modify(change); }

    AppState state;
    FakeClock clock{1'700'000'000};
    RecordingPlayer player;
    SoundEvents sounds{state, clock, player};
};

}  // namespace

TEST_F(SoundEventsTest, FirstRunPlaysFromTheStandardScheme) {
    sounds.PlayEventSound(res::kStrOnlineWav);
    EXPECT_EQ(player.Played(), (Paths{"Sounds/Standard/online.wav"}));
}

TEST(SoundPath, JoinsBaseFolderSchemeAndFileName) {
    EXPECT_EQ(SoundEvents::SoundPath("Standard", res::kStrAwayWav), "Sounds/Standard/Away.wav");
    EXPECT_EQ(SoundEvents::SoundPath("Standard", res::kStrLunchWav), "Sounds/Standard/Lunch.wav");
    EXPECT_EQ(SoundEvents::SoundPath("Standard", res::kStrOfflineWav),
              "Sounds/Standard/offline.wav");
    EXPECT_EQ(SoundEvents::SoundPath("Standard", res::kStrMessageWav),
              "Sounds/Standard/message.wav");
    EXPECT_EQ(SoundEvents::SoundPath("Standard", res::kStrDndWav), "Sounds/Standard/DND.wav");
    EXPECT_EQ(SoundEvents::SoundPath("Standard", res::kStrBellWav), "Sounds/Standard/Bell.wav");
    EXPECT_EQ(SoundEvents::SoundPath("Standard", res::kStrSmallMsgWav),
              "Sounds/Standard/SmallMsg.wav");
    EXPECT_EQ(SoundEvents::SoundPath("", res::kStrOnlineWav), "Sounds//online.wav");
}

TEST_F(SoundEventsTest, EventsThreeSecondsApartAreBothHeard) {
    sounds.PlayEventSound(res::kStrOnlineWav);
    clock.Advance(3);
    sounds.PlayEventSound(res::kStrAwayWav);
    EXPECT_EQ(player.Played(), (Paths{"Sounds/Standard/online.wav", "Sounds/Standard/Away.wav"}));
}

TEST_F(SoundEventsTest, ASecondEventWithinThreeSecondsIsDroppedNotDelayed) {
    sounds.PlayEventSound(res::kStrOnlineWav);
    clock.Advance(1);
    sounds.PlayEventSound(res::kStrBellWav);
    clock.Advance(1);
    sounds.PlayEventSound(res::kStrBellWav);
    EXPECT_EQ(player.Played(), (Paths{"Sounds/Standard/online.wav"}));

    // Dropped events do not move the throttle: 3 s after the first sound plays again.
    clock.Advance(1);
    sounds.PlayEventSound(res::kStrDndWav);
    EXPECT_EQ(player.Played(), (Paths{"Sounds/Standard/online.wav", "Sounds/Standard/DND.wav"}));
}

TEST_F(SoundEventsTest, ClockSetBackStaysMutedUntilItPassesTheLastSound) {
    const int64_t played = clock.NowSeconds();
    sounds.PlayEventSound(res::kStrOnlineWav);
    clock.Set(played - 60);
    sounds.PlayEventSound(res::kStrAwayWav);
    clock.Set(played + 2);
    sounds.PlayEventSound(res::kStrAwayWav);
    EXPECT_EQ(player.Played().size(), 1u);

    clock.Set(played + 3);
    sounds.PlayEventSound(res::kStrLunchWav);
    EXPECT_EQ(player.Played(), (Paths{"Sounds/Standard/online.wav", "Sounds/Standard/Lunch.wav"}));
}

TEST_F(SoundEventsTest, PlaySoundsOffSilencesEveryEventInEveryStatus) {
    Set([](SettingsRecord& s) { s.playSounds = false; });
    for (const int16_t status : {Ready, Away, DoNotDisturb, AtLunch}) {
        state.SetOwnStatus(status);
        sounds.PlayEventSound(res::kStrMessageWav);
        clock.Advance(10);
    }
    EXPECT_TRUE(player.Played().empty());
}

TEST_F(SoundEventsTest, DoNotDisturbMutesUnlessSoundsAreWantedThen) {
    Set([](SettingsRecord& s) { s.soundsInDndState = false; });
    state.OnStatusDoNotDisturb();
    sounds.PlayEventSound(res::kStrBellWav);
    EXPECT_TRUE(player.Played().empty());

    // A muted event does not start the throttle.
    clock.Advance(1);
    state.OnStatusAway();
    sounds.PlayEventSound(res::kStrBellWav);
    clock.Advance(3);
    state.OnStatusAtLunch();
    sounds.PlayEventSound(res::kStrLunchWav);
    EXPECT_EQ(player.Played(), (Paths{"Sounds/Standard/Bell.wav", "Sounds/Standard/Lunch.wav"}));

    Set([](SettingsRecord& s) { s.soundsInDndState = true; });
    state.OnStatusDoNotDisturb();
    clock.Advance(3);
    sounds.PlayEventSound(res::kStrDndWav);
    EXPECT_EQ(player.Played().back(), "Sounds/Standard/DND.wav");
    EXPECT_EQ(player.Played().size(), 3u);
}

TEST_F(SoundEventsTest, EmptyFolderPlaysFromTheBaseFolder) {
    Set([](SettingsRecord& s) { s.soundFolder.clear(); });
    sounds.PlayEventSound(res::kStrOnlineWav);
    EXPECT_EQ(player.Played(), (Paths{"Sounds//online.wav"}));
}

TEST_F(SoundEventsTest, MissingFolderStillAsksThePlayerAndStartsTheThrottle) {
    Set([](SettingsRecord& s) { s.soundFolder = "NoSuchScheme"; });
    sounds.PlayEventSound(res::kStrBellWav);
    clock.Advance(2);
    sounds.PlayEventSound(res::kStrBellWav);
    clock.Advance(1);
    sounds.PlayEventSound(res::kStrMessageWav);
    EXPECT_EQ(player.Played(),
              (Paths{"Sounds/NoSuchScheme/Bell.wav", "Sounds/NoSuchScheme/message.wav"}));
}

TEST_F(SoundEventsTest, SchemeChangedOnTheFlyIsUsedAtTheNextEvent) {
    sounds.PlayEventSound(res::kStrOnlineWav);
    Set([](SettingsRecord& s) { s.soundFolder = "Retro"; });
    clock.Advance(3);
    sounds.PlayEventSound(res::kStrOnlineWav);
    EXPECT_EQ(player.Played(), (Paths{"Sounds/Standard/online.wav", "Sounds/Retro/online.wav"}));
}
