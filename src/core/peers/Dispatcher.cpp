// src/core/peers/Dispatcher.cpp
#include "core/peers/Dispatcher.h"

#include <algorithm>
#include <utility>

#include "core/base/Presenter.h"
#include "core/settings/UserStatus.h"

void Dispatcher::Dispatch(const uint8_t* data, size_t size, uint32_t sender,
                          std::vector<PeerEvent>& events) {
    const DatagramView datagram(data, size);
    if (!datagram.HasHeader()) {
        return;
    }
    const int16_t type = datagram.Type();
    const int16_t subtype = datagram.Subtype();
    switch (type) {
        case kTypeChat:
            switch (subtype) {
                case kSubPresence:
                    Presence(sender, datagram, events);
                    return;
                case kSubText:
                    if (const auto index = KnownSender(sender)) {
                        IncomingMessage(*index, sender, datagram, events);
                    }
                    return;
                case kSubTyping:
                    if (const auto index = KnownSender(sender)) {
                        PeerEvent& event = events.emplace_back();
                        event.kind = PeerEventKind::Typing;
                        event.index = *index;
                        event.sender = sender;
                        event.peer = m_s.directory.Facts(*index);
                    }
                    return;
                default:
                    events.push_back(
                        UnknownKind(sender, type, subtype, "View 1, HdrST %i", subtype));
                    return;
            }
        case kTypeBell:
            if (const auto index = KnownSender(sender)) {
                Bell(*index, sender, events);
            }
            return;
        case kTypeGroup:
            if (subtype == kSubGroup) {
                PeerEvent& event = events.emplace_back();
                event.kind = PeerEventKind::GroupAssigned;
                event.sender = sender;
                event.text = datagram.BodyText();
                m_s.state.Modify([&](SettingsRecord& s) { s.groupName = event.text; });
            } else {
                events.push_back(UnknownKind(sender, type, subtype, "View 7, HdrST %i", subtype));
            }
            return;
        default:
            events.push_back(UnknownKind(sender, type, subtype, "View 2, HdrT %i", type));
            return;
    }
}

PeerEvent Dispatcher::UnknownKind(uint32_t sender, int16_t type, int16_t subtype,
                                  const char* format, int value) {
    PeerEvent event;
    event.kind = PeerEventKind::UnknownKind;
    event.sender = sender;
    event.type = type;
    event.subtype = subtype;
    event.traceCode = FormatTraceCode(format, value);
    return event;
}

void Dispatcher::Presence(uint32_t sender, const DatagramView& datagram,
                          std::vector<PeerEvent>& events) {
    if (!datagram.IsCompletePresenceStatus()) {
        return;
    }
    // This computer's own announcements follow "ShowMySelf".
    if (!ShowMySelf() && m_s.isOwnAddress(sender)) {
        return;
    }
    if (UpdateKnownPeer(sender, datagram, events)) {
        return;
    }
    if (!m_s.asAnnounced || datagram.PresenceStatus() != Disconnected) {
        AddNewPeer(sender, datagram, events);
    }
}

bool Dispatcher::UpdateKnownPeer(uint32_t sender, const DatagramView& datagram,
                                 std::vector<PeerEvent>& events) {
    const std::optional<int> found = KnownSender(sender);
    if (!found) {
        return false;
    }
    const int index = *found;
    const int16_t status = datagram.PresenceStatus();
    const PeerDirectory::PresenceChange change =
        m_s.directory.UpdatePresence(index, status, datagram.PresenceNameView(),
                                     datagram.PresenceGroupView(), m_s.clock.NowSeconds());
    if (!change.nameChanged && !change.groupChanged && change.previousStatus == status) {
        return true;
    }
    PeerEvent event;
    event.index = index;
    event.sender = sender;
    event.nameChanged = change.nameChanged;
    event.groupChanged = change.groupChanged;
    event.previousStatus = static_cast<int16_t>(change.previousStatus);
    event.peer = m_s.directory.Facts(index);
    if (event.previousStatus != status) {
        event.kind = PeerEventKind::StatusChanged;
        event.cameBack = event.previousStatus == Disconnected;
    } else {
        event.kind = PeerEventKind::Renamed;
    }
    events.push_back(std::move(event));
    return true;
}

void Dispatcher::AddNewPeer(uint32_t sender, const DatagramView& datagram,
                            std::vector<PeerEvent>& events) {
    if (m_s.directory.PeerCount() >= PeerDirectory::kMaxPeers) {
        ++m_refusedPeers;
        const int64_t now = m_s.clock.NowSeconds();
        PeerEvent& event = events.emplace_back();
        event.kind = PeerEventKind::Refused;
        event.sender = sender;
        event.refusedSoFar = m_refusedPeers;
        // A run of refusals ends after a quiet spell.
        event.firstOfRun = !m_lastRefusal || now - *m_lastRefusal >= kRefusalQuietSeconds;
        m_lastRefusal = now;
        return;
    }
    PeerEvent event;
    event.kind = PeerEventKind::Appeared;
    event.sender = sender;
    event.announcedStatus = datagram.PresenceStatus();
    event.index =
        m_s.directory.AddPeer(nullptr, datagram.PresenceName(), datagram.PresenceGroup(), sender,
                              m_s.asAnnounced ? int32_t{event.announcedStatus} : int32_t{Ready});
    event.peer = m_s.directory.Facts(event.index);
    events.push_back(std::move(event));
}

void Dispatcher::IncomingMessage(int index, uint32_t sender, const DatagramView& datagram,
                                 std::vector<PeerEvent>& events) {
    PeerEvent event;
    event.kind = PeerEventKind::Message;
    event.index = index;
    event.sender = sender;
    event.text = datagram.BodyText();
    m_s.directory.Modify(index, [&](PeerRecord& record) {
        record.AppendIncoming(record.name, event.text);
        event.peer = m_s.directory.Facts(index);
    });
    events.push_back(std::move(event));
}

void Dispatcher::Bell(int index, uint32_t sender, std::vector<PeerEvent>& events) {
    PeerEvent event;
    event.kind = PeerEventKind::Bell;
    event.index = index;
    event.sender = sender;
    m_s.directory.Read(index, [&](const PeerRecord& record) {
        event.peer = m_s.directory.Facts(index);
        // The peer's newest message; this program's notices are not quoted.
        const auto quoted =
            std::find_if(record.history.rbegin(), record.history.rend(), [&](const auto& entry) {
                return entry.kind == Incoming && !entry.notice && entry.sender == record.name;
            });
        if (quoted != record.history.rend()) {
            event.quoted = quoted->text;
        }
    });
    events.push_back(std::move(event));
}

bool Dispatcher::ShowMySelf() const {
    return m_s.state.Read([](const SettingsRecord& s) { return s.showMySelf; });
}

std::optional<int> Dispatcher::KnownSender(uint32_t sender) const {
    return m_s.directory.FindPeerByAddress(sender);
}
