// src/core/peers/ConversationWindow.cpp
#include "core/peers/ConversationWindow.h"

#include "core/res/Strings.h"

ConversationWindow::~ConversationWindow() {
    if (m_directory.IsValidIndex(m_peerIndex)) {
        m_directory.Modify(m_peerIndex, [this](PeerRecord& record) {
            if (record.window == this) {
                record.window = nullptr;
            }
        });
    }
}

void ConversationWindow::MarkPeerDisconnected(bool withNotice) {
    if (withNotice && m_state.Read([](const SettingsRecord& s) { return s.enableDisconMsg; })) {
        m_directory.Modify(m_peerIndex, [](PeerRecord& record) {
            record.AppendNotice(record.name, res::String(res::kStrPeerDisconnectedNotice));
        });
        RefreshLog();
    }
    SetSendingEnabled(false);
}

void ConversationWindow::MarkPeerReconnected() {
    if (m_state.Read([](const SettingsRecord& s) { return s.enableConnectMsg; })) {
        m_directory.Modify(m_peerIndex, [](PeerRecord& record) {
            record.AppendNotice(record.name, res::String(res::kStrPeerReconnectedNotice));
        });
        RefreshLog();
    }
    SetSendingEnabled(true);
}
