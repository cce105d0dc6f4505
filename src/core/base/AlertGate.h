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

    // The network's error boxes, or the boxes that stand for notifications:
    // those are logged as such, and the next one shown says how many missed it.
    enum class Purpose { NetworkErrors, Notifications };

    AlertGate(MessagePresenter& inner, const Clock& clock, UiPoster& poster,
              Purpose purpose = Purpose::NetworkErrors)
        : m_inner(inner), m_clock(clock), m_poster(poster), m_purpose(purpose) {}

    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;
    // From now on boxes are only logged, a box still waiting to be shown too.
    void Close();
    // Counts boxes that never reached the gate as missed.
    void Miss(uint64_t count) { m_missedSinceShown += count; }

    // A box waits to be shown or is open.
    bool BoxOpen() const { return m_open; }
    uint64_t DroppedCount() const { return m_dropped; }
    // Dropped or missed since the last box let through.
    uint64_t MissedSinceShown() const { return m_missedSinceShown; }

private:
    void ShowWaiting(const std::string& caption, const std::string& text, BoxIcon icon);
    void Drop(const std::string& text);

    MessagePresenter& m_inner;
    const Clock& m_clock;
    UiPoster& m_poster;
    Purpose m_purpose;
    bool m_open = false;
    bool m_closed = false;
    bool m_everClosed = false;
    int64_t m_closedAt = 0;
    uint64_t m_dropped = 0;
    uint64_t m_droppedSinceShown = 0;
    uint64_t m_missedSinceShown = 0;
    // A posted box finds the gate through it, or finds it gone.
    std::shared_ptr<AlertGate*> m_alive = std::make_shared<AlertGate*>(this);
};
