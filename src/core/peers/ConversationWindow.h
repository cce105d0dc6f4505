// src/core/peers/ConversationWindow.h
#pragma once

#include <memory>
#include <string>

#include "core/peers/PeerDirectory.h"
#include "core/settings/AppState.h"

class CPeerSocket;
class PeerItems;

// A peer's conversation window as the peer logic sees it. The rules of the
// disconnection and reconnection notices live here; the widget supplies the
// screen operations. User-interface thread only.
class ConversationWindow {
public:
    ConversationWindow(PeerDirectory& directory, const AppState& state, int peerIndex)
        : m_directory(directory), m_state(state), m_peerIndex(peerIndex) {}
    // Clears the record's link to this window under the directory lock.
    virtual ~ConversationWindow();
    ConversationWindow(const ConversationWindow&) = delete;
    ConversationWindow& operator=(const ConversationWindow&) = delete;

    virtual void SetCaption(const std::string& text) = 0;  // code page 1250
    // Rebuilds the log from the peer's history.
    virtual void RefreshLog() = 0;
    // Shows the window and brings it to the top without moving it.
    virtual void ShowAndRaise() = 0;
    virtual void SetSendingEnabled(bool enabled) = 0;

    // With a notice and "EnableDisconMsg": the red notice line; in every case
    // Send and Bell are disabled.
    void MarkPeerDisconnected(bool withNotice);
    // With "EnableConnectMsg": the green notice line; Send and Bell enabled.
    void MarkPeerReconnected();

    int PeerIndex() const { return m_peerIndex; }

protected:
    PeerDirectory& m_directory;
    const AppState& m_state;
    const int m_peerIndex;
};

// What a conversation window uses of the network that makes it.
struct ConversationParts {
    PeerDirectory& directory;
    CPeerSocket& endpoint;
    PeerItems& items;
};

// Makes the conversation window of a peer; null when it cannot be created.
struct ConversationFactory {
    virtual ~ConversationFactory() = default;
    virtual std::unique_ptr<ConversationWindow> CreateConversation(const ConversationParts& parts,
                                                                   int peerIndex) = 0;
};
