// src/core/net/PresenceAnnouncer.cpp
#include "core/net/PresenceAnnouncer.h"

#include <algorithm>
#include <utility>

#include "platform/Socket.h"

PresenceAnnouncer::PresenceAnnouncer(std::function<void()> announce,
                                     std::function<int32_t()> period, StopWait& wait)
    : m_announce(std::move(announce)), m_period(std::move(period)), m_wait(wait) {}

PresenceAnnouncer::~PresenceAnnouncer() {
    RequestStop();
    Join();
}

void PresenceAnnouncer::Start() {
    if (m_thread.joinable()) {
        return;
    }
    m_thread = std::jthread([this, stop = m_stop.get_token()] { Run(stop); });
}

void PresenceAnnouncer::RequestStop() {
    m_stop.request_stop();
}

void PresenceAnnouncer::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void PresenceAnnouncer::Run(std::stop_token stop) {
    if (platform::InitSocketLibrary() != 0) {
        return;
    }
    while (!stop.stop_requested()) {
        m_announce();
        // Up to 2 x period slices; the period is read afresh before each one. A
        // period below one second counts as one: without a pause the copy would
        // flood the network with announcements.
        for (int64_t slice = 0;; ++slice) {
            if (stop.stop_requested()) {
                return;
            }
            if (slice >= 2 * int64_t{std::max<int32_t>(m_period(), 1)}) {
                break;
            }
            if (!m_wait.Pause(stop, kSlice)) {
                return;
            }
        }
    }
}
