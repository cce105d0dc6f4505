// src/core/net/PeerSocket.cpp
#include "core/net/PeerSocket.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <unordered_set>
#include <utility>

#include "core/base/Log.h"
#include "core/res/Cp1250.h"

namespace {

constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFFu;

bool Contains(const std::vector<uint32_t>& list, uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// A dotted address is taken as it is; anything else is looked up now.
std::optional<uint32_t> DestinationAddress(const std::string& text) {
    if (auto dotted = platform::ParseDottedAddress(text)) {
        return dotted;
    }
    int error = 0;
    return platform::ResolveHost(text, error);
}

}  // namespace

CPeerSocket::CPeerSocket(AppState& state, MessagePresenter& presenter)
    : CPeerSocket(state, presenter, Options{}) {}

CPeerSocket::CPeerSocket(AppState& state, MessagePresenter& presenter, Options options)
    : m_state(state), m_presenter(presenter), m_options(std::move(options)) {
    if (!m_options.beyondRouter) {
        m_options.beyondRouter = m_options.interfaces
                                     ? std::function<bool(uint32_t)>([](uint32_t) { return false; })
                                     : std::function<bool(uint32_t)>(platform::IsBeyondRouter);
    }
    if (!m_options.interfaces) {
        m_options.interfaces = platform::LocalInterfaces;
    }
    if (!m_options.sendNow) {
        m_options.sendNow = m_options.send ? m_options.send : platform::SendDatagramNow;
    }
    if (!m_options.send) {
        m_options.send = platform::SendDatagram;
    }
    if (!m_options.monotonicSeconds) {
        m_options.monotonicSeconds = [] {
            return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                            std::chrono::steady_clock::now().time_since_epoch())
                                            .count());
        };
    }
    RefreshOwnAddresses();
    m_interfacesReadAt = m_options.monotonicSeconds();
}

CPeerSocket::~CPeerSocket() {
    Close();
}

bool CPeerSocket::OpenEndpoint() {
    if (IsOpen()) {
        return true;
    }
    int error = 0;
    const platform::SocketHandle socket = platform::OpenUdpSocket(m_options.port, error);
    if (socket == platform::kInvalidSocket) {
        m_lastError = error;
        return false;
    }
    m_lastError = 0;
    m_receiveBufferBytes = platform::RequestReceiveBuffer(socket, kReceiveBufferBytes);
    corelog::Debug("net", "Receive buffer: asked for " + std::to_string(kReceiveBufferBytes) +
                              " bytes, the system reports " + std::to_string(m_receiveBufferBytes));
    m_socket.store(socket);
    return true;
}

uint16_t CPeerSocket::BoundPort() const {
    const platform::SocketHandle socket = m_socket.load();
    return socket == platform::kInvalidSocket ? uint16_t{0} : platform::BoundPort(socket);
}

void CPeerSocket::SendText(std::string_view text, const std::string& target) {
    PacketBuffer packet;
    BuildText(packet, text);
    Send(packet, target, false);
}

void CPeerSocket::SendTyping(const std::string& target) {
    PacketBuffer packet;
    BuildTyping(packet);
    Send(packet, target, false);
}

void CPeerSocket::SendBell(const std::string& target) {
    PacketBuffer packet;
    BuildBell(packet);
    Send(packet, target, false);
}

void CPeerSocket::BroadcastPresence() {
    AnnouncePresence(false);
}

void CPeerSocket::BroadcastGoodbye() {
    AnnouncePresence(true);
}

void CPeerSocket::AnnouncePresence(bool goodbye) {
    std::optional<Failure> failure;
    {
        // The status is read and sent under one lock, so an announcement that
        // read the old status cannot follow the goodbye onto the wire.
        std::lock_guard lock(m_presenceMutex);
        if (m_goodbyeSent) {
            return;
        }
        if (goodbye) {
            m_state.SetOwnStatus(Disconnected);
            m_goodbyeSent = true;
            // The last datagram goes by the networks as they are now: a route
            // gone since the last reading must not take it along.
            m_interfacesReadAt.reset();
        }
        const AppState::Identity identity = m_state.PresenceIdentity();
        PacketBuffer packet;
        BuildPresence(packet, identity.status, identity.userName, identity.computerName,
                      identity.groupName);
        failure = Transmit(packet, std::string(), true);
        CountAnnouncement(failure);
    }
    // Boxes are shown without the lock: a worker's box waits for the user.
    if (failure && ReportsSendFailure(true, failure->code)) {
        ShowSocketError(m_presenter, failure->operation, failure->code);
    }
}

