// src/core/peers/PeerNotifier.cpp
#include "core/peers/PeerNotifier.h"

void PeerNotifier::NotifyPeerEvent(const Notification& notification) {
    m_lastNotifiedPeer.store(notification.peer);
    m_sink.Show(notification);
}
