// src/net/PeerSocket.h
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/Presenter.h"
#include "net/Packet.h"
#include "platform/Socket.h"

// The one UDP endpoint of a running copy: bound on all interfaces, it sends
// every kind of datagram to one peer or by broadcast, and receives the others'.
// Sends may come from the user-interface thread and the presence announcer at
// once. Failures are reported through the presenter, which must be safe to call
// from both threads.
class CPeerSocket {
public:
    struct Options {
        uint16_t port = kPeerPort;  // bound port; 0 binds any free port
        // Destination port of every datagram; 0 means the bound port.
        uint16_t destinationPort = 0;
        std::string broadcastAddress = "255.255.255.255";
    };

    CPeerSocket(AppState& state, MessagePresenter& presenter);
    CPeerSocket(AppState& state, MessagePresenter& presenter, Options options);
    ~CPeerSocket();
    CPeerSocket(const CPeerSocket&) = delete;
    CPeerSocket& operator=(const CPeerSocket&) = delete;

    // Creates and binds the socket. On failure LastError() holds the code.
    bool OpenEndpoint();
    int LastError() const { return m_lastError; }
    bool IsOpen() const { return m_socket != platform::kInvalidSocket; }
    platform::SocketHandle Handle() const { return m_socket; }
    uint16_t BoundPort() const;

    // An empty target means all peers (broadcast); otherwise a dotted address
    // or a host name, resolved at each send.
    void SendText(std::string_view text, const std::string& target);
    void SendTyping(const std::string& target);
    void SendBell(const std::string& target);
    void BroadcastPresence();
    // Sets the own status to Disconnected, then broadcasts presence. Nothing is
    // announced after it: a periodic announcement already on its way is sent
    // before the goodbye, never after it.
    void BroadcastGoodbye();

    // Reads one datagram into a buffer of kReceiveBufferSize bytes.
    platform::ReceivedDatagram Receive(uint8_t* buffer);

    // The dotted address of the first address the name resolves to, or empty.
    std::string ResolveAddress(const std::string& name);

    // True when the address belongs to one of this computer's interfaces (as
    // known at the last presence broadcast or at construction).
    bool IsOwnAddress(const std::string& address) const;
    // The first non-loopback interface address, or the loopback address.
    std::string OwnAddress() const;
    const std::string& HostName() const { return m_hostName; }
    void RefreshOwnAddresses();

    void ShutDown();
    void Close();

    // Datagrams handed to the system so far.
    int SentCount() const { return m_sentCount.load(); }

    // Whether a failed send shows the "SendTo" box: a presence broadcast passes
    // over an unreachable host or network in silence.
    static bool ReportsSendFailure(bool presence, int code);

private:
    struct Failure {
        const char* operation;
        int code;
    };
    void Send(const PacketBuffer& packet, const std::string& target, bool presence);
    std::optional<Failure> Transmit(const PacketBuffer& packet, const std::string& target,
                                    bool presence);
    void AnnouncePresence(bool goodbye);

    AppState& m_state;
    MessagePresenter& m_presenter;
    Options m_options;
    std::atomic<platform::SocketHandle> m_socket{platform::kInvalidSocket};
    int m_lastError = 0;
    std::string m_hostName;

    std::mutex m_presenceMutex;  // one presence datagram at a time
    bool m_goodbyeSent = false;
    mutable std::mutex m_addressMutex;
    std::vector<std::string> m_ownAddresses;
    std::string m_ownAddress;
    std::atomic<int> m_sentCount{0};
};
