// src/core/peers/Dispatcher.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/base/Clock.h"
#include "core/net/Packet.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerEvent.h"
#include "core/settings/AppState.h"

// What a received datagram means for the peer directory: the record is
// made or changed under the directory's lock, once, and what happened is
// told as events, for a front end to show. One datagram at a time, in order
// of arrival, on one thread (the one that adds records).
class Dispatcher {
public:
    struct Services {
        PeerDirectory& directory;
        AppState& state;
        const Clock& clock;
        // True for a sender address (host order) that belongs to this computer.
        std::function<bool(uint32_t)> isOwnAddress;
        // The desktop's list: a new record starts Ready whatever it announced,
        // and a stranger's goodbye makes one too. The command-line peer lists
        // peers as announced: a new record takes the announced status, and a
        // stranger's goodbye makes none.
        bool asAnnounced = false;
    };

    explicit Dispatcher(Services services) : m_s(std::move(services)) {}

    // Seconds without a refused new peer after which the next one starts a new run.
    static constexpr int64_t kRefusalQuietSeconds = 60;

    // The received bytes (at most 508) and the sender's address in host order;
    // the events are appended to `events`.
    void Dispatch(const uint8_t* data, size_t size, uint32_t sender,
                  std::vector<PeerEvent>& events);

private:
    void Presence(uint32_t sender, const DatagramView& datagram, std::vector<PeerEvent>& events);
    // False where the sender has no record.
    bool UpdateKnownPeer(uint32_t sender, const DatagramView& datagram,
                         std::vector<PeerEvent>& events);
    void AddNewPeer(uint32_t sender, const DatagramView& datagram, std::vector<PeerEvent>& events);
    void IncomingMessage(int index, uint32_t sender, const DatagramView& datagram,
                         std::vector<PeerEvent>& events);
    void Bell(int index, uint32_t sender, std::vector<PeerEvent>& events);
    bool ShowMySelf() const;
    // The record of the sender, found by its address alone; none for strangers.
    // This computer has one only if "ShowMySelf" was on when it announced
    // itself, and keeps it when the setting goes off.
    std::optional<int> KnownSender(uint32_t sender) const;
    static PeerEvent UnknownKind(uint32_t sender, int16_t type, int16_t subtype, const char* format,
                                 int value);

    Services m_s;
    uint64_t m_refusedPeers = 0;
    std::optional<int64_t> m_lastRefusal;  // seconds
};
