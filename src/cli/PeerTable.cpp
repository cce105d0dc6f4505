// src/cli/PeerTable.cpp
#include "cli/PeerTable.h"

#include <array>

#include "cli/Text.h"
#include "core/base/Log.h"
#include "core/net/Packet.h"
#include "core/settings/AppState.h"
#include "core/settings/UserStatus.h"

namespace {

// Distinct unknown kinds logged; more are dropped in silence.
constexpr size_t kMaxUnknownKindsLogged = 16;

std::string UserPart(const std::string& name) {
    const size_t at = name.rfind('@');
    return at == std::string::npos ? name : name.substr(0, at);
}

}  // namespace

Peer* PeerTable::Find(const std::string& address) {
    const auto found = m_index.find(address);
    return found == m_index.end() ? nullptr : &m_peers[found->second];
}

std::optional<PeerEvent> PeerTable::Receive(const uint8_t* data, size_t size,
                                            const std::string& sender, int64_t now) {
    const DatagramView datagram(data, size);
    if (!datagram.HasHeader()) {
        return std::nullopt;
    }
    const int16_t type = datagram.Type();
    const int16_t subtype = datagram.Subtype();
    Peer* known = Find(sender);
    PeerEvent event;
    if (type == kTypeChat && subtype == kSubPresence) {
        if (!datagram.IsCompletePresenceStatus()) {
            return std::nullopt;
        }
        const int16_t status = datagram.PresenceStatus();
        if (known == nullptr) {
            if (status == Disconnected) {
                return std::nullopt;
            }
            if (m_peers.size() >= kMaxPeers) {
                DropPeer(sender, now);
                return std::nullopt;
            }
            m_index.emplace(sender, m_peers.size());
            m_peers.push_back(
                Peer{sender, datagram.PresenceName(), datagram.PresenceGroup(), status, now});
            event.kind = PeerEventKind::Appeared;
            event.peer = m_peers.back();
            return event;
        }
        known->lastHeard = now;
        known->name = datagram.PresenceName();
        known->group = datagram.PresenceGroup();
        if (known->status == status) {
            return std::nullopt;
        }
        event.kind = PeerEventKind::StatusChanged;
        event.previousStatus = known->status;
        known->status = status;
        event.peer = *known;
        return event;
    }
    if (type == kTypeGroup && subtype == kSubGroup) {
        // From any sender, heard before or not.
        event.kind = PeerEventKind::GroupAssigned;
        event.peer = known != nullptr ? *known : Peer{sender, {}, {}, 0, 0};
        event.text = datagram.BodyText();
        return event;
    }
    const bool message = type == kTypeChat && subtype == kSubText;
    const bool typing = type == kTypeChat && subtype == kSubTyping;
    const bool bell = type == kTypeBell;
    if (!message && !typing && !bell) {
        NoteUnknownKind(type, subtype);
        return std::nullopt;
    }
    if (known == nullptr || typing) {
        return std::nullopt;
    }
    event.kind = message ? PeerEventKind::Message : PeerEventKind::Bell;
    event.peer = *known;
    if (message) {
        event.text = datagram.BodyText();
    }
    return event;
}

std::vector<PeerEvent> PeerTable::Scan(int64_t now) {
    std::vector<PeerEvent> events;
    for (Peer& peer : m_peers) {
        const int64_t silence = now - peer.lastHeard;
        if (LivenessWatcher::IsSilent(now, peer.lastHeard, peer.status)) {
            PeerEvent event;
            event.kind = PeerEventKind::WentSilent;
            event.previousStatus = peer.status;
            event.silentSeconds = silence;
            peer.status = Disconnected;
            event.peer = peer;
            events.push_back(std::move(event));
        }
    }
    return events;
}

std::vector<Peer> PeerTable::Named(const std::string& name) const {
    // The first of these that any peer matches: the whole name, the user
    // part, the whole name in any case, the user part in any case.
    const std::string folded = clitext::FoldCase(name);
    std::array<std::vector<Peer>, 4> matches;
    for (const Peer& peer : m_peers) {
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

void PeerTable::DropPeer(const std::string& sender, int64_t now) {
    ++m_droppedPeers;
    const bool newRun = !m_lastDrop || now - *m_lastDrop >= kDropQuietSeconds;
    m_lastDrop = now;
    if (newRun) {
        corelog::Warning("cli", "The table holds " + std::to_string(kMaxPeers) +
                                    " peers, the most it takes: the announcement of " + sender +
                                    " was dropped; new peers dropped since the start: " +
                                    std::to_string(m_droppedPeers) + ".");
    }
}

std::optional<PeerEvent> Hear(PeerTable& table, AppState& state, const uint8_t* data, size_t size,
                              const std::string& sender, int64_t now) {
    std::optional<PeerEvent> event = table.Receive(data, size, sender, now);
    if (event && event->kind == PeerEventKind::GroupAssigned) {
        state.Modify([&](SettingsRecord& s) { s.groupName = event->text; });
    }
    return event;
}
