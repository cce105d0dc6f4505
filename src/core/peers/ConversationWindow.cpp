// src/core/peers/ConversationWindow.cpp
#include "core/peers/ConversationWindow.h"

#include <mutex>

#include "core/res/Strings.h"

ConversationWindow::~ConversationWindow() {
    std::lock_guard lock(m_directory.Mutex());
    if (m_directory.IsValidIndex(m_peerIndex)) {
        PeerRecord& record = m_directory.PeerAt(m_peerIndex);
        if (record.window == this) {
            record.window = nullptr;
        }
    }
}

void ConversationWindow::MarkPeerDisconnected(bool withNotice) {
    if (withNotice && m_state.Read([](const SettingsRecord& s) { return s.enableDisconMsg; })) {
        {
            std::lock_guard lock(m_directory.Mutex());
            PeerRecord& record = m_directory.PeerAt(m_peerIndex);
            record.AppendNotice(record.name, res::String(res::kStrPeerDisconnectedNotice));
        }
        RefreshLog();
    }
    SetSendingEnabled(false);
}

void ConversationWindow::MarkPeerReconnected() {
    if (m_state.Read([](const SettingsRecord& s) { return s.enableConnectMsg; })) {
        {
            std::lock_guard lock(m_directory.Mutex());
            PeerRecord& record = m_directory.PeerAt(m_peerIndex);
            record.AppendNotice(record.name, res::String(res::kStrPeerReconnectedNotice));
        }
        RefreshLog();
    }
    SetSendingEnabled(true);
}
