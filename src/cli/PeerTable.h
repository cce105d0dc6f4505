// src/cli/PeerTable.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/base/Clock.h"
#include "core/peers/Dispatcher.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerEvent.h"

class AppState;

// The peers a command-line peer has heard, kept by the core's directory and
// dispatcher, as announced: presence makes or updates a peer by its address;
// a message or bell counts only from a peer heard before. Peers are kept in
// the order they were first heard and never forgotten, at most kMaxPeers of
// them. A group assigned by a peer is kept in the settings for this run
// only: the command-line peer never writes them. Texts are code page 1250.
using Peer = PeerFacts;

class PeerTable {
public:
    // The most peers a run keeps (the addresses of a /16): a flood from
    // spoofed addresses must not take the memory without end.
    static constexpr size_t kMaxPeers = PeerDirectory::kMaxPeers;

    explicit PeerTable(AppState& state);

    // Handles one datagram from a sender that is not this computer; returns
    // what the command-line peer prints of it. A goodbye from an unknown
    // address makes no peer.
    std::optional<PeerEvent> Receive(const uint8_t* data, size_t size, const std::string& sender,
                                     int64_t now);
    // One liveness scan: marks every peer silent for more than 30 s that is
    // not Disconnected yet, in the order they were first heard.
    std::vector<PeerEvent> Scan(int64_t now);

    std::vector<Peer> Peers() const;
    // Presences from new addresses dropped since the table was full.
    uint64_t DroppedPeers() const { return m_droppedPeers; }
    // The peers whose announced name is `name`; when none is, those whose user
    // part (before the last '@') is; then the same in any case (code page
    // 1250's letters). Disconnected peers do not count.
    std::vector<Peer> Named(const std::string& name) const;

private:
    // The clock the directory and dispatcher read: the time of the datagram.
    struct GivenClock final : Clock {
        int64_t NowSeconds() const override { return now; }
        int64_t now = 0;
    };

    // Unknown kinds are logged once each.
    void NoteUnknownKind(int16_t type, int16_t subtype);

    GivenClock m_clock;
    PeerDirectory m_directory;
    Dispatcher m_dispatcher;
    std::vector<PeerEvent> m_events;
    std::set<std::pair<int16_t, int16_t>> m_unknownKinds;
    uint64_t m_droppedPeers = 0;
};
