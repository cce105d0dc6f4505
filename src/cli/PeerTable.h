// src/cli/PeerTable.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/peers/LivenessWatcher.h"

class AppState;

// The peers a command-line peer has heard, and what each datagram means:
// presence makes or updates a peer by its address; a message, bell or
// typing notice counts only from a peer heard before. Peers are kept in the
// order they were first heard and never forgotten, at most kMaxPeers of them.
// Texts are code page 1250.
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
    // The most peers a run keeps (the addresses of a /16): a flood from
    // spoofed addresses must not take the memory without end.
    static constexpr size_t kMaxPeers = 65536;
    // Seconds without a dropped new peer after which the next drop is logged again.
    static constexpr int64_t kDropQuietSeconds = 60;

    // Handles one datagram from a sender that is not this computer. A
    // goodbye from an unknown address makes no peer.
    std::optional<PeerEvent> Receive(const uint8_t* data, size_t size, const std::string& sender,
                                     int64_t now);
    // One liveness scan: marks every peer silent for more than 30 s that is
    // not Disconnected yet, in the order they were first heard.
    std::vector<PeerEvent> Scan(int64_t now);

    const std::vector<Peer>& Peers() const { return m_peers; }
    // Presences from new addresses dropped since the table was full.
    uint64_t DroppedPeers() const { return m_droppedPeers; }
    // The peers whose announced name is `name`; when none is, those whose user
    // part (before the last '@') is; then the same in any case (code page
    // 1250's letters). Disconnected peers do not count.
    std::vector<Peer> Named(const std::string& name) const;

private:
    Peer* Find(const std::string& address);
    // Unknown kinds are logged once each.
    void NoteUnknownKind(int16_t type, int16_t subtype);
    // A new address beyond kMaxPeers: counted; the first drop of a run is logged.
    void DropPeer(const std::string& sender, int64_t now);

    std::vector<Peer> m_peers;
    std::unordered_map<std::string, size_t> m_index;  // address -> place in m_peers
    std::set<std::pair<int16_t, int16_t>> m_unknownKinds;
    uint64_t m_droppedPeers = 0;
    std::optional<int64_t> m_lastDrop;  // calendar seconds
};

// The table's Receive, and a group a peer assigns kept in `state` for this
// run only: the command-line peer never writes the settings.
std::optional<PeerEvent> Hear(PeerTable& table, AppState& state, const uint8_t* data, size_t size,
                              const std::string& sender, int64_t now);
