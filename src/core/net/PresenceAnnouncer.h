// src/core/net/PresenceAnnouncer.h
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "core/base/StopWait.h"

// The worker thread that makes this copy visible: announces at once, then
// every "AboutMePeriod" seconds, waiting in 500 ms slices and reading the
// period afresh before each slice; a period below 1 counts as 1 second. A stop
// request ends the wait at once.
// The owner stops and joins it before the endpoint it announces through goes.
class PresenceAnnouncer {
public:
    static constexpr std::chrono::milliseconds kSlice{500};

    PresenceAnnouncer(std::function<void()> announce, std::function<int32_t()> period,
                      StopWait& wait);
    ~PresenceAnnouncer();  // stops and joins

    void Start();
    // Safe from any thread, the announcer's own included, even while Start() runs.
    void RequestStop();
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
