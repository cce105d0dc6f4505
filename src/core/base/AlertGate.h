// src/core/base/AlertGate.h
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/base/UiPoster.h"

// Boxes raised by what arrives from the network. While one is waiting to be
// shown or open, and for a quiet period after it was closed, further ones are
// dropped (and counted), so no host on the network can bury the user under
// dialogs. A box let through is shown from a task posted to the user-interface
// thread, never from inside the caller: a box's event loop then runs no
// dispatch of the network half-way. User-interface thread only.
class AlertGate final : public MessagePresenter {
public:
    static constexpr int64_t kQuietSeconds = 10;

    AlertGate(MessagePresenter& inner, const Clock& clock, UiPoster& poster)
        : m_inner(inner), m_clock(clock), m_poster(poster) {}

    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;
    // From now on boxes are only logged, a box still waiting to be shown too.
    void Close();

    // A box waits to be shown or is open.
    bool BoxOpen() const { return m_open; }
    uint64_t DroppedCount() const { return m_dropped; }

private:
    void ShowWaiting(const std::string& caption, const std::string& text, BoxIcon icon);
    void Drop(const std::string& text);

    MessagePresenter& m_inner;
    const Clock& m_clock;
    UiPoster& m_poster;
    bool m_open = false;
    bool m_closed = false;
    bool m_everClosed = false;
    int64_t m_closedAt = 0;
    uint64_t m_dropped = 0;
    uint64_t m_droppedSinceShown = 0;
    // A posted box finds the gate through it, or finds it gone.
    std::shared_ptr<AlertGate*> m_alive = std::make_shared<AlertGate*>(this);
};
