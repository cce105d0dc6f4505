// src/core/peers/PeerNetwork.h
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/base/AlertGate.h"
#include "core/base/Clock.h"
#include "core/base/CrossThreadPresenter.h"
#include "core/base/Presenter.h"
#include "core/base/StopWait.h"
#include "core/base/UiPoster.h"
#include "core/net/AnsweredPeers.h"
#include "core/net/ExtraDestinations.h"
#include "core/net/PeerSocket.h"
#include "core/net/PresenceAnnouncer.h"
#include "core/peers/ConversationWindow.h"
#include "core/peers/DatagramHandOver.h"
#include "core/peers/DatagramReceiver.h"
#include "core/peers/LivenessWatcher.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerScreen.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"

// The network side of the program: the endpoint, the peer directory, the
// receive thread and the dispatch of what it hands over into the tree, the
// presence announcer and the liveness watcher, and the conversation windows.
// Made and used on the user-interface thread; Stop() says goodbye and ends the
// threads, and destruction (or Shutdown()) also deletes the windows before the
// endpoint and the directory go.
class PeerNetwork {
public:
    struct Services {
        AppState& state;
        MessagePresenter& presenter;  // the user-interface thread's boxes
        UiPoster& poster;
        PeerTree& tree;
        NotificationSink& notifications;
        SoundEvents& sounds;
        ConversationFactory& conversations;
        const Clock& clock;
        StopWait& wait;
        std::function<void()> saveSettings = {};  // empty: the settings are not written
        // NetworkUnreachable() has changed; called on the announcer's thread.
        std::function<void()> reachChanged = {};
    };

    PeerNetwork(Services services, CPeerSocket::Options options = {});
    ~PeerNetwork();
    PeerNetwork(const PeerNetwork&) = delete;
    PeerNetwork& operator=(const PeerNetwork&) = delete;

    // Opens the endpoint and starts the announcer, the watcher and the receive
    // thread. On failure shows the socket box ("Create") and starts nothing;
    // returns false. After Stop() it starts nothing and shows nothing.
    bool Start();

    // The end of the network side, in order: goodbye, 333 ms, socket shut down,
    // stop requested, the threads (announcer, watcher, receiver) joined, socket
    // closed. Nothing handed over is dispatched after it. The windows stay, so
    // it may run while one of them waits in a box. Runs once.
    void Stop();
    // The owner's shutdown: Stop(), then the windows deleted in index order.
    // Only where no window's function is running. Runs once.
    void Shutdown();

    void OpenConversation(int index);
    void OpenNotifiedConversation();

    PeerDirectory& Directory() { return m_directory; }
    CPeerSocket& Endpoint() { return m_socket; }
    PeerNotifier& Notifier() { return m_notifier; }
    PeerScreen& Dispatch() { return m_screen; }
    AlertGate& NetworkAlerts() { return m_alerts; }
    bool StopRequested() const { return m_stopRequested; }
    // No announcement has left for several periods in a row (any thread).
    bool NetworkUnreachable() const { return m_socket.NetworkUnreachable(); }
    // The peers heard from beyond this computer's networks and not
    // Disconnected, by index.
    std::vector<int> RemotePeers();
    bool ThreadsRunning() const {
        return m_announcer.Running() || m_watcher.Running() || m_receiver.Running();
    }

    // What the user is told when the watcher has marked peers (user-interface thread).
    void TellPeersSilent(const std::vector<PeerEvent>& marked);

private:
    // The socket's extra destinations: the listed ones, then the answered peers.
    CPeerSocket::Options WithExtras(CPeerSocket::Options options);
    // "ExtraAddresses" as the settings hold it now.
    void ReadExtraAddresses();
    // One arrival from the receive thread, on the user-interface thread.
    void Deliver(const Arrival& arrival);
    // The open windows of the peers whose histories the shared budget trimmed.
    void RedrawTrimmedWindows();

    Services m_s;
    CrossThreadPresenter m_threadPresenter;
    AlertGate m_alerts;
    PeerDirectory m_directory;
    ExtraDestinations m_extras;
    AnsweredPeers m_answered;
    CPeerSocket m_socket;
    PeerItems m_items;
    PeerNotifier m_notifier;
    PeerScreen m_screen;
    DatagramHandOver m_handOver;
    DatagramReceiver m_receiver;
    PresenceAnnouncer m_announcer;
    LivenessWatcher m_watcher;
    AppState::Subscription m_periodWatch;  // wakes the announcer's wait, reads the extra addresses
    std::vector<std::unique_ptr<ConversationWindow>> m_windows;
    bool m_stopRequested = false;
    bool m_stopped = false;   // Stop() has begun
    bool m_shutDown = false;  // Shutdown() has begun
    std::shared_ptr<PeerNetwork*> m_alive = std::make_shared<PeerNetwork*>(this);
};
