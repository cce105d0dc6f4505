// tests/core/Fakes.h
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/base/Clock.h"
#include "core/base/Log.h"
#include "core/base/Presenter.h"
#include "core/base/UiPoster.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"
#include "platform/Socket.h"

// A dotted address in host order, as the receive thread hands senders over.
inline uint32_t Ip(const std::string& dotted) {
    return platform::ParseDottedAddress(dotted).value_or(0);
}

// The core's warnings while it lives.
class RecordingLog final : public LogSink {
public:
    RecordingLog() { corelog::SetSink(this); }
    ~RecordingLog() override { corelog::SetSink(nullptr); }
    void Write(LogLevel level, std::string_view category, std::string_view text) override {
        if (level == LogLevel::Warning) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(std::string(category) + ": " + std::string(text));
        }
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class FakeClock final : public Clock {
public:
    explicit FakeClock(int64_t now = 1'000'000) : m_now(now) {}
    int64_t NowSeconds() const override {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    void Advance(int64_t seconds) {
        std::lock_guard lock(m_mutex);
        m_now += seconds;
    }
    void Set(int64_t now) {
        std::lock_guard lock(m_mutex);
        m_now = now;
    }

private:
    mutable std::mutex m_mutex;
    int64_t m_now;
};

struct ShownMessage {
    std::string caption;
    std::string text;
    BoxIcon icon;
    bool operator==(const ShownMessage&) const = default;
};

// Records every box instead of showing it; safe from any thread.
class RecordingPresenter final : public MessagePresenter {
public:
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override {
        std::lock_guard lock(m_mutex);
        m_shown.push_back({caption, text, icon});
        if (m_onShow) {
            m_onShow();
        }
    }
    std::vector<ShownMessage> Shown() const {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> texts;
        for (const auto& m : m_shown) {
            texts.push_back(m.text);
        }
        return texts;
    }
    void OnShow(std::function<void()> callback) { m_onShow = std::move(callback); }

private:
    mutable std::mutex m_mutex;
    std::vector<ShownMessage> m_shown;
    std::function<void()> m_onShow;
};

class RecordingPlayer final : public SoundPlayer {
public:
    void Play(const std::string& path) override { m_played.push_back(path); }
    const std::vector<std::string>& Played() const { return m_played; }

private:
    std::vector<std::string> m_played;
};

// A user-interface thread of our own: the thread that constructed the poster
// counts as the UI thread; posted tasks wait in a queue until the test drains it.
class QueuePoster final : public UiPoster {
public:
    void Post(std::function<void()> task) override {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_posted.notify_all();
    }
    // Waits until a task is queued; false when none came by the deadline.
    bool WaitForTask(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(m_mutex);
        return m_posted.wait_until(lock, deadline, [this] { return !m_tasks.empty(); });
    }
    bool OnUiThread() const override { return std::this_thread::get_id() == m_uiThread; }
    // Runs the queued tasks (and those they post) on the calling thread.
    int Drain() {
        int ran = 0;
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(m_mutex);
                if (m_tasks.empty()) {
                    return ran;
                }
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
            ++ran;
        }
    }
    size_t Pending() const {
        std::lock_guard lock(m_mutex);
        return m_tasks.size();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
    std::thread::id m_uiThread = std::this_thread::get_id();
};

class FixedNames final : public NameSource {
public:
    FixedNames(std::string logon, std::string computer)
        : m_logon(std::move(logon)), m_computer(std::move(computer)) {}
    std::string LogonName() const override { return m_logon; }
    std::string ComputerName() const override { return m_computer; }

private:
    std::string m_logon;
    std::string m_computer;
};
