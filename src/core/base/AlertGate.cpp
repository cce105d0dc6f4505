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
    m_droppedSinceShown = 0;
    m_open = true;
    m_poster.Post([alive = std::weak_ptr<AlertGate*>(m_alive), caption, text, icon] {
        if (const auto self = alive.lock()) {
            (*self)->ShowWaiting(caption, text, icon);
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
    const std::string line = "Box not shown: " + cp1250::ToUtf8(text);
    if (m_closed) {
        corelog::Debug("net", line + " (the network has stopped)");
        return;
    }
    // The first one after a shown box is worth a warning; a flood only in debug.
    if (m_droppedSinceShown++ == 0) {
        corelog::Warning("net", line + " (further boxes about the network wait 10 s)");
    } else {
        corelog::Debug("net", line);
    }
}
