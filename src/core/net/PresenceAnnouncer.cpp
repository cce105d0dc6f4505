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
    m_thread = std::thread([this] { Run(); });
}

void PresenceAnnouncer::RequestStop() {
    m_stop.RequestStop();
}

void PresenceAnnouncer::PeriodChanged() {
    m_stop.Wake();
}

void PresenceAnnouncer::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void PresenceAnnouncer::Run() {
    if (platform::InitSocketLibrary() != 0) {
        return;
    }
    while (!m_stop.StopRequested()) {
        m_announce();
        std::chrono::milliseconds waited{0};
        for (;;) {
            const std::chrono::milliseconds period = Period(m_period());
            if (waited >= period) {
                break;
            }
            const auto lasted = m_wait.PauseUnlessWoken(m_stop, period - waited);
            if (!lasted) {
                return;
            }
            waited += *lasted;
        }
    }
}
