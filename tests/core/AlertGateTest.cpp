// tests/core/AlertGateTest.cpp
#include <gtest/gtest.h>

#include "Fakes.h"
#include "core/base/AlertGate.h"

namespace {

// A box let through opens from a posted task, never inside the caller (the
// dispatch of a datagram); while it waits or is open, the next ones are dropped.
TEST(AlertGate, ABoxOpensFromAPostedTaskAndTheOnesRaisedMeanwhileAreDropped) {
    FakeClock clock;
    RecordingPresenter inner;
    QueuePoster poster;
    AlertGate gate{inner, clock, poster};
    int nested = 0;
    // The open box's event loop delivers more network trouble.
    inner.OnShow([&] {
        if (nested++ < 5) {
            EXPECT_TRUE(gate.BoxOpen());
            ShowTraceCode(gate, "View 2, HdrT %i", 5);
        }
    });
    ShowTraceCode(gate, "View 2, HdrT %i", 9);
    EXPECT_TRUE(inner.Shown().empty());
    EXPECT_TRUE(gate.BoxOpen());
    ShowTraceCode(gate, "View 2, HdrT %i", 7);
    EXPECT_EQ(poster.Drain(), 1);
    EXPECT_EQ(inner.Shown().size(), 1u);
    EXPECT_EQ(gate.DroppedCount(), 2u);
    EXPECT_FALSE(gate.BoxOpen());
}

TEST(AlertGate, AfterABoxClosesTheNextOneWaitsForTheQuietPeriod) {
    FakeClock clock;
    RecordingPresenter inner;
    QueuePoster poster;
    AlertGate gate{inner, clock, poster};
    const auto show = [&](const std::string& text) {
        gate.ShowMessage("Error", text, BoxIcon::Information);
        poster.Drain();
    };
    // Ten seconds after a box closes, for the network's boxes and the frame's.
    EXPECT_EQ(AlertGate::kQuietSeconds, 10);
    show("first");
    clock.Advance(AlertGate::kQuietSeconds - 1);
    show("too soon");
    clock.Advance(1);
    show("second");
    // A clock set back does not open the gate early.
    clock.Advance(-60);
    show("clock went back");
    clock.Advance(60 + AlertGate::kQuietSeconds);
    show("third");
    EXPECT_EQ(inner.Texts(), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(gate.DroppedCount(), 2u);
}

// Once the network has stopped nothing more is shown, not even a box that
// was waiting to open.
TEST(AlertGate, AClosedGateShowsNothingMore) {
    FakeClock clock;
    RecordingPresenter inner;
    QueuePoster poster;
    AlertGate gate{inner, clock, poster};
    gate.ShowMessage("Error", "waiting", BoxIcon::Information);
    gate.Close();
    gate.ShowMessage("Error", "later", BoxIcon::Information);
    poster.Drain();
    EXPECT_TRUE(inner.Shown().empty());
    EXPECT_EQ(gate.DroppedCount(), 2u);
    EXPECT_FALSE(gate.BoxOpen());

    // A gate gone before its box could open leaves a task that does nothing.
    {
        AlertGate gone{inner, clock, poster};
        gone.ShowMessage("Error", "gone", BoxIcon::Information);
    }
    EXPECT_EQ(poster.Drain(), 1);
    EXPECT_TRUE(inner.Shown().empty());
}

}  // namespace
