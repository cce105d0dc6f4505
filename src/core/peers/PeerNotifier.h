// src/core/peers/PeerNotifier.h
#pragma once

#include <atomic>

#include "core/peers/NotificationBuilder.h"

// Shows a notification as it is: a balloon, or a message box where the
// desktop has no balloons, and the tray's tool tip.
struct NotificationSink {
    virtual ~NotificationSink() = default;
    virtual void Show(const Notification& notification) = 0;
};

// NotifyPeerEvent: remembers the peer of the latest notification, whose
// conversation a click on the balloon opens, and shows the notification.
class PeerNotifier {
public:
    explicit PeerNotifier(NotificationSink& sink) : m_sink(sink) {}

    void NotifyPeerEvent(const Notification& notification);
    int LastNotifiedPeer() const { return m_lastNotifiedPeer.load(); }

private:
    NotificationSink& m_sink;
    std::atomic<int> m_lastNotifiedPeer{0};
};
