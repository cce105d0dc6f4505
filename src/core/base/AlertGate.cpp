// src/core/base/AlertGate.cpp
#include "core/base/AlertGate.h"

void AlertGate::ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) {
    if (m_open) {
        ++m_dropped;
        return;
    }
    if (m_everClosed) {
        const int64_t since = m_clock.NowSeconds() - m_closedAt;
        // A clock set back counts as still quiet until it passes the close again.
        if (since < kQuietSeconds) {
            ++m_dropped;
            return;
        }
    }
    m_open = true;
    m_inner.ShowMessage(caption, text, icon);
    m_open = false;
    m_everClosed = true;
    m_closedAt = m_clock.NowSeconds();
}
