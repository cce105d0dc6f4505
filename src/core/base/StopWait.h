// src/core/base/StopWait.h
#pragma once

#include <chrono>
#include <stop_token>

// An interruptible pause for the worker threads: returns false at once when a
// stop is requested (before or during the pause), true when the time ran out.
struct StopWait {
    virtual ~StopWait() = default;
    virtual bool Pause(std::stop_token stop, std::chrono::milliseconds duration) = 0;
};

class RealStopWait final : public StopWait {
public:
    bool Pause(std::stop_token stop, std::chrono::milliseconds duration) override;
};
