// tests/core/AlertGateTest.cpp
#include <gtest/gtest.h>

#include "Fakes.h"
#include "core/base/AlertGate.h"

namespace {

TEST(AlertGate, BoxesRaisedWhileOneIsOpenAreDropped) {
    FakeClock clock;
    RecordingPresenter inner;
    AlertGate gate{inner, clock};
    int nested = 0;
    // The open box's event loop delivers more network trouble.
    inner.OnShow([&] {
        if (nested++ < 5) {
            EXPECT_TRUE(gate.BoxOpen());
            ShowTraceCode(gate, "View 2, HdrT %i", 5);
        }
    });
    ShowTraceCode(gate, "View 2, HdrT %i", 9);
    EXPECT_EQ(inner.Shown().size(), 1u);
    EXPECT_EQ(gate.DroppedCount(), 1u);
    EXPECT_FALSE(gate.BoxOpen());
}

TEST(AlertGate, AfterABoxClosesTheNextOneWaitsForTheQuietPeriod) {
    FakeClock clock;
    RecordingPresenter inner;
    AlertGate gate{inner, clock};
    gate.ShowMessage("Error", "first", BoxIcon::Information);
    clock.Advance(AlertGate::kQuietSeconds - 1);
    gate.ShowMessage("Error", "too soon", BoxIcon::Information);
    clock.Advance(1);
    gate.ShowMessage("Error", "second", BoxIcon::Information);
    // A clock set back does not open the gate early.
    clock.Advance(-60);
    gate.ShowMessage("Error", "clock went back", BoxIcon::Information);
    clock.Advance(60 + AlertGate::kQuietSeconds);
    gate.ShowMessage("Error", "third", BoxIcon::Information);
    EXPECT_EQ(inner.Texts(), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(gate.DroppedCount(), 2u);
}

}  // namespace
