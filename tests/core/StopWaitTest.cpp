// tests/core/StopWaitTest.cpp
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "Fakes.h"
#include "core/base/StopWait.h"
#include "core/net/PresenceAnnouncer.h"
#include "core/peers/LivenessWatcher.h"

namespace {

using namespace std::chrono_literals;

// The real pause, counting the pauses begun so the test can stop a worker
// while it waits in one.
class CountingRealWait final : public StopWait {
public:
    bool Pause(StopSignal* stop, std::chrono::milliseconds duration) override {
        {
            std::lock_guard lock(m_mutex);
            ++m_begun;
        }
        m_changed.notify_all();
        return m_real.Pause(stop, duration);
    }
    void WaitUntilBegun(int count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_begun >= count; });
    }

private:
    RealStopWait m_real;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_begun = 0;
};

}  // namespace

// Each round starts both workers, lets each begin a real pause and stops them
// while they wait: a stop request that failed to wake a pause, or a wake-up
// that never returned, would hang here.
TEST(WorkerStop, EveryStopWakesAWorkerWaitingInARealPause) {
    constexpr int kRounds = 500;
    FakeClock clock;
    PeerDirectory directory{clock};
    for (int round = 0; round < kRounds; ++round) {
        CountingRealWait announcerWait;
        CountingRealWait watcherWait;
        PresenceAnnouncer announcer([] {}, [] { return 5; }, announcerWait);
        LivenessWatcher watcher{directory, clock, watcherWait, [](std::vector<PeerEvent>) {}};
        announcer.Start();
        watcher.Start();
        announcerWait.WaitUntilBegun(1);
        watcherWait.WaitUntilBegun(1);
        announcer.RequestStop();
        watcher.RequestStop();
        announcer.Join();
        watcher.Join();
        ASSERT_FALSE(announcer.Running());
        ASSERT_FALSE(watcher.Running());
    }
}

TEST(StopSignal, PauseAfterTheRequestEndsAtOnceAndOneWithoutASignalRunsOut) {
    RealStopWait wait;
    StopSignal stop;
    EXPECT_TRUE(wait.Pause(&stop, 1ms));
    EXPECT_FALSE(stop.StopRequested());
    stop.RequestStop();
    EXPECT_TRUE(stop.StopRequested());
    EXPECT_FALSE(wait.Pause(&stop, 1h));
    EXPECT_TRUE(wait.Pause(nullptr, 1ms));
}

// A wake-up ends the wait that runs, or else the next one, once; a stop ends
// every wait, woken or not.
TEST(StopSignal, AWakeUpEndsOneWaitEarlyAndAStopEndsEvery) {
    RealStopWait wait;
    StopSignal signal;
    signal.Wake();
    EXPECT_EQ(signal.WaitForOrWake(1h), StopSignal::WaitEnd::Woken);
    EXPECT_EQ(signal.WaitForOrWake(1ms), StopSignal::WaitEnd::TimeRanOut);
    EXPECT_EQ(wait.PauseUnlessWoken(signal, 1ms), std::optional(1ms));

    std::optional<std::chrono::milliseconds> lasted;
    std::thread waiter([&] { lasted = wait.PauseUnlessWoken(signal, 1h); });
    signal.Wake();  // before or during the wait: it ends either way
    waiter.join();
    ASSERT_TRUE(lasted.has_value());
    EXPECT_LT(*lasted, 1h);
    // A plain pause does not end on a wake-up.
    signal.Wake();
    EXPECT_TRUE(wait.Pause(&signal, 1ms));

    signal.RequestStop();
    EXPECT_EQ(signal.WaitForOrWake(1h), StopSignal::WaitEnd::Stopped);
    EXPECT_EQ(wait.PauseUnlessWoken(signal, 1h), std::nullopt);
}
