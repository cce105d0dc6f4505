// src/core/peers/DatagramReceiver.cpp
#include "core/peers/DatagramReceiver.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "core/base/Log.h"
#include "core/net/Packet.h"

namespace {

bool IsPresence(const uint8_t* data, int bytes) {
    const DatagramView datagram(data, static_cast<size_t>(bytes));
    return datagram.IsCompletePresenceStatus() && datagram.Type() == kTypeChat &&
           datagram.Subtype() == kSubPresence;
}

// What the dispatcher drops from this computer while "ShowMySelf" is off: its
// presence (one too short to read is dropped there as well), and, while it has
// no record, its messages, typing notices and bells, which are taken only from
// a peer with a record. Group assignments and unknown kinds are not among them.
bool MeansNothingFromThisComputer(const uint8_t* data, int bytes, bool hasRecord) {
    const DatagramView datagram(data, static_cast<size_t>(bytes));
    if (!datagram.HasHeader()) {
        return false;
    }
    if (datagram.Type() == kTypeBell) {
        return !hasRecord;
    }
    const int16_t subtype = datagram.Subtype();
    if (datagram.Type() != kTypeChat) {
        return false;
    }
    return subtype == kSubPresence ||
           (!hasRecord && (subtype == kSubText || subtype == kSubTyping));
}

}  // namespace

DatagramReceiver::~DatagramReceiver() {
    RequestStop();
    Join();
}

bool DatagramReceiver::Start(platform::SocketHandle socket) {
    if (m_thread.joinable() || m_stopRequested) {
        return false;
    }
    m_socket = std::make_unique<platform::SocketReceiver>(socket, kReceiveBufferSize);
    if (!m_socket->IsValid()) {
        m_socket.reset();
        corelog::Warning("net", "The receive thread cannot wait for the socket; nothing is read.");
        return false;
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

void DatagramReceiver::RequestStop() {
    m_stopRequested = true;
    if (m_socket) {
        m_socket->Stop();
    }
    m_s.handOver.Stop();
}

void DatagramReceiver::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    // Before the owner closes the socket.
    m_socket.reset();
}

void DatagramReceiver::Run() {
    while (!m_stopRequested) {
        const size_t room = m_s.handOver.WaitForRoom();
        if (room == 0) {
            return;
        }
        const Batch batch = m_socket->Receive(std::min(room, platform::SocketReceiver::kMaxBatch));
        if (batch.empty()) {
            return;  // stopped, or the socket was shut down
        }
        Absorb(batch);
    }
}

void DatagramReceiver::Absorb(Batch batch) {
    const size_t count = batch.size();
    m_senders.resize(count);
    m_candidate.assign(count, false);
    m_ownDropped.assign(count, false);
    bool anyCandidate = false;
    // Read once a batch, and only for a batch with this computer's own
    // datagrams: a change of the setting takes effect with the next one.
    std::optional<bool> showMySelf;
    std::optional<bool> ownRecord;
    for (size_t i = 0; i < count; ++i) {
        const platform::SocketReceiver::Datagram& datagram = batch[i];
        const std::optional<uint32_t> ownSender = m_s.ownSender(datagram.sender);
        m_senders[i] = ownSender.value_or(datagram.sender);
        if (datagram.bytes <= 0) {
            continue;
        }
        const bool own = ownSender.has_value();
        // This computer's own broadcasts come back to it: without a wake-up of
        // the user-interface thread when they mean nothing there.
        if (own && !showMySelf) {
            showMySelf = m_s.showMySelf();
            ownRecord = !*showMySelf && m_s.directory.FindPeerByAddress(*ownSender).has_value();
        }
        if (own && !*showMySelf &&
            MeansNothingFromThisComputer(datagram.data, datagram.bytes, *ownRecord)) {
            m_ownDropped[i] = true;
            continue;
        }
        // This computer's own announcements follow "ShowMySelf": the dispatcher decides.
        if (!own && IsPresence(datagram.data, datagram.bytes)) {
            m_candidate[i] = true;
            anyCandidate = true;
            if (m_s.presenceHeard) {
                const DatagramView presence(datagram.data, static_cast<size_t>(datagram.bytes));
                m_s.presenceHeard(m_senders[i], presence.PresenceStatus() == Disconnected);
            }
        }
    }

    if (anyCandidate) {
        m_s.handOver.FindWaiting(m_senders, m_waiting);
        const int64_t now = m_s.clock.NowSeconds();
        m_handedOver.clear();
        for (size_t i = 0; i < count; ++i) {
            const platform::SocketReceiver::Datagram& datagram = batch[i];
            // A sender with a datagram still on its way, in the queue or earlier
            // in this batch, is handed over too, so its datagrams keep their order.
            const uint32_t sender = m_senders[i];
            const bool settled =
                m_candidate[i] && !m_waiting[i] &&
                std::find(m_handedOver.begin(), m_handedOver.end(), sender) == m_handedOver.end() &&
                RefreshIfUnchanged(sender, datagram.data, static_cast<size_t>(datagram.bytes), now);
            m_candidate[i] = settled;
            if (!settled && datagram.bytes > 0) {
                m_handedOver.push_back(sender);
            }
        }
    }

    for (size_t i = 0; i < count; ++i) {
        const platform::SocketReceiver::Datagram& datagram = batch[i];
        // An empty datagram means nothing.
        if (m_candidate[i] || m_ownDropped[i] || datagram.bytes == 0) {
            continue;
        }
        Arrival& arrival = m_arrivals.emplace_back();
        arrival.sender = m_senders[i];
        if (datagram.bytes < 0) {
            arrival.error = datagram.error;
        } else {
            arrival.bytes.assign(datagram.data, datagram.data + datagram.bytes);
        }
    }
    m_s.handOver.Push(m_arrivals);
}

bool DatagramReceiver::RefreshIfUnchanged(uint32_t sender, const uint8_t* data, size_t size,
                                          int64_t now) {
    const DatagramView announcement(data, size);
    return m_s.directory.RefreshIfUnchanged(sender, announcement.PresenceStatus(),
                                            announcement.PresenceNameView(),
                                            announcement.PresenceGroupView(), now);
}
