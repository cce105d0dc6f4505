// src/core/base/StopWait.cpp
#include "core/base/StopWait.h"

#include <condition_variable>
#include <mutex>

bool RealStopWait::Pause(std::stop_token stop, std::chrono::milliseconds duration) {
    std::mutex mutex;
    std::condition_variable_any cv;
    std::unique_lock lock(mutex);
    cv.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}
