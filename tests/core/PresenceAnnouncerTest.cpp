// tests/core/PresenceAnnouncerTest.cpp
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/StopWait.h"
#include "core/net/PresenceAnnouncer.h"

namespace {

using namespace std::chrono_literals;

// What the announcer did, in order: "announce", "period" (a read of the
// period) and "pause <ms>". Each step may run a hook of the test, on the
// announcer's thread, after it was recorded.
class Script {
public:
    using Hook = std::function<void(const std::vector<std::string>& steps)>;

    void Record(const std::string& step) {
        std::vector<std::string> steps;
        Hook hook;
        {
            std::lock_guard lock(m_mutex);
            m_steps.push_back(step);
            steps = m_steps;
            hook = m_hook;
        }
        if (hook) {
            hook(steps);
        }
    }
    void OnStep(Hook hook) {
        std::lock_guard lock(m_mutex);
        m_hook = std::move(hook);
    }
    std::vector<std::string> Steps() const {
        std::lock_guard lock(m_mutex);
        return m_steps;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_steps;
    Hook m_hook;
};

// Returns at once: the whole pause, or the part after which the test lets a
// wake-up end it; nothing once a stop has been requested. The test sets
// wokenAfter from a hook, on the announcer's thread.
class RecordingWait final : public StopWait {
public:
    explicit RecordingWait(Script& script) : m_script(script) {}
    bool Pause(StopSignal*, std::chrono::milliseconds duration) override {
        m_script.Record("plain pause " + std::to_string(duration.count()));
        return false;
    }
    std::optional<std::chrono::milliseconds> PauseUnlessWoken(
        StopSignal& stop, std::chrono::milliseconds duration) override {
        m_script.Record("pause " + std::to_string(duration.count()));
        if (stop.StopRequested()) {
            return std::nullopt;
        }
        if (const auto after = std::exchange(wokenAfter, std::nullopt)) {
            return std::min(*after, duration);
        }
        return duration;
    }
    std::optional<std::chrono::milliseconds> wokenAfter;

private:
    Script& m_script;
};

// An announcer wired to a script: the test sets the period and decides, from
// the steps so far, when to request the stop.
struct ScriptedAnnouncer {
    static constexpr size_t kMaxSteps = 1000;

    explicit ScriptedAnnouncer(int32_t initialPeriod)
        : period(initialPeriod),
          wait(script),
          announcer([this] { script.Record("announce"); },
                    [this] {
                        const int32_t value = period.load();
                        script.Record("period");
                        return value;
                    },
                    wait) {}

    // Runs until the hook asks to stop, then joins. A loop that never gets there
    // is stopped after kMaxSteps, and the steps show it.
    std::vector<std::string> RunUntil(std::function<bool(const std::vector<std::string>&)> done) {
        script.OnStep([this, done = std::move(done)](const std::vector<std::string>& steps) {
            if (done(steps) || steps.size() >= kMaxSteps) {
                announcer.RequestStop();
            }
        });
        announcer.Start();
        announcer.Join();
        return script.Steps();
    }

