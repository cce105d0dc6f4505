// src/core/peers/PeerNotifier.h
#pragma once

#include <atomic>
#include <string>

// Shows a notification text (code page 1250) as a balloon, or a message box
// where the desktop has no balloons.
struct NotificationSink {
    virtual ~NotificationSink() = default;
    virtual void ShowBalloon(const std::string& text) = 0;
};

// NotifyPeerEvent: remembers the peer of the latest notification, whose
// conversation a click on the balloon opens, and shows the text.
class PeerNotifier {
public:
    explicit PeerNotifier(NotificationSink& sink) : m_sink(sink) {}

    void NotifyPeerEvent(const std::string& text, int index);
    int LastNotifiedPeer() const { return m_lastNotifiedPeer.load(); }

private:
    NotificationSink& m_sink;
    std::atomic<int> m_lastNotifiedPeer{0};
};
