// src/core/base/StopWait.cpp
#include "core/base/StopWait.h"

#include <algorithm>
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

void StopSignal::Wake() {
    std::lock_guard lock(m_mutex);
    m_woken = true;
    m_requested.notify_all();
}

bool StopSignal::WaitFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(m_mutex);
    return m_requested.wait_for(lock, duration, [this] { return m_stopRequested; });
}

StopSignal::WaitEnd StopSignal::WaitForOrWake(std::chrono::milliseconds duration) {
    std::unique_lock lock(m_mutex);
    m_requested.wait_for(lock, duration, [this] { return m_stopRequested || m_woken; });
    if (m_stopRequested) {
        return WaitEnd::Stopped;
    }
    if (m_woken) {
        m_woken = false;
        return WaitEnd::Woken;
    }
    return WaitEnd::TimeRanOut;
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

std::optional<std::chrono::milliseconds> RealStopWait::PauseUnlessWoken(
    StopSignal& stop, std::chrono::milliseconds duration) {
    const auto start = std::chrono::steady_clock::now();
    switch (stop.WaitForOrWake(duration)) {
        case StopSignal::WaitEnd::Stopped:
            return std::nullopt;
        case StopSignal::WaitEnd::TimeRanOut:
            return duration;
        case StopSignal::WaitEnd::Woken:
            break;
    }
    const auto lasted = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    return std::min(lasted, duration);
}
