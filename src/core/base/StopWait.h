// src/core/base/StopWait.h
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

// A worker thread's stop request. The flag is set and the waiters are woken
// under one mutex, so a wait that has begun always sees the request, and one
// that begins later returns at once. A wake-up (Wake) ends a WaitForOrWake
// early without stopping anything; one given while no such wait runs ends the
// next one at once.
class StopSignal {
public:
    enum class WaitEnd { TimeRanOut, Woken, Stopped };

    void RequestStop();
    bool StopRequested() const;
    void Wake();
    // Waits until the stop is requested or the time has run out; true when stopped.
    bool WaitFor(std::chrono::milliseconds duration);
    // Waits until the stop is requested, a wake-up comes or the time has run out.
    WaitEnd WaitForOrWake(std::chrono::milliseconds duration);
    // Waits until the stop is requested.
    void Wait();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_requested;
    bool m_stopRequested = false;
    bool m_woken = false;
};

// An interruptible pause for the worker threads: returns false at once when a
// stop is requested (before or during the pause), true when the time ran out.
// Without a signal nothing cuts the pause short (the owner's own pauses).
struct StopWait {
    virtual ~StopWait() = default;
    virtual bool Pause(StopSignal* stop, std::chrono::milliseconds duration) = 0;
    // A pause that the signal's Wake() also ends early. Returns how long it
    // lasted (the whole duration when the time ran out), or nothing when a stop
    // was requested. Unless overridden, a plain Pause that no wake-up shortens.
    virtual std::optional<std::chrono::milliseconds> PauseUnlessWoken(
        StopSignal& stop, std::chrono::milliseconds duration) {
        if (!Pause(&stop, duration)) {
            return std::nullopt;
        }
        return duration;
    }
};

class RealStopWait final : public StopWait {
public:
    bool Pause(StopSignal* stop, std::chrono::milliseconds duration) override;
    std::optional<std::chrono::milliseconds> PauseUnlessWoken(
        StopSignal& stop, std::chrono::milliseconds duration) override;
};
