// src/core/base/StopWait.h
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// A worker thread's stop request. The flag is set and the waiters are woken
// under one mutex, so a wait that has begun always sees the request, and one
// that begins later returns at once.
class StopSignal {
public:
    void RequestStop();
    bool StopRequested() const;
    // Waits until the stop is requested or the time has run out; true when stopped.
    bool WaitFor(std::chrono::milliseconds duration);
    // Waits until the stop is requested.
    void Wait();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_requested;
    bool m_stopRequested = false;
};

// An interruptible pause for the worker threads: returns false at once when a
// stop is requested (before or during the pause), true when the time ran out.
// Without a signal nothing cuts the pause short (the owner's own pauses).
struct StopWait {
    virtual ~StopWait() = default;
    virtual bool Pause(StopSignal* stop, std::chrono::milliseconds duration) = 0;
};

class RealStopWait final : public StopWait {
public:
    bool Pause(StopSignal* stop, std::chrono::milliseconds duration) override;
};
