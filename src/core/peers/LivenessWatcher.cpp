// src/core/peers/LivenessWatcher.cpp
#include "core/peers/LivenessWatcher.h"

#include <optional>
#include <string>
#include <utility>

#include "core/base/Log.h"

LivenessWatcher::LivenessWatcher(PeerDirectory& directory, const Clock& clock, StopWait& wait,
                                 std::function<void(std::vector<PeerEvent>)> onMarked)
    : m_directory(directory), m_clock(clock), m_wait(wait), m_onMarked(std::move(onMarked)) {}

LivenessWatcher::~LivenessWatcher() {
    RequestStop();
    Join();
}

std::vector<PeerEvent> LivenessWatcher::ScanOnce() {
    return m_directory.MarkSilent(m_clock.NowSeconds(), kLivenessTimeout);
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
        std::optional<std::vector<PeerEvent>> marked;
        while (!(marked = m_directory.TryMarkSilent(m_clock.NowSeconds(), kLivenessTimeout))) {
            if (!m_wait.Pause(&m_stop, kLockRetry)) {
                return;
            }
        }
        corelog::Debug("peers", "Liveness scan: " + std::to_string(marked->size()) + " marked");
        if (!marked->empty()) {
            m_onMarked(std::move(*marked));  // the lock is released here
        }
        if (!m_wait.Pause(&m_stop, kScanInterval)) {
            return;
        }
    }
}
