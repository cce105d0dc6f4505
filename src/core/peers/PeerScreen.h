// src/core/peers/PeerScreen.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/peers/Dispatcher.h"
#include "core/peers/NotificationBuilder.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerEvent.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"

class ConversationWindow;

// The desktop's side of the peers' events: the tree item and its icon, the
// conversation window, the sound and the notification, in that order, for
// each event the dispatcher or the liveness watcher reports. No box opens
// here: the presenter is a gate that shows the network's boxes from posted
// tasks. User-interface thread only.
class PeerScreen {
public:
    struct Services {
        PeerDirectory& directory;
        AppState& state;
        PeerItems& items;
        PeerNotifier& notifier;
        SoundEvents& sounds;
        MessagePresenter& presenter;
        const Clock& clock;
        // True for a sender address (host order) that belongs to this computer.
        std::function<bool(uint32_t)> isOwnAddress;
        // Writes the settings to the profile; empty: they are not written.
        std::function<void()> saveSettings = {};
    };

    explicit PeerScreen(Services services);

    // Dispatches one received datagram and shows what it did.
    void DispatchDatagram(const uint8_t* data, size_t size, uint32_t sender);
    void Show(const PeerEvent& event);

private:
    void Appeared(const PeerEvent& event);
    void Changed(const PeerEvent& event);
    void WentSilent(const PeerEvent& event);
    void Message(const PeerEvent& event);
    void Bell(const PeerEvent& event);
    void Refused(const PeerEvent& event);
    ConversationWindow* WindowOf(int index) const;
    // Whether the record still holds this status (a box's event loop may have
    // applied a newer announcement).
    bool StatusStill(int index, int32_t status) const;

    Services m_s;
    Dispatcher m_dispatcher;
    NotificationBuilder m_notifications;
    std::vector<PeerEvent> m_spare;  // the events' storage, kept between datagrams
    // Records whose item the tree refused: their next datagram tries again.
    std::unordered_set<int> m_unshown;
};