void CPeerSocket::CountAnnouncement(const std::optional<Failure>& failure) {
    if (!failure) {
        m_failedAnnouncements = 0;
        if (m_networkUnreachable.exchange(false)) {
            corelog::Warning("net", "Announcements reach the network again.");
        }
        return;
    }
    if (m_failedAnnouncements < kUnreachableAfter) {
        ++m_failedAnnouncements;
    }
    if (m_failedAnnouncements == kUnreachableAfter && !m_networkUnreachable.exchange(true)) {
        corelog::Warning(
            "net", "No announcement has left for " + std::to_string(kUnreachableAfter) +
                       " periods: " + failure->operation + " " + std::to_string(failure->code) +
                       " " + platform::SocketErrorMessage(failure->code));
    }
}

bool CPeerSocket::ReportsSendFailure(bool presence, int code) {
    return !(presence && platform::IsUnreachableCode(code));
}

std::vector<uint32_t> CPeerSocket::DirectedBroadcasts(
    const std::vector<platform::InterfaceAddress>& interfaces) {
    std::vector<uint32_t> addresses;
    for (const platform::InterfaceAddress& entry : interfaces) {
        if (!entry.up || entry.loopback || !entry.broadcastCapable ||
            entry.carriesLimitedBroadcast || entry.broadcast == 0 ||
            entry.broadcast == entry.address || entry.broadcast == kLimitedBroadcast) {
            continue;
        }
        if (!Contains(addresses, entry.broadcast)) {
            addresses.push_back(entry.broadcast);
        }
    }
    return addresses;
}

int CPeerSocket::BroadcastFailureCode(const std::vector<int>& codes) {
    for (const int code : codes) {
        if (!platform::IsUnreachableCode(code)) {
            return code;
        }
    }
    return codes.empty() ? platform::InvalidArgumentCode() : codes.front();
}

void CPeerSocket::Send(const PacketBuffer& packet, const std::string& target, bool presence) {
    const std::optional<Failure> failure = Transmit(packet, target, presence);
    if (failure && ReportsSendFailure(presence, failure->code)) {
        ShowSocketError(m_presenter, failure->operation, failure->code);
    }
}

std::optional<CPeerSocket::Failure> CPeerSocket::Transmit(const PacketBuffer& packet,
                                                          const std::string& target,
                                                          bool presence) {
    const platform::SocketHandle socket = m_socket.load();
    if (socket == platform::kInvalidSocket) {
        return Failure{"SendTo", platform::InvalidArgumentCode()};
    }

    const bool broadcast = presence || target.empty();
    if (broadcast) {
        // Set before every broadcast, not once.
        if (const int code = platform::SetBroadcastOption(socket); code != 0) {
            return Failure{"SetSockOpt", code};
        }
    }
    if (presence) {
        // Reading the interfaces is most of an idle announcement's cost.
        const int64_t now = m_options.monotonicSeconds();
        if (!m_interfacesReadAt || m_destinationRefused ||
            now - *m_interfacesReadAt >= kInterfacesMaxAge) {
            RefreshOwnAddresses();
            m_interfacesReadAt = now;
        }
        m_destinationRefused = false;
    }

    std::vector<uint32_t> destinations;
    std::vector<int> codes;
    if (const std::optional<uint32_t> address =
            DestinationAddress(broadcast ? m_options.broadcastAddress : target)) {
        destinations.push_back(*address);
        if (broadcast && *address == kLimitedBroadcast) {
            std::lock_guard lock(m_addressMutex);
            for (const uint32_t directed : m_directedBroadcasts) {
                if (!Contains(destinations, directed)) {
                    destinations.push_back(directed);
                }
            }
        }
    } else {
        codes.push_back(platform::InvalidArgumentCode());
    }
    const uint16_t port =
        m_options.destinationPort != 0 ? m_options.destinationPort : platform::BoundPort(socket);

    const int16_t length = PacketLength(packet, m_presenter);
    bool taken = false;
    for (const uint32_t destination : destinations) {
        const int code =
            m_options.send(socket, destination, port, packet.data(), static_cast<size_t>(length));
        if (code == 0) {
            ++m_sentCount;
            taken = true;
        } else {
            codes.push_back(code);
            if (presence) {
                m_destinationRefused = true;
            }
        }
    }
    if (broadcast && m_options.extraDestinations) {
        // Their failures are logged, never shown: the box tells of this
        // computer's networks.
        taken = TransmitToExtras(port, packet.data(), static_cast<size_t>(length), destinations) ||
                taken;
    }
    if (taken) {
        return std::nullopt;
    }
    return Failure{"SendTo", BroadcastFailureCode(codes)};
}

