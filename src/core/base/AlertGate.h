// src/core/base/AlertGate.h
#pragma once

#include <cstdint>

#include "core/base/Clock.h"
#include "core/base/Presenter.h"

// Boxes raised by what arrives from the network. While one is open, and for a
// quiet period after it was closed, further ones are dropped (and counted), so
// no host on the network can bury the user under dialogs. User-interface
// thread only; a box's nested event loop may call back in.
class AlertGate final : public MessagePresenter {
public:
    static constexpr int64_t kQuietSeconds = 10;

    AlertGate(MessagePresenter& inner, const Clock& clock) : m_inner(inner), m_clock(clock) {}

    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;

    bool BoxOpen() const { return m_open; }
    uint64_t DroppedCount() const { return m_dropped; }

private:
    void Drop(const std::string& text);

    MessagePresenter& m_inner;
    const Clock& m_clock;
    bool m_open = false;
    bool m_everClosed = false;
    int64_t m_closedAt = 0;
    uint64_t m_dropped = 0;
    uint64_t m_droppedSinceShown = 0;
};
