// src/core/peers/LivenessWatcher.cpp
#include "core/peers/LivenessWatcher.h"

#include <mutex>
#include <utility>

LivenessWatcher::LivenessWatcher(PeerDirectory& directory, const Clock& clock, StopWait& wait,
                                 std::function<void(int)> onMarked)
    : m_directory(directory), m_clock(clock), m_wait(wait), m_onMarked(std::move(onMarked)) {}

LivenessWatcher::~LivenessWatcher() {
    RequestStop();
    Join();
}

std::optional<int> LivenessWatcher::ScanOnce() {
    std::lock_guard lock(m_directory.Mutex());
    const int64_t now = m_clock.NowSeconds();
    const int count = m_directory.PeerCount();
    for (int i = 0; i < count; ++i) {
        PeerRecord& record = m_directory.PeerAt(i);
        if (!IsSilent(now, record.lastHeard, record.status)) {
            continue;
        }
        record.status = Disconnected;
        return i;
    }
    return std::nullopt;
}

void LivenessWatcher::Start() {
    if (m_thread.joinable()) {
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

void LivenessWatcher::RequestStop() {
    m_stop.RequestStop();
}

void LivenessWatcher::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void LivenessWatcher::Run() {
    while (!m_stop.StopRequested()) {
        // The user-interface thread shows no box under the lock, but may ask
        // for the stop and join at any time: wait for the lock in steps that
        // see the stop.
        std::unique_lock lock(m_directory.Mutex(), std::defer_lock);
        while (!lock.try_lock()) {
            if (!m_wait.Pause(&m_stop, kLockRetry)) {
                return;
            }
        }
        const auto marked = ScanOnce();
        lock.unlock();
        if (marked) {
            m_onMarked(*marked);  // the lock is released here
        }
        if (!m_wait.Pause(&m_stop, kScanInterval)) {
            return;
        }
    }
}
