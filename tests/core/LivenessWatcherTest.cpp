// tests/core/LivenessWatcherTest.cpp
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Fakes.h"
#include "core/peers/LivenessWatcher.h"
#include "support/DirectoryLock.h"

namespace {

using namespace std::chrono_literals;

// Lets a fixed number of pauses pass at once, then holds the caller until a
// stop is requested; records every pause asked for.
class CountingWait final : public StopWait {
public:
    explicit CountingWait(int freePauses) : m_free(freePauses) {}
    bool Pause(StopSignal* stop, std::chrono::milliseconds duration) override {
        {
            std::lock_guard lock(m_mutex);
            m_durations.push_back(duration);
            if (stop->StopRequested()) {
                return false;
            }
            if (m_free > 0) {
                --m_free;
                return true;
            }
            m_held = true;
            m_cv.notify_all();
        }
        stop->Wait();
        return false;
    }
    void WaitUntilHeld() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_held; });
    }
    bool WaitUntilHeldFor(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, limit, [&] { return m_held; });
    }
    std::vector<std::chrono::milliseconds> Durations() {
        std::lock_guard lock(m_mutex);
        return m_durations;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_free;
    bool m_held = false;
    std::vector<std::chrono::milliseconds> m_durations;
};

std::vector<int> Indexes(const std::vector<PeerEvent>& events) {
    std::vector<int> indexes;
    for (const PeerEvent& event : events) {
        indexes.push_back(event.index);
    }
    return indexes;
}

