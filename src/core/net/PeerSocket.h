// src/core/net/PeerSocket.h
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/base/Presenter.h"
#include "core/net/Packet.h"
#include "core/settings/AppState.h"
#include "platform/Socket.h"

// The one UDP endpoint of a running copy: bound on all interfaces, it sends
// every kind of datagram to one peer or by broadcast, and receives the others'.
// A broadcast goes to the limited broadcast address and to the directed
// broadcast address of every up, broadcast-capable, non-loopback interface that
// the limited broadcast does not leave by: it reaches every network even where
// no default route exists, and each network once; then to each extra
// destination beyond those networks (a listed address or subnet, a remote
// peer), once.
// Sends may come from the user-interface thread and the presence announcer at
// once. Failures are reported through the presenter, which must be safe to call
// from both threads.
class CPeerSocket {
public:
    using SendFunction = std::function<int(platform::SocketHandle socket, uint32_t address,
                                           uint16_t port, const void* data, size_t size)>;
    using InterfaceSource = std::function<std::vector<platform::InterfaceAddress>()>;

    struct Options {
        uint16_t port = kPeerPort;  // bound port; 0 binds any free port
        // Destination port of every datagram; 0 means the bound port.
        uint16_t destinationPort = 0;
        // Where a broadcast goes. Only the limited broadcast address brings the
        // directed ones along; any other address (a test's) is used alone.
        std::string broadcastAddress = "255.255.255.255";
        // The local interfaces; empty: the system's. Read again before a
        // presence broadcast once kInterfacesMaxAge has passed, or when a
        // destination of the last one refused it.
        InterfaceSource interfaces;
        // Seconds on a clock that never goes back; empty: the steady clock.
        std::function<int64_t()> monotonicSeconds;
        // Hands one datagram to the system (0 or an error code); empty: the socket's own.
        SendFunction send;
        // The same for an extra destination, which never waits for room in the
        // send buffer: many of them must not hold up the announcements. Empty:
        // `send` where that is given, else the socket's own.
        SendFunction sendNow;
        // Where a broadcast also goes, beyond this computer's networks;
        // empty: nowhere else. Each gets it once, however often listed; those
        // on a local network are skipped, the broadcast reaches them already.
        std::function<std::vector<uint32_t>()> extraDestinations;
        // Whether an address lies beyond a router. Empty: the system's route;
        // where `interfaces` is given, none does.
        std::function<bool(uint32_t)> beyondRouter;
    };

    // Announcements in a row that no destination took before the network
    // counts as unreachable.
    static constexpr int kUnreachableAfter = 3;
    static constexpr int64_t kInterfacesMaxAge = 30;

    CPeerSocket(AppState& state, MessagePresenter& presenter);
    CPeerSocket(AppState& state, MessagePresenter& presenter, Options options);
    ~CPeerSocket();
    CPeerSocket(const CPeerSocket&) = delete;
    CPeerSocket& operator=(const CPeerSocket&) = delete;

    // The receive buffer asked of the system: a flood from many peers must
    // wait there while the receive thread hands a batch over.
    static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

    // Creates and binds the socket and asks for the larger receive buffer. On
    // failure LastError() holds the code.
    bool OpenEndpoint();
    int LastError() const { return m_lastError; }
    bool IsOpen() const { return m_socket != platform::kInvalidSocket; }
    platform::SocketHandle Handle() const { return m_socket; }
    uint16_t BoundPort() const;
    // The receive buffer's size as the system reported it after the request;
    // -1 when unknown.
    int ReceiveBufferBytes() const { return m_receiveBufferBytes; }

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

    // True when the address (host order) belongs to one of this computer's
    // interfaces (as known at the last presence broadcast or at construction).
    bool IsOwnAddress(uint32_t address) const;
    // For an address of this computer, the one address all of its datagrams
    // count as from, whichever interface they came back by: the address the
    // limited broadcast leaves by (else the first up, non-loopback one).
    // Nothing for another computer's address.
    std::optional<uint32_t> OwnSender(uint32_t address) const;
    void RefreshOwnAddresses();

    void ShutDown();
    void Close();

    // Datagrams handed to the system so far (a broadcast counts once per destination).
    int SentCount() const { return m_sentCount.load(); }
    // Datagrams that an extra destination of a broadcast did not take.
    int ExtraFailures() const { return m_extraFailures.load(); }

    // True when the address (host order) lies in a network of one of this
    // computer's interfaces, as known at the last presence broadcast.
    bool IsOnLocalNetwork(uint32_t address) const;
    // True when the way to the address leads through a router or a tunnel.
    bool IsBeyondRouter(uint32_t address) const { return m_options.beyondRouter(address); }

    // True from the kUnreachableAfter-th announcement in a row that no
    // destination took until one is taken again. Safe from any thread.
    bool NetworkUnreachable() const { return m_networkUnreachable.load(); }

    // Whether a failed send shows the "SendTo" box: a presence broadcast passes
    // over an unreachable host or network in silence.
    static bool ReportsSendFailure(bool presence, int code);

    // The directed broadcast address of every up, broadcast-capable,
    // non-loopback interface that does not carry the limited broadcast, each
    // once, in interface order.
    static std::vector<uint32_t> DirectedBroadcasts(
        const std::vector<platform::InterfaceAddress>& interfaces);
    // Of the codes of a broadcast that no destination took, the one to report:
    // the first that is not "unreachable", else the first.
    static int BroadcastFailureCode(const std::vector<int>& codes);

private:
    struct Failure {
        const char* operation;
        int code;
    };
    void Send(const PacketBuffer& packet, const std::string& target, bool presence);
    // The failure when no destination took the datagram; nothing when one did.
    std::optional<Failure> Transmit(const PacketBuffer& packet, const std::string& target,
                                    bool presence);
    // Sends once to every extra destination that is neither in `local` nor on
    // a local network; true if one took it. Failures are logged and counted.
    bool TransmitToExtras(uint16_t port, const void* data, size_t size,
                          const std::vector<uint32_t>& local);
    void AnnouncePresence(bool goodbye);
    void CountAnnouncement(const std::optional<Failure>& failure);

    AppState& m_state;
    MessagePresenter& m_presenter;
    Options m_options;
    std::atomic<platform::SocketHandle> m_socket{platform::kInvalidSocket};
    int m_lastError = 0;
    int m_receiveBufferBytes = -1;

    std::mutex m_presenceMutex;  // one presence datagram at a time
    bool m_goodbyeSent = false;
    int m_failedAnnouncements = 0;  // in a row; under m_presenceMutex
    // When the interfaces were read, and whether a destination refused the
    // last announcement; under m_presenceMutex.
    std::optional<int64_t> m_interfacesReadAt;
    bool m_destinationRefused = false;
    std::atomic<bool> m_networkUnreachable{false};
    mutable std::mutex m_addressMutex;
    std::vector<uint32_t> m_ownAddresses;
    uint32_t m_ownSender = 0;
    std::vector<uint32_t> m_directedBroadcasts;
    // The interfaces' networks: address and netmask.
    std::vector<std::pair<uint32_t, uint32_t>> m_localNetworks;
    std::atomic<int> m_sentCount{0};
    std::atomic<int> m_extraFailures{0};
    // Extra destinations whose last datagram failed; a failure is logged
    // when an address joins.
    std::unordered_set<uint32_t> m_failingExtras;  // under m_addressMutex
    // The extra destinations' own socket (any free port): what waits in its
    // send buffer, such as datagrams to addresses the link layer has not
    // found yet, never takes the room of the local broadcasts and the goodbye.
    std::atomic<platform::SocketHandle> m_extrasSocket{platform::kInvalidSocket};
};
