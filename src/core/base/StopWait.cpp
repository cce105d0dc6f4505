// src/core/base/StopWait.cpp
#include "core/base/StopWait.h"

#include <thread>

void StopSignal::RequestStop() {
    std::lock_guard lock(m_mutex);
    m_stopRequested = true;
    m_requested.notify_all();
}

bool StopSignal::StopRequested() const {
    std::lock_guard lock(m_mutex);
    return m_stopRequested;
}

bool StopSignal::WaitFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(m_mutex);
    return m_requested.wait_for(lock, duration, [this] { return m_stopRequested; });
}

void StopSignal::Wait() {
    std::unique_lock lock(m_mutex);
    m_requested.wait(lock, [this] { return m_stopRequested; });
}

bool RealStopWait::Pause(StopSignal* stop, std::chrono::milliseconds duration) {
    if (stop == nullptr) {
        std::this_thread::sleep_for(duration);
        return true;
    }
    return !stop->WaitFor(duration);
}
