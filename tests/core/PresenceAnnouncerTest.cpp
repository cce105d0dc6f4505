// tests/core/PresenceAnnouncerTest.cpp
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
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

// Returns at once: true unless a stop has been requested.
class RecordingWait final : public StopWait {
public:
    explicit RecordingWait(Script& script) : m_script(script) {}
    bool Pause(StopSignal* stop, std::chrono::milliseconds duration) override {
        m_script.Record("pause " + std::to_string(duration.count()));
        return !stop->StopRequested();
    }

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

const std::string kPause = "pause 500";

}  // namespace

TEST(PresenceAnnouncer, AnnouncesAtOnceThenWaitsTwoSlicesPerSecond) {
    ScriptedAnnouncer scripted(2);
    const auto steps = scripted.RunUntil(
        [](const std::vector<std::string>& s) { return Count(s, "announce") == 3; });
    const std::vector<std::string> cycle = {"period", kPause,   "period", kPause,  "period",
                                            kPause,   "period", kPause,   "period"};
    std::vector<std::string> expected = {"announce"};
    expected.insert(expected.end(), cycle.begin(), cycle.end());
    expected.push_back("announce");
    expected.insert(expected.end(), cycle.begin(), cycle.end());
    expected.push_back("announce");
    // The stop came with the third announcement: no slice follows it.
    EXPECT_EQ(steps, expected);
}

TEST(PresenceAnnouncer, PeriodIsReadBeforeEverySliceAndTakesEffectAtOnce) {
    ScriptedAnnouncer scripted(10);
    const auto steps = scripted.RunUntil([&](const std::vector<std::string>& s) {
        // Shorten the wait after the second slice, lengthen it in the next one.
        if (Count(s, kPause) == 2 && s.back() == kPause) {
            scripted.period = 1;
        }
        if (Count(s, "announce") == 2 && s.back() == "announce") {
            scripted.period = 2;
        }
        return Count(s, "announce") == 3;
    });
    const std::vector<std::string> expected = {
        "announce", "period", kPause, "period", kPause, "period",  // 10 s, cut to 1 s
        "announce", "period", kPause, "period", kPause, "period",
        kPause,     "period", kPause, "period",  // 2 s
        "announce"};
    EXPECT_EQ(steps, expected);
}

TEST(PresenceAnnouncer, PeriodBelowOneSecondCountsAsOneSecond) {
    for (const int32_t period : {0, -3}) {
        ScriptedAnnouncer scripted(period);
        const auto steps = scripted.RunUntil(
            [](const std::vector<std::string>& s) { return Count(s, "announce") == 3; });
        const std::vector<std::string> second = {"period", kPause, "period", kPause, "period"};
        std::vector<std::string> expected = {"announce"};
        expected.insert(expected.end(), second.begin(), second.end());
        expected.push_back("announce");
        expected.insert(expected.end(), second.begin(), second.end());
        expected.push_back("announce");
        EXPECT_EQ(steps, expected) << "period " << period;
    }
}

TEST(PresenceAnnouncer, StopDuringTheWaitEndsItWithoutAnotherAnnouncement) {
    ScriptedAnnouncer scripted(5);
    const auto steps =
        scripted.RunUntil([](const std::vector<std::string>& s) { return Count(s, kPause) == 3; });
    EXPECT_EQ(steps, (std::vector<std::string>{"announce", "period", kPause, "period", kPause,
                                               "period", kPause}));
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
