// src/net/PeerSocket.cpp
#include "net/PeerSocket.h"

#include <optional>
#include <utility>

namespace {

constexpr const char* kLoopbackPrefix = "127.";

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
    : m_state(state),
      m_presenter(presenter),
      m_options(std::move(options)),
      m_hostName(platform::LocalHostName()) {
    RefreshOwnAddresses();
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
        }
        const AppState::Identity identity = m_state.PresenceIdentity();
        PacketBuffer packet;
        BuildPresence(packet, identity.status, identity.userName, identity.computerName,
                      identity.groupName);
        failure = Transmit(packet, std::string(), true);
    }
    // Boxes are shown without the lock: a worker's box waits for the user.
    if (failure) {
        ShowSocketError(m_presenter, failure->operation, failure->code);
    }
}

bool CPeerSocket::ReportsSendFailure(bool presence, int code) {
    return !(presence && platform::IsUnreachableCode(code));
}

void CPeerSocket::Send(const PacketBuffer& packet, const std::string& target, bool presence) {
    if (const std::optional<Failure> failure = Transmit(packet, target, presence)) {
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
        RefreshOwnAddresses();
    }

    const std::optional<uint32_t> address =
        DestinationAddress(broadcast ? m_options.broadcastAddress : target);
    if (!address) {
        return Failure{"SendTo", platform::InvalidArgumentCode()};
    }
    const uint16_t port =
        m_options.destinationPort != 0 ? m_options.destinationPort : platform::BoundPort(socket);

    const int16_t length = PacketLength(packet, m_presenter);
    const int code =
        platform::SendDatagram(socket, *address, port, packet.data(), static_cast<size_t>(length));
    if (code == 0) {
        ++m_sentCount;
    } else if (ReportsSendFailure(presence, code)) {
        return Failure{"SendTo", code};
    }
    return std::nullopt;
}

platform::ReceivedDatagram CPeerSocket::Receive(uint8_t* buffer) {
    const platform::SocketHandle socket = m_socket.load();
    if (socket == platform::kInvalidSocket) {
        platform::ReceivedDatagram failed;
        failed.bytes = -1;
        failed.error = platform::InvalidArgumentCode();
        return failed;
    }
    return platform::ReceiveDatagram(socket, buffer, kReceiveBufferSize);
}

std::string CPeerSocket::ResolveAddress(const std::string& name) {
    int error = 0;
    const std::optional<uint32_t> address = platform::ResolveHost(name, error);
    if (!address) {
        ShowSocketError(m_presenter, "gethostbyname", error);
        return {};
    }
    return platform::FormatDottedAddress(*address);
}

bool CPeerSocket::IsOwnAddress(const std::string& address) const {
    std::lock_guard lock(m_addressMutex);
    for (const std::string& own : m_ownAddresses) {
        if (own == address) {
            return true;
        }
    }
    return false;
}

std::string CPeerSocket::OwnAddress() const {
    std::lock_guard lock(m_addressMutex);
    return m_ownAddress;
}

void CPeerSocket::RefreshOwnAddresses() {
    std::vector<std::string> addresses = platform::LocalInterfaceAddresses();
    std::string first;
    for (const std::string& address : addresses) {
        if (address.rfind(kLoopbackPrefix, 0) != 0) {
            first = address;
            break;
        }
    }
    if (first.empty() && !addresses.empty()) {
        first = addresses.front();
    }
    std::lock_guard lock(m_addressMutex);
    m_ownAddresses = std::move(addresses);
    m_ownAddress = std::move(first);
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
}
