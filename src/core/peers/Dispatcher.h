// src/core/peers/Dispatcher.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/net/Packet.h"
#include "core/peers/NotificationBuilder.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"

// What a received datagram means for the peer directory and for the user.
// Runs on the user-interface thread, one datagram at a time, in order of
// arrival. Boxes go through the presenter (a gate that keeps network-caused
// boxes from piling up).
class Dispatcher {
public:
    struct Services {
        PeerDirectory& directory;
        AppState& state;
        PeerTree& tree;
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

    explicit Dispatcher(Services services)
        : m_s(std::move(services)), m_notifications(m_s.state, m_s.presenter) {}

    // Seconds without a refused new peer after which the next one is logged again.
    static constexpr int64_t kRefusalQuietSeconds = 60;

    // The received bytes (at most 508) and the sender's address in host order.
    void DispatchDatagram(const uint8_t* data, size_t size, uint32_t sender);

    bool UpdateKnownPeer(uint32_t sender, const DatagramView& datagram);
    void AddNewPeer(uint32_t sender, const DatagramView& datagram);

private:
    void IncomingMessage(int index, const DatagramView& datagram);
    void TypingNotice(int index);
    void Bell(int index);
    void GroupAssignment(const DatagramView& datagram);
    bool ShowMySelf() const;
    // Whether the record still holds this status (a box's event loop may have
    // applied a newer announcement).
    bool StatusStill(int index, int32_t status) const;
    // The record of the sender, found by its address alone; none for strangers.
    // This computer has one only if "ShowMySelf" was on when it announced
    // itself, and keeps it when the setting goes off.
    std::optional<int> KnownSender(uint32_t sender) const;

    // A new address beyond PeerDirectory::kMaxPeers: dropped and counted.
    void RefusePeer(uint32_t sender);

    Services m_s;
    NotificationBuilder m_notifications;
    uint64_t m_refusedPeers = 0;
    std::optional<int64_t> m_lastRefusal;  // seconds
};