    Script script;
    std::atomic<int32_t> period;
    RecordingWait wait;
    PresenceAnnouncer announcer;
};

size_t Count(const std::vector<std::string>& steps, const std::string& step) {
    return static_cast<size_t>(std::count(steps.begin(), steps.end(), step));
}

}  // namespace

TEST(PresenceAnnouncer, AnnouncesAtOnceThenWaitsOnePeriodAtATime) {
    ScriptedAnnouncer scripted(2);
    const auto steps = scripted.RunUntil(
        [](const std::vector<std::string>& s) { return Count(s, "announce") == 3; });
    // The stop came with the third announcement: the wait after it ends at once.
    EXPECT_EQ(steps, (std::vector<std::string>{"announce", "period", "pause 2000", "period",
                                               "announce", "period", "pause 2000", "period",
                                               "announce", "period", "pause 2000"}));
}

// A change of the period wakes the wait; the new period counts from the last
// announcement, so only what is left of it is waited for.
TEST(PresenceAnnouncer, AChangedPeriodIsReadAfreshAndOnlyTheRestIsWaited) {
    ScriptedAnnouncer scripted(10);
    const auto steps = scripted.RunUntil([&](const std::vector<std::string>& s) {
        const std::string& last = s.back();
        if (last == "pause 10000") {
            scripted.period = 4;  // shortened after 3 s: 1 s more
            scripted.wait.wokenAfter = 3000ms;
        } else if (last == "pause 4000" && Count(s, "announce") == 2) {
            scripted.period = 2;  // shortened below what has passed: at once
            scripted.wait.wokenAfter = 3000ms;
        } else if (last == "pause 2000" && Count(s, "announce") == 3) {
            scripted.period = 6;  // lengthened after 1.5 s
            scripted.wait.wokenAfter = 1500ms;
        }
        return Count(s, "announce") == 4;
    });
    EXPECT_EQ(steps,
              (std::vector<std::string>{"announce", "period", "pause 10000", "period", "pause 1000",
                                        "period", "announce", "period", "pause 4000", "period",  //
                                        "announce", "period", "pause 2000", "period", "pause 4500",
                                        "period", "announce", "period", "pause 6000"}));
}

TEST(PresenceAnnouncer, PeriodBelowOneSecondCountsAsOneSecond) {
    for (const int32_t period : {0, -3}) {
        ScriptedAnnouncer scripted(period);
        const auto steps = scripted.RunUntil(
            [](const std::vector<std::string>& s) { return Count(s, "announce") == 2; });
        EXPECT_EQ(steps, (std::vector<std::string>{"announce", "period", "pause 1000", "period",
                                                   "announce", "period", "pause 1000"}))
            << "period " << period;
    }
}

TEST(PresenceAnnouncer, StopDuringTheWaitEndsItWithoutAnotherAnnouncement) {
    ScriptedAnnouncer scripted(5);
    const auto steps = scripted.RunUntil(
        [](const std::vector<std::string>& s) { return s.back() == "pause 5000"; });
    EXPECT_EQ(steps, (std::vector<std::string>{"announce", "period", "pause 5000"}));
}

TEST(PresenceAnnouncer, StopBeforeStartAndDestructionWithoutStartAreHarmless) {
    Script script;
    RecordingWait wait(script);
    {
        PresenceAnnouncer never([&] { script.Record("announce"); }, [] { return 5; }, wait);
        never.RequestStop();
        never.Join();
        EXPECT_FALSE(never.Running());
    }
    EXPECT_TRUE(script.Steps().empty());
}

TEST(PresenceAnnouncer, RealWaitEndsWithin100MillisecondsOfTheStopRequest) {
    RealStopWait wait;
    std::mutex mutex;
    std::condition_variable announced;
    int announcements = 0;
    PresenceAnnouncer announcer(
        [&] {
            std::lock_guard lock(mutex);
            ++announcements;
            announced.notify_all();
        },
        [] { return 5; }, wait);
    announcer.Start();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(announced.wait_for(lock, 2s, [&] { return announcements == 1; }));
    }
    // The announcer is now in its five-second wait.
    const auto start = std::chrono::steady_clock::now();
    announcer.RequestStop();
    announcer.Join();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 100ms);
    EXPECT_FALSE(announcer.Running());
    std::lock_guard lock(mutex);
    EXPECT_EQ(announcements, 1);
}

TEST(PresenceAnnouncer, DestructorStopsAndJoins) {
    RealStopWait wait;
    std::atomic<int> announcements{0};
    const auto start = std::chrono::steady_clock::now();
    {
        PresenceAnnouncer announcer([&] { ++announcements; }, [] { return 5; }, wait);
        announcer.Start();
        EXPECT_TRUE(announcer.Running());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_LE(announcements.load(), 1);
}
