// tests/core/UserStatusTest.cpp
#include <gtest/gtest.h>

#include "core/Fakes.h"
#include "core/res/Cp1250.h"
#include "core/res/Strings.h"
#include "core/settings/AppState.h"
#include "core/settings/InactivityWatch.h"
#include "core/settings/UserStatus.h"

namespace {

constexpr uint32_t kMinute = 60'000;

class FakeIdleProbe final : public IdleInputProbe {
public:
    std::optional<uint32_t> LastInputTick() const override { return m_lastInput; }
    uint32_t TickCount() const override { return m_now; }

    void Input() { m_lastInput = m_now; }
    void Advance(uint32_t ms) { m_now += ms; }  // wraps like the system's counter
    void SetNow(uint32_t now) { m_now = now; }
    void SetLastInput(std::optional<uint32_t> tick) { m_lastInput = tick; }

private:
    uint32_t m_now = 5'000'000;
    std::optional<uint32_t> m_lastInput = 5'000'000;
};

class InactivityWatch : public ::testing::Test {
protected:
    void SetUp() override {
        state.Modify([](SettingsRecord& s) {
            s.checkActivity = true;
            s.inactivityMinutes = 10;
        });
    }
    void SetMinutes(int32_t minutes) {
        state.Modify([&](SettingsRecord& s) { s.inactivityMinutes = minutes; });
    }
    void SetCheckActivity(bool on) {
        state.Modify([&](SettingsRecord& s) { s.checkActivity = on; });
    }
    void Pass() { RunInactivityWatch(state, &probe); }

    AppState state;
    FakeIdleProbe probe;
};

}  // namespace