class LivenessWatcherTest : public ::testing::Test {
protected:
    int Add(const std::string& address) {
        return m_directory.AddPeer(nullptr, "p" + address, "g", address, Ready);
    }
    FakeClock m_clock{10'000};
    PeerDirectory m_directory{m_clock};
    RealStopWait m_realWait;
    std::vector<int> m_marked;
    LivenessWatcher m_watcher{m_directory, m_clock, m_realWait,
                              [this](std::vector<PeerEvent> events) {
                                  for (const int index : Indexes(events)) {
                                      m_marked.push_back(index);
                                  }
                              }};
};

TEST_F(LivenessWatcherTest, ThirtySecondsOfSilenceIsNotEnoughThirtyOneIs) {
    Add("10.0.0.1");
    m_clock.Advance(30);
    EXPECT_TRUE(Indexes(m_watcher.ScanOnce()).empty());
    EXPECT_EQ(m_directory.PeerAt(0).status, Ready);
    m_clock.Advance(1);
    EXPECT_EQ(Indexes(m_watcher.ScanOnce()), std::vector<int>{0});
    EXPECT_EQ(m_directory.PeerAt(0).status, Disconnected);
}

// A peer heard again moves behind the others: the scan, which stops at the
// first peer heard within 30 s, still finds the silent ones created after it.
TEST_F(LivenessWatcherTest, EverySilentPeerInOneScanInIndexOrderAndNeverTwice) {
    Add("10.0.0.1");
    Add("10.0.0.2");
    Add("10.0.0.3");
    Add("10.0.0.4");
    m_clock.Advance(20);
    m_directory.Heard(1, m_clock.NowSeconds());   // still heard recently
    m_directory.PeerAt(2).status = Disconnected;  // signed off before
    m_clock.Advance(20);
    EXPECT_EQ(Indexes(m_watcher.ScanOnce()), (std::vector<int>{0, 3}));
    EXPECT_TRUE(Indexes(m_watcher.ScanOnce()).empty());
    EXPECT_EQ(m_directory.PeerAt(1).status, Ready);
    m_clock.Advance(11);
    EXPECT_EQ(Indexes(m_watcher.ScanOnce()), std::vector<int>{1});
    EXPECT_TRUE(Indexes(m_watcher.ScanOnce()).empty());
}

// A link goes down under a thousand peers: all of them are marked at the
// first scan after their 30 s, the last one created too.
TEST_F(LivenessWatcherTest, PeersSilentTogetherAreMarkedInTheSameScan) {
    for (int i = 0; i < 1000; ++i) {
        Add("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    }
    m_clock.Advance(31);
    const std::vector<int> marked = Indexes(m_watcher.ScanOnce());
    ASSERT_EQ(marked.size(), 1000u);
    EXPECT_EQ(marked.back(), 999);
    EXPECT_EQ(m_directory.PeerAt(999).status, Disconnected);
}

TEST_F(LivenessWatcherTest, ARevivedPeerIsMarkedAgainAfterItsNextSilence) {
    Add("10.0.0.1");
    m_clock.Advance(31);
    EXPECT_EQ(Indexes(m_watcher.ScanOnce()), std::vector<int>{0});
    // The dispatcher revives it with its next announcement.
    m_directory.Heard(0, m_clock.NowSeconds());
    m_directory.PeerAt(0).status = Away;
    m_clock.Advance(30);
    EXPECT_TRUE(Indexes(m_watcher.ScanOnce()).empty());
    m_clock.Advance(1);
    EXPECT_EQ(Indexes(m_watcher.ScanOnce()), std::vector<int>{0});
}

TEST_F(LivenessWatcherTest, EmptyDirectoryOnlyPauses) {
    EXPECT_TRUE(Indexes(m_watcher.ScanOnce()).empty());
}

TEST(LivenessWatcherThread, ScansAtOnceThenWaitsThreeSecondsInOnePause) {
    FakeClock clock{10'000};
    PeerDirectory directory{clock};
    directory.AddPeer(nullptr, "a", "g", "10.0.0.1", Ready);
    directory.AddPeer(nullptr, "b", "g", "10.0.0.2", Ready);
    clock.Advance(31);
    // The first pause runs free; the second is held until the stop.
    CountingWait wait{1};
    std::mutex markedMutex;
    std::vector<int> marked;
    std::atomic<bool> lockWasFree{true};
    LivenessWatcher watcher{directory, clock, wait, [&](std::vector<PeerEvent> events) {
                                // Another thread must be able to take the lock now.
                                std::thread probe([&] {
                                    if (!LockOf(directory).try_lock()) {
                                        lockWasFree.store(false);
                                    } else {
                                        LockOf(directory).unlock();
                                    }
                                });
                                probe.join();
                                std::lock_guard lock(markedMutex);
                                for (const int index : Indexes(events)) {
                                    marked.push_back(index);
                                }
                            }};
    watcher.Start();
    wait.WaitUntilHeld();
    {
        std::lock_guard lock(markedMutex);
        EXPECT_EQ(marked, (std::vector<int>{0, 1}));
    }
    EXPECT_TRUE(lockWasFree.load());
    const auto durations = wait.Durations();
    EXPECT_EQ(durations, (std::vector<std::chrono::milliseconds>{3000ms, 3000ms}));

    const auto start = std::chrono::steady_clock::now();
    watcher.RequestStop();
    watcher.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
}

TEST(LivenessWatcherThread, StopsWithinOneHundredMillisecondsWithRealPauses) {
    FakeClock clock;
    PeerDirectory directory{clock};
    RealStopWait wait;
    LivenessWatcher watcher{directory, clock, wait, [](std::vector<PeerEvent>) {}};
    watcher.Start();
    std::this_thread::sleep_for(50ms);  // let it reach its pause
    const auto start = std::chrono::steady_clock::now();
    watcher.RequestStop();
    watcher.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_FALSE(watcher.Running());
}

// Another thread may hold the directory lock while the program stops and
// joins the threads: a watcher that waits for the lock must still stop.
TEST(LivenessWatcherThread, StopsWhileTheDirectoryLockIsHeldElsewhere) {
    FakeClock clock{10'000};
    PeerDirectory directory{clock};
    directory.AddPeer(nullptr, "a", "g", "10.0.0.1", Ready);
    clock.Advance(31);
    CountingWait wait{0};
    std::atomic<int> marked{0};
    LivenessWatcher watcher{directory, clock, wait, [&](std::vector<PeerEvent> events) {
                                marked += static_cast<int>(events.size());
                            }};
    std::unique_lock held(LockOf(directory));
    watcher.Start();
    const bool waiting = wait.WaitUntilHeldFor(5s);
    auto stopped = std::async(std::launch::async, [&] {
        watcher.RequestStop();
        watcher.Join();
    });
    const bool inTime = stopped.wait_for(5s) == std::future_status::ready;
    held.unlock();  // a watcher stuck on the lock goes on now, so the test ends either way
    stopped.wait();
    EXPECT_TRUE(waiting);
    EXPECT_TRUE(inTime);
    EXPECT_EQ(marked.load(), 0);
    EXPECT_EQ(directory.PeerAt(0).status, Ready);
}

}  // namespace
