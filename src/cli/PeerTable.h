// src/cli/PeerTable.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/peers/LivenessWatcher.h"

class AppState;

// The peers a command-line peer has heard, and what each datagram means:
// presence makes or updates a peer by its address; a message, bell or
// typing notice counts only from a peer heard before. Peers are kept in the
// order they were first heard and never forgotten. Texts are code page 1250.
struct Peer {
    std::string address;
    std::string name;
    std::string group;
    int16_t status = 0;
    int64_t lastHeard = 0;  // calendar seconds
};

enum class PeerEventKind { Appeared, StatusChanged, WentSilent, Message, Bell, GroupAssigned };

struct PeerEvent {
    PeerEventKind kind = PeerEventKind::Appeared;
    Peer peer;                   // the peer as it is after the event
    int16_t previousStatus = 0;  // StatusChanged
    int64_t silentSeconds = 0;   // WentSilent
    std::string text;            // Message: the text; GroupAssigned: the group
};

class PeerTable {
public:
    // Handles one datagram from a sender that is not this computer. A
    // goodbye from an unknown address makes no peer.
    std::optional<PeerEvent> Receive(const uint8_t* data, size_t size, const std::string& sender,
                                     int64_t now);
    // One liveness scan: marks the first peer silent for more than 30 s that
    // is not Disconnected yet, at most one per scan.
    std::optional<PeerEvent> Scan(int64_t now);

    const std::vector<Peer>& Peers() const { return m_peers; }
    // The peers whose announced name is `name`; when none is, those whose user
    // part (before the last '@') is; then the same in any case (code page
    // 1250's letters). Disconnected peers do not count.
    std::vector<Peer> Named(const std::string& name) const;

private:
    Peer* Find(const std::string& address);
    // Unknown kinds are logged once each.
    void NoteUnknownKind(int16_t type, int16_t subtype);

    std::vector<Peer> m_peers;
    std::set<std::pair<int16_t, int16_t>> m_unknownKinds;
};

// The table's Receive, and a group a peer assigns kept in `state` for this
// run only: the command-line peer never writes the settings.
std::optional<PeerEvent> Hear(PeerTable& table, AppState& state, const uint8_t* data, size_t size,
                              const std::string& sender, int64_t now);