bool CPeerSocket::TransmitToExtras(uint16_t port, const void* data, size_t size,
                                   const std::vector<uint32_t>& local) {
    const std::vector<uint32_t> extras = m_options.extraDestinations();
    if (extras.empty()) {
        return false;
    }
    platform::SocketHandle socket = m_extrasSocket.load();
    if (socket == platform::kInvalidSocket) {
        int error = 0;
        platform::SocketHandle opened = platform::OpenUdpSocket(0, error);
        if (opened == platform::kInvalidSocket) {
            corelog::Warning(
                "net", "No socket for the extra destinations: " + std::to_string(error) + " " +
                           platform::SocketErrorMessage(error));
            return false;
        }
        platform::SetBroadcastOption(opened);  // for the subnets' directed broadcasts
        if (m_extrasSocket.compare_exchange_strong(socket, opened)) {
            socket = opened;
        } else {
            platform::CloseSocket(opened);  // another thread was first
        }
    }
    bool taken = false;
    std::unordered_set<uint32_t> sent;
    for (const uint32_t destination : extras) {
        if (Contains(local, destination) || IsOnLocalNetwork(destination) ||
            !sent.insert(destination).second) {
            continue;
        }
        const int code = m_options.sendNow(socket, destination, port, data, size);
        std::lock_guard lock(m_addressMutex);
        if (code == 0) {
            ++m_sentCount;
            taken = true;
            m_failingExtras.erase(destination);
            continue;
        }
        ++m_extraFailures;
        if (m_failingExtras.insert(destination).second) {
            corelog::Warning("net", "A broadcast did not leave for " +
                                        platform::FormatDottedAddress(destination) + ": " +
                                        std::to_string(code) + " " +
                                        platform::SocketErrorMessage(code));
        }
    }
    return taken;
}

bool CPeerSocket::IsOnLocalNetwork(uint32_t address) const {
    std::lock_guard lock(m_addressMutex);
    return std::any_of(m_localNetworks.begin(), m_localNetworks.end(), [&](const auto& network) {
        return (address & network.second) == (network.first & network.second);
    });
}

bool CPeerSocket::IsOwnAddress(uint32_t address) const {
    std::lock_guard lock(m_addressMutex);
    return Contains(m_ownAddresses, address);
}

std::optional<uint32_t> CPeerSocket::OwnSender(uint32_t address) const {
    std::lock_guard lock(m_addressMutex);
    if (!Contains(m_ownAddresses, address)) {
        return std::nullopt;
    }
    return m_ownSender;
}

void CPeerSocket::RefreshOwnAddresses() {
    const std::vector<platform::InterfaceAddress> interfaces = m_options.interfaces();
    std::vector<uint32_t> addresses;
    std::vector<std::pair<uint32_t, uint32_t>> networks;
    std::optional<uint32_t> byLimited;
    std::optional<uint32_t> firstOutside;
    for (const platform::InterfaceAddress& entry : interfaces) {
        if (entry.up) {
            // Without a known netmask, the address alone.
            networks.emplace_back(entry.address, entry.netmask != 0 ? entry.netmask : 0xFFFFFFFFu);
        }
        if (!Contains(addresses, entry.address)) {
            addresses.push_back(entry.address);
        }
        if (entry.up && !entry.loopback) {
            if (entry.carriesLimitedBroadcast && !byLimited) {
                byLimited = entry.address;
            }
            if (!firstOutside) {
                firstOutside = entry.address;
            }
        }
    }
    const uint32_t ownSender =
        byLimited.value_or(firstOutside.value_or(addresses.empty() ? 0 : addresses.front()));
    std::vector<uint32_t> directed = DirectedBroadcasts(interfaces);
    std::lock_guard lock(m_addressMutex);
    m_ownAddresses = std::move(addresses);
    m_ownSender = ownSender;
    m_directedBroadcasts = std::move(directed);
    m_localNetworks = std::move(networks);
}

void CPeerSocket::ShutDown() {
    const platform::SocketHandle socket = m_socket.load();
    if (socket != platform::kInvalidSocket) {
        platform::ShutDownSocket(socket);
    }
}

void CPeerSocket::Close() {
    const platform::SocketHandle socket = m_socket.exchange(platform::kInvalidSocket);
    if (socket != platform::kInvalidSocket) {
        platform::CloseSocket(socket);
    }
    const platform::SocketHandle extras = m_extrasSocket.exchange(platform::kInvalidSocket);
    if (extras != platform::kInvalidSocket) {
        platform::CloseSocket(extras);
    }
}
