// tests/core/NotificationBuilderTest.cpp
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Fakes.h"
#include "core/peers/NotificationBuilder.h"
#include "core/res/Cp1250.h"
#include "core/res/Strings.h"
#include "core/settings/AppState.h"

namespace {

std::string Cp(std::string_view utf8) {
    return cp1250::FromUtf8(utf8);
}

class NotificationBuilderTest : public ::testing::Test {
protected:
    AppState state;
    RecordingPresenter presenter;
    NotificationBuilder builder{state, presenter};
};

TEST_F(NotificationBuilderTest, StatusChangeNewPeerAndSilentPeerNameTheirStatus) {
    const Notification change = builder.StatusChange("jan@PC1", Away, 3);
    EXPECT_EQ(change.text, Cp("jan@PC1 je ve stavu : Pryč"));
    EXPECT_EQ(change.peer, 3);
    EXPECT_EQ(builder.NewPeer("petr@PC3", DoNotDisturb, 2).text,
              Cp("petr@PC3 je ve stavu : Neruš"));
    const Notification silent = builder.PeerSilent("eva@PC2", 0);
    EXPECT_EQ(silent.text, "eva@PC2 je ve stavu : Odpojen");
    EXPECT_EQ(silent.peer, 0);
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST_F(NotificationBuilderTest, MessageIsTheNameAndTheText) {
    const Notification message = builder.Message("eva@PC2", Cp("ahoj, jak se máš?"), 1);
    EXPECT_EQ(message.text, Cp("eva@PC2 : ahoj, jak se máš?"));
    EXPECT_EQ(message.balloonText, message.text);
    EXPECT_EQ(message.peer, 1);
}

TEST_F(NotificationBuilderTest, BellQuotesTheLastMessageWhenThereIsOne) {
    EXPECT_EQ(builder.Bell("jan@PC1", Cp("druhá"), 4).text,
              Cp("jan@PC1 vyžaduje tvou pozornost!\nPoslední správa : druhá"));
    const Notification bare = builder.Bell("eva@PC2", std::nullopt, 5);
    EXPECT_EQ(bare.text, Cp("eva@PC2 vyžaduje tvou pozornost!"));
    EXPECT_EQ(bare.peer, 5);
}

TEST_F(NotificationBuilderTest, TitleIsTheOwnStatusTimeAndSwitchComeFromTheSettings) {
    Notification n = builder.Message("jan", "x", 0);
    EXPECT_EQ(n.title, "Murmex3 - OK");
    EXPECT_EQ(n.balloonTitle, "Murmex3 - OK");
    EXPECT_EQ(n.toolTip, "Murmex3 - OK");
    EXPECT_TRUE(n.enabled);
    EXPECT_EQ(n.milliseconds, 15000);

    state.OnStatusDoNotDisturb();
    state.Modify([](SettingsRecord& s) {
        s.bTooltipTimeout = 3;
        s.notifications = false;
    });
    n = builder.Message("jan", "x", 0);
    EXPECT_EQ(n.title, Cp("Murmex3 - Neruš"));
    EXPECT_EQ(n.toolTip, Cp("Murmex3 - Neruš"));
    EXPECT_FALSE(n.enabled);
    EXPECT_EQ(n.milliseconds, 3000);

    // Seconds beyond what milliseconds can hold, or below zero, stay in range.
    state.Modify([](SettingsRecord& s) { s.bTooltipTimeout = INT32_MAX; });
    EXPECT_EQ(builder.Message("jan", "x", 0).milliseconds, INT_MAX);
    state.Modify([](SettingsRecord& s) { s.bTooltipTimeout = -2; });
    EXPECT_EQ(builder.Message("jan", "x", 0).milliseconds, 0);
}

TEST_F(NotificationBuilderTest, BalloonTextAndToolTipAreCutTheBoxKeepsTheWhole) {
    const std::string message(300, 'm');
    const Notification n = builder.Message("jan", message, 0);
    EXPECT_EQ(n.text, "jan : " + message);
    EXPECT_EQ(n.balloonText, n.text.substr(0, 255));
    EXPECT_EQ(builder.Message("j", std::string(251, 'm'), 0).balloonText.size(), 255u);

    EXPECT_EQ(TrayToolTip(std::string(200, 's')), "Murmex3 - " + std::string(117, 's'));
    EXPECT_EQ(TrayToolTip({}), "Murmex3 - ");
}

// The peer's status is told before the own one, as the text comes before the title.
TEST_F(NotificationBuilderTest, StatusesOutsideTheTableShowTheirTraceBoxesPeerFirst) {
    state.SetOwnStatus(7);
    const Notification n = builder.StatusChange("jan@PC1", 9, 0);
    EXPECT_EQ(n.text, "jan@PC1 je ve stavu : ");
    EXPECT_EQ(n.title, "Murmex3 - ");
    const std::string prefix = res::String(res::kStrTraceCodePrefix);
    EXPECT_EQ(presenter.Texts(),
              (std::vector<std::string>{prefix + "App 1, aSt 9", prefix + "App 1, aSt 7"}));
}

}  // namespace
