// src/cli/PeerTable.cpp
#include "cli/PeerTable.h"

#include <array>

#include "cli/Text.h"
#include "core/base/Log.h"
#include "core/net/Packet.h"
#include "core/peers/LivenessWatcher.h"
#include "core/settings/AppState.h"
#include "core/settings/UserStatus.h"
#include "platform/Socket.h"

namespace {

// Distinct unknown kinds logged; more are dropped in silence.
constexpr size_t kMaxUnknownKindsLogged = 16;

std::string UserPart(const std::string& name) {
    const size_t at = name.rfind('@');
    return at == std::string::npos ? name : name.substr(0, at);
}

}  // namespace

PeerTable::PeerTable(AppState& state)
    : m_directory(m_clock),
      m_dispatcher(Dispatcher::Services{.directory = m_directory,
                                        .state = state,
                                        .clock = m_clock,
                                        .isOwnAddress = [](uint32_t) { return false; },
                                        .asAnnounced = true}) {}

std::optional<PeerEvent> PeerTable::Receive(const uint8_t* data, size_t size,
                                            const std::string& sender, int64_t now) {
    const std::optional<uint32_t> address = platform::ParseDottedAddress(sender);
    if (!address) {
        return std::nullopt;
    }
    m_clock.now = now;
    m_events.clear();
    m_dispatcher.Dispatch(data, size, *address, m_events);
    std::optional<PeerEvent> printed;
    for (PeerEvent& event : m_events) {
        switch (event.kind) {
            case PeerEventKind::Appeared:
            case PeerEventKind::StatusChanged:
            case PeerEventKind::Message:
            case PeerEventKind::Bell:
                printed = std::move(event);
                break;
            case PeerEventKind::GroupAssigned:
                event.peer.address = sender;
                if (const auto index = m_directory.FindPeerByAddress(*address)) {
                    event.peer = m_directory.Facts(*index);
                }
                printed = std::move(event);
                break;
            case PeerEventKind::Refused:
                ++m_droppedPeers;
                if (event.firstOfRun) {
                    corelog::Warning(
                        "cli", "The table holds " + std::to_string(kMaxPeers) +
                                   " peers, the most it takes: the announcement of " + sender +
                                   " was dropped; new peers dropped since the start: " +
                                   std::to_string(event.refusedSoFar) + ".");
                }
                break;
            case PeerEventKind::UnknownKind:
                NoteUnknownKind(event.type, event.subtype);
                break;
            case PeerEventKind::Renamed:
            case PeerEventKind::Typing:
            case PeerEventKind::WentSilent:
                break;
        }
    }
    return printed;
}

std::vector<PeerEvent> PeerTable::Scan(int64_t now) {
    return m_directory.MarkSilent(now, LivenessWatcher::kLivenessTimeout);
}

std::vector<Peer> PeerTable::Peers() const {
    std::vector<Peer> peers;
    const int count = m_directory.PeerCount();
    peers.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        peers.push_back(m_directory.Facts(i));
    }
    return peers;
}

std::vector<Peer> PeerTable::Named(const std::string& name) const {
    // The first of these that any peer matches: the whole name, the user
    // part, the whole name in any case, the user part in any case.
    const std::string folded = clitext::FoldCase(name);
    std::array<std::vector<Peer>, 4> matches;
    for (const Peer& peer : Peers()) {
        if (peer.status == Disconnected) {
            continue;
        }
        const std::string user = UserPart(peer.name);
        if (peer.name == name) {
            matches[0].push_back(peer);
        } else if (user == name) {
            matches[1].push_back(peer);
        } else if (clitext::FoldCase(peer.name) == folded) {
            matches[2].push_back(peer);
        } else if (clitext::FoldCase(user) == folded) {
            matches[3].push_back(peer);
        }
    }
    for (std::vector<Peer>& match : matches) {
        if (!match.empty()) {
            return std::move(match);
        }
    }
    return {};
}

void PeerTable::NoteUnknownKind(int16_t type, int16_t subtype) {
    if (m_unknownKinds.size() >= kMaxUnknownKindsLogged ||
        !m_unknownKinds.emplace(type, subtype).second) {
        return;
    }
    corelog::Warning("cli", "Dropped a datagram of an unknown kind: type " + std::to_string(type) +
                                ", subtype " + std::to_string(subtype) + ".");
}
