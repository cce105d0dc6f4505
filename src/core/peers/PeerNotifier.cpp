// src/core/peers/PeerNotifier.cpp
#include "core/peers/PeerNotifier.h"

void PeerNotifier::NotifyPeerEvent(const std::string& text, int index) {
    m_lastNotifiedPeer.store(index);
    m_sink.ShowBalloon(text);
}
