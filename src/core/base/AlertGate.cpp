// src/core/base/AlertGate.cpp
#include "core/base/AlertGate.h"

#include <string>

#include "core/base/Log.h"
#include "core/res/Cp1250.h"

void AlertGate::ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) {
    if (m_open || m_closed) {
        Drop(text);
        return;
    }
    if (m_everClosed) {
        const int64_t since = m_clock.NowSeconds() - m_closedAt;
        // A clock set back counts as still quiet until it passes the close again.
        if (since < kQuietSeconds) {
            Drop(text);
            return;
        }
    }
    std::string shown = text;
    if (m_purpose == Purpose::Notifications && m_missedSinceShown > 0) {
        shown += cp1250::FromUtf8("\r\n\r\nNezobrazených upozornění mezitím: ") +
                 std::to_string(m_missedSinceShown);
    }
    m_droppedSinceShown = 0;
    m_missedSinceShown = 0;
    m_open = true;
    m_poster.Post([alive = std::weak_ptr<AlertGate*>(m_alive), caption, shown, icon] {
        if (const auto self = alive.lock()) {
            (*self)->ShowWaiting(caption, shown, icon);
        }
    });
}

void AlertGate::Close() {
    m_closed = true;
}

void AlertGate::ShowWaiting(const std::string& caption, const std::string& text, BoxIcon icon) {
    if (m_closed) {
        m_open = false;
        Drop(text);
        return;
    }
    m_inner.ShowMessage(caption, text, icon);
    m_open = false;
    m_everClosed = true;
    m_closedAt = m_clock.NowSeconds();
}

void AlertGate::Drop(const std::string& text) {
    ++m_dropped;
    ++m_missedSinceShown;
    const bool network = m_purpose == Purpose::NetworkErrors;
    const char* category = network ? "net" : "ui";
    const std::string line =
        (network ? "Box not shown: " : "Notification box not shown: ") + cp1250::ToUtf8(text);
    if (m_closed) {
        corelog::Debug(category, line + (network ? " (the network has stopped)" : " (ending)"));
        return;
    }
    // The first one after a shown box is worth a warning; a flood only in debug.
    if (m_droppedSinceShown++ == 0) {
        corelog::Warning(category,
                         line + (network ? " (further boxes about the network wait 10 s)"
                                         : " (a box is open or closed less than 10 s ago)"));
    } else {
        corelog::Debug(category, line);
    }
}