TEST(StatusShortText, GivesTheTextOfEveryStatus) {
    RecordingPresenter presenter;
    EXPECT_EQ(StatusShortText(Ready, presenter), "OK");
    EXPECT_EQ(StatusShortText(Away, presenter), cp1250::FromUtf8("Pryč"));
    EXPECT_EQ(StatusShortText(DoNotDisturb, presenter), cp1250::FromUtf8("Neruš"));
    EXPECT_EQ(StatusShortText(AtLunch, presenter), cp1250::FromUtf8("Jím"));
    EXPECT_EQ(StatusShortText(Disconnected, presenter), "Odpojen");
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST(StatusShortText, OtherValuesShowTheTraceBoxAndGiveNoText) {
    for (const int16_t value : {int16_t{5}, int16_t{-1}, int16_t{-32768}}) {
        RecordingPresenter presenter;
        EXPECT_EQ(StatusShortText(value, presenter), "");
        const std::string code = "App 1, aSt " + std::to_string(value);
        const std::vector<ShownMessage> shown = presenter.Shown();
        ASSERT_EQ(shown.size(), 1u);
        const ShownMessage& box = shown[0];
        EXPECT_EQ(box.text, res::String(res::kStrTraceCodePrefix) + code);
        EXPECT_EQ(box.text.rfind("Chyba 222 !\n", 0), 0u);
        EXPECT_TRUE(box.text.ends_with("KOD: " + code));
        EXPECT_EQ(box.icon, BoxIcon::Exclamation);
        EXPECT_EQ(box.caption, "Mrmx3");
    }
}

TEST(UserStatus, EachCommandStoresItsStatusAndNothingElse) {
    AppState state;
    state.SetStatusBeforeAway(AtLunch);
    const SettingsRecord before = state.Settings();

    state.OnStatusDoNotDisturb();
    EXPECT_EQ(state.OwnStatus(), DoNotDisturb);
    state.OnStatusAway();
    EXPECT_EQ(state.OwnStatus(), Away);
    state.OnStatusAtLunch();
    EXPECT_EQ(state.OwnStatus(), AtLunch);
    state.OnStatusReady();
    EXPECT_EQ(state.OwnStatus(), Ready);

    EXPECT_EQ(state.StatusBeforeAway(), AtLunch);
    EXPECT_EQ(state.Settings(), before);
}

TEST_F(InactivityWatch, ReadyTurnsAwayAfterTheIdlePeriodAndBackAtInput) {
    probe.Advance(10 * kMinute - 1);
    Pass();
    EXPECT_EQ(state.OwnStatus(), Ready);  // 9 min 59.999 s is 9 whole minutes

    probe.Advance(1);
    Pass();
    EXPECT_EQ(state.OwnStatus(), Away);
    EXPECT_EQ(state.StatusBeforeAway(), Ready);

    probe.Advance(50 * kMinute);
    Pass();  // still idle: nothing saved twice
    EXPECT_EQ(state.OwnStatus(), Away);
    EXPECT_EQ(state.StatusBeforeAway(), Ready);

    probe.Input();
    probe.Advance(kMinute - 1);  // input less than a minute old
    Pass();
    EXPECT_EQ(state.OwnStatus(), Ready);
    EXPECT_EQ(state.StatusBeforeAway(), -1);
}

TEST_F(InactivityWatch, InputAMinuteOldDoesNotEndTheAwayStatus) {
    probe.Advance(10 * kMinute);
    Pass();
    probe.Input();
    probe.Advance(kMinute);
    Pass();
    EXPECT_EQ(state.OwnStatus(), Away);
    EXPECT_EQ(state.StatusBeforeAway(), Ready);
}

TEST_F(InactivityWatch, NineMinutesFiftyNineSecondsChangeNothing) {
    probe.Advance(9 * kMinute + 59'000);
    Pass();
    Pass();
    EXPECT_EQ(state.OwnStatus(), Ready);
    EXPECT_EQ(state.StatusBeforeAway(), -1);
}

TEST_F(InactivityWatch, AtLunchIsNeverReplaced) {
    state.OnStatusAtLunch();
    probe.Advance(600 * kMinute);
    Pass();
    EXPECT_EQ(state.OwnStatus(), AtLunch);
    EXPECT_EQ(state.StatusBeforeAway(), -1);
}

TEST_F(InactivityWatch, DoNotDisturbComesBackAfterAway) {
    state.OnStatusDoNotDisturb();
    probe.Advance(10 * kMinute);
    Pass();
    EXPECT_EQ(state.OwnStatus(), Away);
    probe.Input();
    Pass();
    EXPECT_EQ(state.OwnStatus(), DoNotDisturb);
    EXPECT_EQ(state.StatusBeforeAway(), -1);
}

TEST_F(InactivityWatch, AwayChosenByHandComesBackAsAway) {
    state.OnStatusAway();
    probe.Advance(10 * kMinute);
    Pass();
    EXPECT_EQ(state.OwnStatus(), Away);
    EXPECT_EQ(state.StatusBeforeAway(), Away);
    probe.Input();
    Pass();
    EXPECT_EQ(state.OwnStatus(), Away);
    EXPECT_EQ(state.StatusBeforeAway(), -1);
}

TEST_F(InactivityWatch, StatusChosenWhileHoldingIsOverwrittenOnReturn) {
    probe.Advance(10 * kMinute);
    Pass();
    state.OnStatusAtLunch();
    probe.Input();
    Pass();
    EXPECT_EQ(state.OwnStatus(), Ready);
}

TEST_F(InactivityWatch, IdleTimeIsRightAcrossTheWrapOfTheTickCounter) {
    probe.SetNow(0xFFFF'FFFFu - 30'000);  // 30 s before the wrap
    probe.Input();
    probe.Advance(9 * kMinute + 59'999);  // now a small number
    Pass();
    EXPECT_EQ(state.OwnStatus(), Ready);

    probe.Advance(1);
    ASSERT_LT(probe.TickCount(), *probe.LastInputTick());
    Pass();
    EXPECT_EQ(state.OwnStatus(), Away);

    probe.SetLastInput(0xFFFF'FFFFu);  // input just before the wrap, now 30 s later
    probe.SetNow(0xFFFF'FFFFu + 30'000u);
    Pass();
    EXPECT_EQ(state.OwnStatus(), Ready);
}

TEST_F(InactivityWatch, MinuteCountsBelowOneCountAsOne) {
    for (const int32_t minutes : {0, -5}) {
        SCOPED_TRACE(minutes);
        SetMinutes(minutes);
        state.OnStatusReady();
        for (int pass = 0; pass < 4; ++pass) {
            probe.Input();  // recent input at every pass
            probe.Advance(20'000);
            Pass();
            EXPECT_EQ(state.OwnStatus(), Ready);
            EXPECT_EQ(state.StatusBeforeAway(), -1);
        }
        probe.Advance(kMinute);
        Pass();
        EXPECT_EQ(state.OwnStatus(), Away);
        probe.Input();
        Pass();
        EXPECT_EQ(state.OwnStatus(), Ready);
        EXPECT_EQ(state.Settings().inactivityMinutes, minutes);
    }
}

TEST_F(InactivityWatch, DoesNothingWhenSwitchedOffOrWithoutAProbe) {
    probe.Advance(60 * kMinute);
    SetCheckActivity(false);
    Pass();
    EXPECT_EQ(state.OwnStatus(), Ready);

    SetCheckActivity(true);
    RunInactivityWatch(state, nullptr);
    EXPECT_EQ(state.OwnStatus(), Ready);

    probe.SetLastInput(std::nullopt);  // the desktop cannot tell now
    Pass();
    EXPECT_EQ(state.OwnStatus(), Ready);
    EXPECT_EQ(state.StatusBeforeAway(), -1);

    probe.SetLastInput(probe.TickCount() - 60 * kMinute);
    Pass();
    EXPECT_EQ(state.OwnStatus(), Away);  // the same state acts once the probe answers
}

TEST_F(InactivityWatch, SwitchingOffWhileHoldingFreezesTheWatch) {
    state.OnStatusDoNotDisturb();
    probe.Advance(10 * kMinute);
    Pass();
    ASSERT_EQ(state.OwnStatus(), Away);

    SetCheckActivity(false);
    probe.Input();
    Pass();
    EXPECT_EQ(state.OwnStatus(), Away);
    EXPECT_EQ(state.StatusBeforeAway(), DoNotDisturb);

    SetCheckActivity(true);
    Pass();
    EXPECT_EQ(state.OwnStatus(), DoNotDisturb);
    EXPECT_EQ(state.StatusBeforeAway(), -1);
}
