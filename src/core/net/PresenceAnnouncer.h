// src/core/net/PresenceAnnouncer.h
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "core/base/StopWait.h"

// The worker thread that makes this copy visible: announces at once, then
// every "AboutMePeriod" seconds; a period below 1 counts as 1 second. It waits
// one period at a time, from one announcement to the next. PeriodChanged()
// wakes the wait, which reads the period afresh and waits only what is left
// of it (nothing, when the new period has already passed). A stop request
// ends the wait at once.
// The owner stops and joins it before the endpoint it announces through goes.
class PresenceAnnouncer {
public:
    PresenceAnnouncer(std::function<void()> announce, std::function<int32_t()> period,
                      StopWait& wait);
    ~PresenceAnnouncer();  // stops and joins

    // The wait between announcements for an "AboutMePeriod": a period below
    // one second counts as one, or the copy would flood the network.
    static std::chrono::seconds Period(int32_t aboutMePeriod) {
        return std::chrono::seconds(std::max<int32_t>(aboutMePeriod, 1));
    }

    void Start();
    // Safe from any thread, the announcer's own included, even while Start() runs.
    void RequestStop();
    // The period has changed: safe from any thread.
    void PeriodChanged();
    void Join();
    bool Running() const { return m_thread.joinable(); }

private:
    void Run();

    std::function<void()> m_announce;
    std::function<int32_t()> m_period;
    StopWait& m_wait;
    StopSignal m_stop;  // kept apart from the thread object, which Start() assigns
    std::thread m_thread;
};
