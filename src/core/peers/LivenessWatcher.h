// src/core/peers/LivenessWatcher.h
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "core/base/Clock.h"
#include "core/base/StopWait.h"
#include "core/peers/PeerDirectory.h"

// The worker thread that marks silent peers Disconnected: every peer heard
// more than 30 seconds ago is marked at the next scan, scans 3 seconds apart
// in one wait that a stop request ends at once. A scan looks only at the
// peers it marks, through the directory's order of hearing. The marked peers
// are handed on as WentSilent events, all of a scan at once, in index order,
// with the directory lock released; the owner tells the user on the
// user-interface thread.
class LivenessWatcher {
public:
    static constexpr int64_t kLivenessTimeout = 30;
    static constexpr std::chrono::milliseconds kScanInterval{3000};
    // While another thread holds the directory lock, the scan tries again after this.
    static constexpr std::chrono::milliseconds kLockRetry{100};

    // A peer last heard at `lastHeard` counts as gone at `now`.
    static bool IsSilent(int64_t now, int64_t lastHeard, int32_t status) {
        return now - lastHeard > kLivenessTimeout && status != Disconnected;
    }

    LivenessWatcher(PeerDirectory& directory, const Clock& clock, StopWait& wait,
                    std::function<void(std::vector<PeerEvent>)> onMarked);
    ~LivenessWatcher();  // stops and joins

    // One scan under the lock; returns the peers it marked, in index order.
    std::vector<PeerEvent> ScanOnce();

    void Start();
    // Safe from any thread; the stop holds for good, even for a later Start().
    void RequestStop();
    void Join();
    bool Running() const { return m_thread.joinable(); }

private:
    void Run();

    PeerDirectory& m_directory;
    const Clock& m_clock;
    StopWait& m_wait;
    std::function<void(std::vector<PeerEvent>)> m_onMarked;
    StopSignal m_stop;
    std::thread m_thread;
};
