// tests/core/PeerSocketTest.cpp
// Real UDP sockets on the loopback interface, on ports the system picks.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <netdb.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Fakes.h"
#include "core/TestSockets.h"
#include "core/base/Log.h"
#include "core/net/Packet.h"
#include "core/net/PeerSocket.h"
#include "core/res/Cp1250.h"
#include "platform/Socket.h"
#include "platform/SocketReceiver.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// A datagram as one endpoint read it.
struct Arrival {
    int bytes = 0;
    int error = 0;
    std::string sender;
    Bytes data;
};

// Reads one datagram, waiting for it at most `limit`; bytes == 0 if none came.
Arrival ReceiveWithin(CPeerSocket& socket, std::chrono::milliseconds limit = 2000ms) {
    std::array<uint8_t, kReceiveBufferSize> buffer{};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const platform::ReceivedDatagram got =
            platform::ReceiveDatagram(socket.Handle(), buffer.data(), buffer.size());
        if (got.bytes != 0) {
            Arrival arrival{got.bytes, got.error, got.sender, {}};
            if (got.bytes > 0) {
                arrival.data.assign(buffer.begin(), buffer.begin() + got.bytes);
            }
            return arrival;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            return {};
        }
        testsock::WaitReadable(socket.Handle(), left + 1ms);
    }
}

using testsock::RawUdp;

void ClearBroadcastOption(platform::SocketHandle socket) {
    ASSERT_TRUE(testsock::ClearBroadcastOption(socket));
    ASSERT_EQ(testsock::BroadcastOption(socket), 0);
}

std::string ErrorBoxText(const std::string& operation, int code) {
    return operation + " errorcode: " + std::to_string(code) + "\r\n" +
           cp1250::FromUtf8(platform::SocketErrorMessage(code));
}

// One copy of the program's network side: its state, its boxes and its endpoint.
struct Copy {
    explicit Copy(CPeerSocket::Options options = LoopbackOptions(0))
        : socket(state, presenter, std::move(options)) {
        state.Modify([](SettingsRecord& s) {
            s.userName = "jan";
            s.groupName = "Sklad";
        });
        state.SetHostComputerName("PC-1");
    }
    // Bound to a free port; "broadcasts" go to 127.0.0.1 at the given port
    // (0: this endpoint's own port).
    static CPeerSocket::Options LoopbackOptions(uint16_t destination) {
        CPeerSocket::Options options;
        options.port = 0;
        options.destinationPort = destination;
        options.broadcastAddress = "127.0.0.1";
        return options;
    }

    AppState state;
    RecordingPresenter presenter;
    CPeerSocket socket;
};

// A receiving copy and a sending copy whose broadcasts reach it.
class PeerSocketLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_receiver.socket.OpenEndpoint()) << m_receiver.socket.LastError();
        m_sender = std::make_unique<Copy>(Copy::LoopbackOptions(m_receiver.socket.BoundPort()));
        ASSERT_TRUE(m_sender->socket.OpenEndpoint()) << m_sender->socket.LastError();
    }

    Copy m_receiver;
    std::unique_ptr<Copy> m_sender;
};

}  // namespace

TEST_F(PeerSocketLoopback, PresenceTravelsBetweenTwoSockets) {
    m_sender->state.OnStatusDoNotDisturb();
    m_sender->socket.BroadcastPresence();

    const Arrival arrival = ReceiveWithin(m_receiver.socket);
    ASSERT_EQ(arrival.bytes, 102);
    EXPECT_EQ(arrival.sender, "127.0.0.1");
    EXPECT_EQ(Bytes(arrival.data.begin(), arrival.data.begin() + 6),
              (Bytes{0x01, 0x00, 0x01, 0x00, 0x02, 0x00}));
    const DatagramView view(arrival.data.data(), arrival.data.size());
    EXPECT_EQ(view.PresenceName(), "jan@PC-1");
    EXPECT_EQ(view.PresenceGroup(), "Sklad");
    EXPECT_TRUE(m_receiver.socket.IsOwnAddress(Ip(arrival.sender)));
    EXPECT_EQ(m_sender->socket.SentCount(), 1);
    EXPECT_TRUE(m_sender->presenter.Shown().empty());
    EXPECT_TRUE(m_receiver.presenter.Shown().empty());
}

TEST_F(PeerSocketLoopback, GoodbyeAnnouncesDisconnected) {
    m_sender->socket.BroadcastGoodbye();
    EXPECT_EQ(m_sender->state.OwnStatus(), Disconnected);
    const Arrival arrival = ReceiveWithin(m_receiver.socket);
    ASSERT_EQ(arrival.bytes, 102);
    EXPECT_EQ(DatagramView(arrival.data.data(), arrival.data.size()).PresenceStatus(),
              Disconnected);
}

// Periodic announcements racing the goodbye from another thread: once the
// goodbye is on the wire, nothing follows it, least of all the old status.
TEST_F(PeerSocketLoopback, NothingIsAnnouncedAfterTheGoodbye) {
    std::atomic<bool> stop{false};
    std::thread announcer([&] {
        // Bounded, so the receiver's buffer never overflows.
        for (int i = 0; i < 200 && !stop.load(); ++i) {
            m_sender->socket.BroadcastPresence();
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    while (m_sender->socket.SentCount() < 20) {
        std::this_thread::yield();
    }
    m_sender->socket.BroadcastGoodbye();
    const int sentAtGoodbye = m_sender->socket.SentCount();
    stop.store(true);
    announcer.join();
    m_sender->socket.BroadcastPresence();
    EXPECT_EQ(m_sender->socket.SentCount(), sentAtGoodbye);

    int goodbyes = 0;
    int afterGoodbye = 0;
    for (int i = 0; i < sentAtGoodbye; ++i) {
        const Arrival arrival = ReceiveWithin(m_receiver.socket);
        ASSERT_EQ(arrival.bytes, 102);
        const int16_t status =
            DatagramView(arrival.data.data(), arrival.data.size()).PresenceStatus();
        if (goodbyes > 0) {
            ++afterGoodbye;
        }
        goodbyes += status == Disconnected ? 1 : 0;
    }
    EXPECT_EQ(goodbyes, 1);
    EXPECT_EQ(afterGoodbye, 0);
    EXPECT_TRUE(m_sender->presenter.Shown().empty());
}

TEST_F(PeerSocketLoopback, MessagesGoToADottedTargetOrAResolvedName) {
    // The receiver's port is the destination port of everything the sender sends.
    m_sender->socket.SendText("ahoj", "127.0.0.1");
    m_sender->socket.SendTyping("127.0.0.1");
    m_sender->socket.SendBell("localhost");

    EXPECT_EQ(ReceiveWithin(m_receiver.socket).data,
              (Bytes{0x01, 0x00, 0x02, 0x00, 'a', 'h', 'o', 'j', 0x00}));
    EXPECT_EQ(ReceiveWithin(m_receiver.socket).data, (Bytes{0x01, 0x00, 0x08, 0x00}));
    EXPECT_EQ(ReceiveWithin(m_receiver.socket).data, (Bytes{0x02, 0x00, 0x02, 0x00}));
    EXPECT_EQ(m_sender->socket.SentCount(), 3);
    EXPECT_TRUE(m_sender->presenter.Shown().empty());
}

TEST_F(PeerSocketLoopback, EmptyTargetBroadcastsTextAndTyping) {
    m_sender->socket.SendText("vsem", "");
    m_sender->socket.SendTyping("");
    EXPECT_EQ(ReceiveWithin(m_receiver.socket).data,
              (Bytes{0x01, 0x00, 0x02, 0x00, 'v', 's', 'e', 'm', 0x00}));
    EXPECT_EQ(ReceiveWithin(m_receiver.socket).data, (Bytes{0x01, 0x00, 0x08, 0x00}));
}

TEST_F(PeerSocketLoopback, SendsFromTwoThreadsAtOnceAllArrive) {
    constexpr int kEach = 50;
    std::thread announcer([&] {
        for (int i = 0; i < kEach; ++i) {
            m_sender->socket.BroadcastPresence();
        }
    });
    std::thread ui([&] {
        for (int i = 0; i < kEach; ++i) {
            m_sender->socket.SendText("x", "127.0.0.1");
        }
    });
    int presences = 0;
    int texts = 0;
    for (int i = 0; i < 2 * kEach; ++i) {
        const Arrival arrival = ReceiveWithin(m_receiver.socket);
        if (arrival.bytes == 102) {
            ++presences;
        } else if (arrival.bytes == 6) {
            ++texts;
        } else {
            ADD_FAILURE() << "unexpected datagram of " << arrival.bytes << " bytes";
            break;
        }
    }
    announcer.join();
    ui.join();
    EXPECT_EQ(presences, kEach);
    EXPECT_EQ(texts, kEach);
    EXPECT_EQ(m_sender->socket.SentCount(), 2 * kEach);
    EXPECT_TRUE(m_sender->presenter.Shown().empty());
}

// A send buffer that two threads fill faster than it drains is not a failure:
// the send waits for room (the receiver reads nothing; what it cannot hold is
// dropped, as UDP may).
TEST_F(PeerSocketLoopback, AFullSendBufferIsNoFailure) {
    constexpr int kEach = 1000;
    std::thread announcer([&] {
        for (int i = 0; i < kEach; ++i) {
            m_sender->socket.BroadcastPresence();
        }
    });
    for (int i = 0; i < kEach; ++i) {
        m_sender->socket.SendText(std::string(400, 'x'), "127.0.0.1");
    }
    announcer.join();
    EXPECT_EQ(m_sender->presenter.Texts(), std::vector<std::string>{});
    EXPECT_EQ(m_sender->socket.SentCount(), 2 * kEach);
}

TEST(PeerSocket, DestinationPortZeroMeansTheBoundPort) {
    Copy copy(Copy::LoopbackOptions(0));
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    copy.socket.BroadcastPresence();
    const Arrival arrival = ReceiveWithin(copy.socket);
    EXPECT_EQ(arrival.bytes, 102);
    EXPECT_TRUE(copy.socket.IsOwnAddress(Ip(arrival.sender)));
}

TEST(PeerSocket, BroadcastOptionIsSetBeforeEveryBroadcast) {
    Copy receiver;
    ASSERT_TRUE(receiver.socket.OpenEndpoint());
    const uint16_t port = receiver.socket.BoundPort();
    // The loopback network's broadcast address refuses senders without the option.
    const std::string broadcast = "127.255.255.255";
    ASSERT_EQ(RawUdp().SendTo(broadcast, port, {0x02, 0x00, 0x02, 0x00}), testsock::kAccessDenied);

    CPeerSocket::Options options = Copy::LoopbackOptions(port);
    options.broadcastAddress = broadcast;
    Copy sender(options);
    ASSERT_TRUE(sender.socket.OpenEndpoint());
    const platform::SocketHandle handle = sender.socket.Handle();

    ClearBroadcastOption(handle);
    sender.socket.BroadcastPresence();
    EXPECT_EQ(testsock::BroadcastOption(handle), 1);
    EXPECT_EQ(ReceiveWithin(receiver.socket).bytes, 102);

    ClearBroadcastOption(handle);
    sender.socket.BroadcastPresence();
    EXPECT_EQ(testsock::BroadcastOption(handle), 1);
    EXPECT_EQ(ReceiveWithin(receiver.socket).bytes, 102);

    ClearBroadcastOption(handle);
    sender.socket.SendText("ahoj", "");
    EXPECT_EQ(testsock::BroadcastOption(handle), 1);
    EXPECT_EQ(ReceiveWithin(receiver.socket).bytes, 9);

    ClearBroadcastOption(handle);
    sender.socket.SendTyping("");
    EXPECT_EQ(testsock::BroadcastOption(handle), 1);
    EXPECT_EQ(ReceiveWithin(receiver.socket).bytes, 4);

    // A message to one peer leaves the option alone.
    ClearBroadcastOption(handle);
    sender.socket.SendBell("127.0.0.1");
    EXPECT_EQ(testsock::BroadcastOption(handle), 0);
    EXPECT_EQ(ReceiveWithin(receiver.socket).bytes, 4);
    // Nothing more: a read answers at once, though the socket blocks for the receive thread.
    EXPECT_EQ(ReceiveWithin(receiver.socket, 0ms).bytes, 0);

    EXPECT_TRUE(sender.presenter.Shown().empty());
}

TEST(PeerSocket, FailedSendShowsTheSendToBox) {
    Copy copy;
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    // Sent to one "peer" without the broadcast option, the limited broadcast
    // address is refused.
    copy.socket.SendText("ahoj", "255.255.255.255");
    const std::vector<ShownMessage> expected = {
        {"Error",
         "SendTo errorcode: " + std::to_string(testsock::kAccessDenied) + "\r\n" +
             testsock::SystemErrorText(testsock::kAccessDenied),
         BoxIcon::Information}};
    EXPECT_EQ(copy.presenter.Shown(), expected);
    EXPECT_EQ(copy.socket.SentCount(), 0);
}

TEST(PeerSocket, UnresolvableTargetFailsWithInvalidArgument) {
    Copy copy;
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    copy.socket.SendBell("no-such-host.invalid");
    ASSERT_EQ(copy.presenter.Shown().size(), 1u);
    EXPECT_EQ(copy.presenter.Shown()[0].caption, "Error");
    EXPECT_EQ(copy.presenter.Shown()[0].text,
              ErrorBoxText("SendTo", platform::InvalidArgumentCode()));
    EXPECT_EQ(platform::InvalidArgumentCode(), testsock::kInvalidArgument);
}

TEST(PeerSocket, SendingWithoutAnOpenSocketReportsInsteadOfCrashing) {
    Copy copy;
    const std::string expected = ErrorBoxText("SendTo", platform::InvalidArgumentCode());
    copy.socket.BroadcastPresence();
    copy.socket.SendBell("127.0.0.1");
    EXPECT_EQ(copy.presenter.Texts(), (std::vector<std::string>{expected, expected}));
    EXPECT_LT(ReceiveWithin(copy.socket, 0ms).bytes, 0);

    ASSERT_TRUE(copy.socket.OpenEndpoint());
    copy.socket.ShutDown();
    copy.socket.ShutDown();
    copy.socket.Close();
    copy.socket.Close();
    EXPECT_FALSE(copy.socket.IsOpen());
    EXPECT_EQ(copy.socket.BoundPort(), 0);
    copy.socket.SendTyping("");
    EXPECT_EQ(copy.presenter.Texts().size(), 3u);
    EXPECT_EQ(copy.presenter.Texts().back(), expected);
    EXPECT_LT(ReceiveWithin(copy.socket, 0ms).bytes, 0);
}

TEST(PeerSocket, BroadcastAfterShutDownShowsTheBox) {
    Copy copy;
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    copy.socket.ShutDown();
    copy.socket.BroadcastPresence();
    ASSERT_EQ(copy.presenter.Shown().size(), 1u);
    EXPECT_EQ(copy.presenter.Shown()[0].text.rfind("SendTo errorcode: ", 0), 0u);
    EXPECT_EQ(copy.socket.SentCount(), 0);
}

TEST(PeerSocket, SecondSocketOnTheSamePortFailsToOpen) {
    Copy first;
    ASSERT_TRUE(first.socket.OpenEndpoint());
    CPeerSocket::Options options = Copy::LoopbackOptions(0);
    options.port = first.socket.BoundPort();
    Copy second(options);
    EXPECT_FALSE(second.socket.OpenEndpoint());
    EXPECT_EQ(second.socket.LastError(), testsock::kAddressInUse);
    EXPECT_FALSE(second.socket.IsOpen());
    EXPECT_TRUE(second.presenter.Shown().empty());
}

// The receive thread's reads: a batch in order of arrival, a datagram too long
// for the 508-byte buffer failed in its place, the longest that fits whole.
TEST(SocketReceiver, ReadsInOrderAndFailsWhatIsTooLong) {
    Copy copy;
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    const uint16_t port = copy.socket.BoundPort();
    const RawUdp raw;
    ASSERT_EQ(raw.SendTo("127.0.0.1", port, Bytes(3, 'a')), 0);
    ASSERT_EQ(raw.SendTo("127.0.0.1", port, Bytes(600, 'x')), 0);
    ASSERT_EQ(raw.SendTo("127.0.0.1", port, Bytes(509, 'x')), 0);
    ASSERT_EQ(raw.SendTo("127.0.0.1", port, Bytes(508, 'y')), 0);

    platform::SocketReceiver receiver(copy.socket.Handle(), kReceiveBufferSize);
    ASSERT_TRUE(receiver.IsValid());
    std::vector<Arrival> arrivals;
    while (arrivals.size() < 4) {
        const auto batch = receiver.Receive(2);
        ASSERT_FALSE(batch.empty());
        ASSERT_LE(batch.size(), 2u);
        for (const platform::SocketReceiver::Datagram& datagram : batch) {
            Arrival arrival{
                datagram.bytes, datagram.error, platform::FormatDottedAddress(datagram.sender), {}};
            if (datagram.bytes > 0) {
                arrival.data.assign(datagram.data, datagram.data + datagram.bytes);
            }
            arrivals.push_back(std::move(arrival));
        }
    }
    ASSERT_EQ(arrivals.size(), 4u);
    EXPECT_EQ(arrivals[0].data, Bytes(3, 'a'));
    EXPECT_EQ(arrivals[0].sender, "127.0.0.1");
    for (const int i : {1, 2}) {
        EXPECT_EQ(arrivals[i].bytes, -1);
        EXPECT_EQ(arrivals[i].error, platform::MessageTooLongCode());
    }
    EXPECT_EQ(platform::MessageTooLongCode(), testsock::kMessageTooLong);
    EXPECT_EQ(arrivals[3].data, Bytes(508, 'y'));
    EXPECT_EQ(arrivals[3].sender, "127.0.0.1");
    EXPECT_FALSE(testsock::WaitReadable(copy.socket.Handle(), 0ms));
}

// A stop ends a wait at once and every later one; a datagram that arrives
// after it is not read.
TEST(SocketReceiver, AStopEndsTheWaitForGood) {
    Copy copy;
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    platform::SocketReceiver receiver(copy.socket.Handle(), kReceiveBufferSize);
    size_t read = 1;
    std::thread reader([&] { read = receiver.Receive(64).size(); });
    receiver.Stop();
    reader.join();
    EXPECT_EQ(read, 0u);
    ASSERT_EQ(RawUdp().SendTo("127.0.0.1", copy.socket.BoundPort(), Bytes(3, 'a')), 0);
    EXPECT_TRUE(receiver.Receive(64).empty());
    EXPECT_TRUE(testsock::WaitReadable(copy.socket.Handle(), 2000ms));
}

// After the socket is shut down the reads end, at the latest once what was
// waiting is read. Only where the system tells (POSIX); elsewhere the stop
// that follows ends them.
TEST(SocketReceiver, AShutDownSocketGivesNothingMore) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows reports no shut-down to a waiting reader";
#endif
    Copy copy;
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    ASSERT_EQ(RawUdp().SendTo("127.0.0.1", copy.socket.BoundPort(), Bytes(3, 'a')), 0);
    ASSERT_TRUE(testsock::WaitReadable(copy.socket.Handle(), 2000ms));
    platform::SocketReceiver receiver(copy.socket.Handle(), kReceiveBufferSize);
    copy.socket.ShutDown();
    // What was already waiting may still come; then nothing, without a wait.
    auto batch = receiver.Receive(64);
    if (!batch.empty()) {
        EXPECT_EQ(batch.size(), 1u);
        batch = receiver.Receive(64);
    }
    EXPECT_TRUE(batch.empty());
}

// A flood waits in the system's buffer while the receive thread hands a batch
// over: the endpoint asks for a larger one than a socket gets by default.
TEST(PeerSocket, TheEndpointAsksForALargerReceiveBuffer) {
    Copy copy;
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    int error = 0;
    const platform::SocketHandle plain = platform::OpenUdpSocket(0, error);
    ASSERT_NE(plain, platform::kInvalidSocket);
    const int usual = testsock::ReceiveBufferOption(plain);
    platform::CloseSocket(plain);
    EXPECT_EQ(copy.socket.ReceiveBufferBytes(),
              testsock::ReceiveBufferOption(copy.socket.Handle()));
    EXPECT_GT(copy.socket.ReceiveBufferBytes(), usual);
}

TEST(PeerSocket, UnreachableIsIgnoredOnlyForPresence) {
    for (const int code : {testsock::kHostUnreachable, testsock::kNetworkUnreachable}) {
        EXPECT_TRUE(platform::IsUnreachableCode(code));
        EXPECT_FALSE(CPeerSocket::ReportsSendFailure(true, code));
        EXPECT_TRUE(CPeerSocket::ReportsSendFailure(false, code));
    }
    for (const int code : {testsock::kAccessDenied, testsock::kSendAfterShutDown,
                           testsock::kInvalidArgument, testsock::kMessageTooLong}) {
        EXPECT_FALSE(platform::IsUnreachableCode(code));
        EXPECT_TRUE(CPeerSocket::ReportsSendFailure(true, code));
        EXPECT_TRUE(CPeerSocket::ReportsSendFailure(false, code));
    }
}

TEST(PeerSocket, UnreachablePresenceIsSilentWhereARouteIsMissing) {
    // Only where this machine has no route to one of the documentation networks.
    std::string unreachable;
    int code = 0;
    for (const std::string candidate : {"198.51.100.1", "203.0.113.1"}) {
        code = RawUdp().SendTo(candidate, 9, {0});
        if (platform::IsUnreachableCode(code)) {
            unreachable = candidate;
            break;
        }
    }
    if (unreachable.empty()) {
        GTEST_SKIP() << "every address has a route here; the decision is covered above";
    }
    CPeerSocket::Options options = Copy::LoopbackOptions(9);
    options.broadcastAddress = unreachable;
    Copy copy(options);
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    copy.socket.BroadcastPresence();
    EXPECT_TRUE(copy.presenter.Shown().empty());
    copy.socket.SendText("ahoj", unreachable);
    EXPECT_EQ(copy.presenter.Texts(), (std::vector<std::string>{ErrorBoxText("SendTo", code)}));
}

TEST(PeerSocket, RecognisesEveryAddressOfThisComputer) {
    Copy copy;
    std::vector<std::string> addresses;
    for (const platform::InterfaceAddress& entry : platform::LocalInterfaces()) {
        addresses.push_back(platform::FormatDottedAddress(entry.address));
    }
    ASSERT_FALSE(addresses.empty());
    EXPECT_TRUE(copy.socket.IsOwnAddress(Ip("127.0.0.1")));
    for (const std::string& address : addresses) {
        EXPECT_TRUE(copy.socket.IsOwnAddress(Ip(address))) << address;
    }
    ASSERT_EQ(std::count(addresses.begin(), addresses.end(), "192.0.2.1"), 0);
    EXPECT_FALSE(copy.socket.IsOwnAddress(Ip("192.0.2.1")));
}

TEST(PeerSocket, InterfacesTellTheirStateAndBroadcastAddress) {
    const std::vector<platform::InterfaceAddress> interfaces = platform::LocalInterfaces();
    const auto loopback =
        std::find_if(interfaces.begin(), interfaces.end(),
                     [](const platform::InterfaceAddress& i) { return i.address == 0x7F000001; });
    ASSERT_NE(loopback, interfaces.end());
    EXPECT_TRUE(loopback->up);
    EXPECT_TRUE(loopback->loopback);
    EXPECT_FALSE(loopback->carriesLimitedBroadcast);
    for (const platform::InterfaceAddress& entry : interfaces) {
        if (entry.carriesLimitedBroadcast) {
            EXPECT_TRUE(entry.up && !entry.loopback);
        }
        if (entry.broadcastCapable && entry.broadcast != 0) {
            // All host bits set: the address lies within it, and it is not the address.
            const std::string text = platform::FormatDottedAddress(entry.address);
            EXPECT_EQ(entry.broadcast & entry.address, entry.address) << text;
            EXPECT_NE(entry.broadcast, entry.address) << text;
#ifdef __linux__
            // A neighbour on the same link is reached by the broadcast, not
            // through a router.
            if (entry.up && !entry.loopback && entry.netmask != 0 && ~entry.netmask > 2) {
                const uint32_t neighbour =
                    (entry.address & entry.netmask) | (entry.address % 2 == 1 ? 2u : 1u);
                EXPECT_FALSE(platform::IsBeyondRouter(neighbour)) << text;
            }
#endif
        }
    }
#ifdef __linux__
    EXPECT_FALSE(platform::IsBeyondRouter(0x7F000001));
#endif
}

namespace {

constexpr uint32_t kLimited = 0xFFFFFFFF;

platform::InterfaceAddress Interface(const std::string& address, const std::string& broadcast,
                                     bool up = true, bool loopback = false) {
    platform::InterfaceAddress entry;
    entry.address = *platform::ParseDottedAddress(address);
    entry.broadcast = broadcast.empty() ? 0 : *platform::ParseDottedAddress(broadcast);
    entry.broadcastCapable = !broadcast.empty();
    entry.up = up;
    entry.loopback = loopback;
    return entry;
}

std::vector<std::string> Dotted(const std::vector<uint32_t>& addresses) {
    std::vector<std::string> texts;
    for (const uint32_t address : addresses) {
        texts.push_back(platform::FormatDottedAddress(address));
    }
    return texts;
}

// The system as a copy sees it: its interfaces, and a send that records each
// destination and fails where the test says.
class FakeNetwork {
public:
    std::vector<platform::InterfaceAddress> Interfaces() {
        std::lock_guard lock(m_mutex);
        return m_interfaces;
    }
    void SetInterfaces(std::vector<platform::InterfaceAddress> interfaces) {
        std::lock_guard lock(m_mutex);
        m_interfaces = std::move(interfaces);
    }
    // The code a send to the address fails with; 0 lets it through.
    void Fail(const std::string& address, int code) {
        std::lock_guard lock(m_mutex);
        m_codes[*platform::ParseDottedAddress(address)] = code;
    }
    void FailAll(int code) {
        std::lock_guard lock(m_mutex);
        m_all = code;
    }
    int Send(uint32_t address) {
        std::lock_guard lock(m_mutex);
        m_sent.push_back(address);
        const auto found = m_codes.find(address);
        return found != m_codes.end() ? found->second : m_all;
    }
    // The destinations since the last call.
    void Later(int64_t seconds) { m_now += seconds; }
    std::vector<std::string> TakeSent() {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> sent = Dotted(m_sent);
        m_sent.clear();
        return sent;
    }

    CPeerSocket::Options Options() {
        CPeerSocket::Options options;
        options.port = 0;
        options.interfaces = [this] { return Interfaces(); };
        options.monotonicSeconds = [this] { return m_now.load(); };
        options.send = [this](platform::SocketHandle, uint32_t address, uint16_t, const void*,
                              size_t) { return Send(address); };
        return options;
    }

private:
    std::mutex m_mutex;
    std::vector<platform::InterfaceAddress> m_interfaces = {
        Interface("127.0.0.1", "", true, true),
        Interface("10.0.0.7", "10.0.0.255"),
        Interface("192.168.5.20", "192.168.5.255"),
    };
    std::map<uint32_t, int> m_codes;
    int m_all = 0;
    std::atomic<int64_t> m_now{1000};
    std::vector<uint32_t> m_sent;
};

// A copy whose broadcasts go to the limited broadcast address, on a made-up network.
class PeerSocketOnFakeNetwork : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_copy.socket.OpenEndpoint()); }

    FakeNetwork m_network;
    Copy m_copy{m_network.Options()};
};

}  // namespace

TEST(PeerSocket, DirectedBroadcastsComeFromUpBroadcastInterfacesOnce) {
    std::vector<platform::InterfaceAddress> interfaces = {
        Interface("127.0.0.1", "127.255.255.255", true, true),  // loopback
        Interface("10.0.0.7", "10.0.0.255"),
        Interface("172.16.1.1", "172.16.1.255", false),  // down
        Interface("10.8.0.2", ""),                       // point-to-point, no broadcast
        Interface("10.0.0.9", "10.0.0.255"),             // a second address, same network
        Interface("192.168.5.20", "192.168.5.255"),
        Interface("100.64.0.1", "100.64.0.1"),  // a /32 network
        Interface("169.254.3.4", "255.255.255.255"),
        Interface("192.168.1.5", "192.168.1.255"),  // the limited broadcast leaves by it
    };
    interfaces.back().carriesLimitedBroadcast = true;
    EXPECT_EQ(Dotted(CPeerSocket::DirectedBroadcasts(interfaces)),
              (std::vector<std::string>{"10.0.0.255", "192.168.5.255"}));
    platform::InterfaceAddress noAddress = Interface("10.1.0.1", "10.1.0.255");
    noAddress.broadcast = 0;
    EXPECT_TRUE(CPeerSocket::DirectedBroadcasts({noAddress}).empty());
    EXPECT_TRUE(CPeerSocket::DirectedBroadcasts({}).empty());
}

TEST(PeerSocket, BroadcastFailureCodePrefersOneThatIsNotUnreachable) {
    EXPECT_EQ(
        CPeerSocket::BroadcastFailureCode(
            {testsock::kNetworkUnreachable, testsock::kAccessDenied, testsock::kSendAfterShutDown}),
        testsock::kAccessDenied);
    EXPECT_EQ(CPeerSocket::BroadcastFailureCode(
                  {testsock::kHostUnreachable, testsock::kNetworkUnreachable}),
              testsock::kHostUnreachable);
    EXPECT_EQ(CPeerSocket::BroadcastFailureCode({testsock::kSendAfterShutDown}),
              testsock::kSendAfterShutDown);
}

TEST_F(PeerSocketOnFakeNetwork, EveryBroadcastAlsoGoesToEachDirectedAddress) {
    const std::vector<std::string> all = {"255.255.255.255", "10.0.0.255", "192.168.5.255"};
    m_copy.socket.BroadcastPresence();
    EXPECT_EQ(m_network.TakeSent(), all);
    m_copy.socket.SendText("ahoj", "");
    EXPECT_EQ(m_network.TakeSent(), all);
    m_copy.socket.SendTyping("");
    EXPECT_EQ(m_network.TakeSent(), all);
    // A peer's own address: that address alone.
    m_copy.socket.SendText("ahoj", "10.0.0.9");
    m_copy.socket.SendBell("10.0.0.9");
    EXPECT_EQ(m_network.TakeSent(), (std::vector<std::string>{"10.0.0.9", "10.0.0.9"}));
    EXPECT_EQ(m_copy.socket.SentCount(), 11);

    // The interfaces are read again before an announcement once they are
    // old; the messages to all follow what the last reading found.
    m_network.SetInterfaces({Interface("10.0.0.7", "10.0.0.255"),
                             Interface("172.20.0.3", "172.20.255.255"),
                             Interface("172.20.0.4", "172.20.255.255")});
    m_copy.socket.SendTyping("");
    EXPECT_EQ(m_network.TakeSent(), all);
    m_network.Later(CPeerSocket::kInterfacesMaxAge - 1);
    m_copy.socket.BroadcastPresence();
    EXPECT_EQ(m_network.TakeSent(), all);
    m_network.Later(1);
    const std::vector<std::string> now = {"255.255.255.255", "10.0.0.255", "172.20.255.255"};
    m_copy.socket.BroadcastPresence();
    EXPECT_EQ(m_network.TakeSent(), now);
    EXPECT_TRUE(m_copy.socket.IsOwnAddress(Ip("172.20.0.4")));
    EXPECT_FALSE(m_copy.socket.IsOwnAddress(Ip("192.168.5.20")));
    m_copy.socket.SendText("ahoj", "");
    EXPECT_EQ(m_network.TakeSent(), now);
    m_copy.socket.BroadcastGoodbye();
    EXPECT_EQ(m_network.TakeSent(), now);
    EXPECT_TRUE(m_copy.presenter.Shown().empty());
}

// A computer on two networks hears its own broadcasts back from both of its
// addresses: they all count as from the one the limited broadcast leaves by.
TEST_F(PeerSocketOnFakeNetwork, EveryOwnAddressCountsAsTheOneTheLimitedBroadcastLeavesBy) {
    EXPECT_EQ(m_copy.socket.OwnSender(Ip("192.168.5.20")), Ip("10.0.0.7"));  // none carries it
    std::vector<platform::InterfaceAddress> interfaces = m_network.Interfaces();
    interfaces.back().carriesLimitedBroadcast = true;
    m_network.SetInterfaces(interfaces);
    m_copy.socket.RefreshOwnAddresses();
    for (const char* own : {"127.0.0.1", "10.0.0.7", "192.168.5.20"}) {
        EXPECT_EQ(m_copy.socket.OwnSender(Ip(own)), Ip("192.168.5.20")) << own;
    }
    EXPECT_EQ(m_copy.socket.OwnSender(Ip("10.0.0.8")), std::nullopt);
}

// The goodbye reads the interfaces afresh: the networks may have changed
// since the last announcement, however recent.
TEST_F(PeerSocketOnFakeNetwork, TheGoodbyeGoesByTheNetworksAsTheyAreNow) {
    m_copy.socket.BroadcastPresence();
    m_network.TakeSent();
    m_network.SetInterfaces({Interface("172.20.0.3", "172.20.255.255")});
    m_copy.socket.BroadcastGoodbye();
    EXPECT_EQ(m_network.TakeSent(),
              (std::vector<std::string>{"255.255.255.255", "172.20.255.255"}));
}

TEST_F(PeerSocketOnFakeNetwork, BroadcastFailsOnlyWhenNoDestinationTookIt) {
    // Without a default route the limited broadcast has nowhere to go.
    m_network.Fail("255.255.255.255", testsock::kNetworkUnreachable);
    m_network.Fail("10.0.0.255", testsock::kAccessDenied);
    m_copy.socket.BroadcastPresence();
    m_copy.socket.SendText("ahoj", "");
    m_copy.socket.SendTyping("");
    EXPECT_TRUE(m_copy.presenter.Shown().empty());
    EXPECT_EQ(m_copy.socket.SentCount(), 3);

    // None took it: the first code that is not "unreachable" is reported.
    m_network.Fail("192.168.5.255", testsock::kSendAfterShutDown);
    m_copy.socket.SendText("ahoj", "");
    EXPECT_EQ(m_copy.presenter.Texts(),
              (std::vector<std::string>{ErrorBoxText("SendTo", testsock::kAccessDenied)}));

    // All unreachable: silent for an announcement, the box for a message.
    m_network.FailAll(testsock::kNetworkUnreachable);
    m_network.Fail("10.0.0.255", testsock::kHostUnreachable);
    m_network.Fail("192.168.5.255", testsock::kNetworkUnreachable);
    m_copy.socket.BroadcastPresence();
    EXPECT_EQ(m_copy.presenter.Texts().size(), 1u);
    m_copy.socket.SendTyping("");
    EXPECT_EQ(m_copy.presenter.Texts().back(),
              ErrorBoxText("SendTo", testsock::kNetworkUnreachable));
    // A message to one peer: its own failure, as before.
    m_copy.socket.SendBell("10.0.0.9");
    EXPECT_EQ(m_copy.presenter.Texts().back(),
              ErrorBoxText("SendTo", testsock::kNetworkUnreachable));
    EXPECT_EQ(m_copy.presenter.Texts().size(), 3u);
    EXPECT_EQ(m_copy.socket.SentCount(), 3);
}

TEST_F(PeerSocketOnFakeNetwork, ThreeAnnouncementsThatNoneTookMarkTheNetworkUnreachable) {
    RecordingLog log;
    m_network.FailAll(testsock::kNetworkUnreachable);
    m_copy.socket.BroadcastPresence();
    m_copy.socket.BroadcastPresence();
    EXPECT_FALSE(m_copy.socket.NetworkUnreachable());
    m_copy.socket.BroadcastPresence();
    EXPECT_TRUE(m_copy.socket.NetworkUnreachable());
    m_copy.socket.BroadcastPresence();
    EXPECT_TRUE(m_copy.socket.NetworkUnreachable());
    EXPECT_TRUE(m_copy.presenter.Shown().empty());

    // One destination that takes it is enough.
    m_network.Fail("192.168.5.255", 0);
    m_copy.socket.BroadcastPresence();
    EXPECT_FALSE(m_copy.socket.NetworkUnreachable());

    // The count starts again, and messages do not count.
    m_network.FailAll(testsock::kAccessDenied);
    m_network.Fail("192.168.5.255", testsock::kAccessDenied);
    m_copy.socket.BroadcastPresence();
    m_copy.socket.BroadcastPresence();
    m_network.FailAll(0);
    m_network.Fail("192.168.5.255", 0);
    m_copy.socket.BroadcastPresence();
    m_network.FailAll(testsock::kAccessDenied);
    m_network.Fail("192.168.5.255", testsock::kAccessDenied);
    m_copy.socket.BroadcastPresence();
    m_copy.socket.BroadcastPresence();
    m_copy.socket.SendText("ahoj", "");
    EXPECT_FALSE(m_copy.socket.NetworkUnreachable());
    m_copy.socket.BroadcastPresence();
    EXPECT_TRUE(m_copy.socket.NetworkUnreachable());
    // After a refused announcement the interfaces are read at once, however
    // new the last reading: an address that comes back is used.
    m_network.SetInterfaces({Interface("10.9.0.5", "10.9.255.255")});
    m_network.TakeSent();
    m_copy.socket.BroadcastPresence();
    EXPECT_EQ(m_network.TakeSent(), (std::vector<std::string>{"255.255.255.255", "10.9.255.255"}));
    // Each change is logged once.
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("net: ", 0), 0u);
    EXPECT_NE(lines[0].find(std::to_string(testsock::kNetworkUnreachable)), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[2].find(std::to_string(testsock::kAccessDenied)), std::string::npos)
        << lines[2];
}

#ifndef _WIN32
// The process's locale for one test; LANGUAGE would override its messages.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) {
        if (const char* current = std::setlocale(LC_ALL, nullptr)) {
            m_previous = current;
        }
        if (const char* language = std::getenv("LANGUAGE")) {
            m_language = language;
            ::unsetenv("LANGUAGE");
        }
        m_set = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() {
        std::setlocale(LC_ALL, m_previous.c_str());
        if (!m_language.empty()) {
            ::setenv("LANGUAGE", m_language.c_str(), 1);
        }
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    bool IsSet() const { return m_set; }

private:
    std::string m_previous = "C";
    std::string m_language;
    bool m_set = false;
};

// The system's Czech texts come in the locale's character set; the box shows
// them in code page 1250.
TEST(SocketErrorMessage, SystemTextsInACzechLocaleArriveInCodePage1250) {
    const int resolverNoName = EAI_NONAME < 0 ? EAI_NONAME : -EAI_NONAME;
    int tried = 0;
    for (const char* name : {"cs_CZ.UTF-8", "cs_CZ.ISO-8859-2"}) {
        const ScopedLocale locale(name);
        if (!locale.IsSet()) {
            continue;
        }
        ++tried;
        EXPECT_NE(platform::SocketErrorMessage(EADDRINUSE).find("Adresa je užívána"),
                  std::string::npos)
            << name << ": " << platform::SocketErrorMessage(EADDRINUSE);
        EXPECT_NE(SocketErrorText("gethostbyname", resolverNoName).find(cp1250::FromUtf8("jméno")),
                  std::string::npos)
            << name << ": " << cp1250::ToUtf8(SocketErrorText("gethostbyname", resolverNoName));
        EXPECT_NE(SocketErrorText("Create", EADDRINUSE)
                      .find("Create errorcode: " + std::to_string(EADDRINUSE) + "\r\n" +
                            cp1250::FromUtf8("Adresa je užívána")),
                  std::string::npos)
            << name;
    }
    EXPECT_EQ(platform::SocketErrorMessage(EADDRINUSE), std::strerror(EADDRINUSE));
    if (tried == 0) {
        GTEST_SKIP() << "no Czech locale here (scripts/install-deps.sh generates cs_CZ.UTF-8)";
    }
}
#endif  // _WIN32

// Beyond this computer's networks: each extra destination once after the
// local ones, none that a local network holds; a failure there is logged and
// counted, never shown, and one that takes the datagram keeps the network
// reachable.
TEST(PeerSocketBeyondTheNetworks, ExtraDestinationsGetEachBroadcastOnceAndFailQuietly) {
    FakeNetwork network;
    platform::InterfaceAddress local = Interface("10.0.0.7", "10.0.0.255");
    local.netmask = 0xFFFFFF00u;
    local.carriesLimitedBroadcast = true;
    network.SetInterfaces({local});
    CPeerSocket::Options options = network.Options();
    options.extraDestinations = [] {
        return std::vector<uint32_t>{*platform::ParseDottedAddress("10.1.2.7"),
                                     *platform::ParseDottedAddress("10.0.0.9"),  // local
                                     *platform::ParseDottedAddress("10.1.3.255"),
                                     *platform::ParseDottedAddress("10.1.2.7")};  // again
    };
    Copy copy{options};
    ASSERT_TRUE(copy.socket.OpenEndpoint());
    RecordingLog log;

    copy.socket.BroadcastPresence();
    EXPECT_EQ(network.TakeSent(),
              (std::vector<std::string>{"255.255.255.255", "10.1.2.7", "10.1.3.255"}));
    copy.socket.SendText("ahoj", "");
    EXPECT_EQ(network.TakeSent(),
              (std::vector<std::string>{"255.255.255.255", "10.1.2.7", "10.1.3.255"}));
    copy.socket.SendText("ahoj", "10.1.2.7");  // to one peer: that peer alone
    EXPECT_EQ(network.TakeSent(), (std::vector<std::string>{"10.1.2.7"}));

    network.Fail("10.1.3.255", testsock::kNetworkUnreachable);
    network.Fail("255.255.255.255", testsock::kNetworkUnreachable);
    for (int i = 0; i < CPeerSocket::kUnreachableAfter + 1; ++i) {
        copy.socket.BroadcastPresence();
        copy.socket.SendText("ahoj", "");
    }
    EXPECT_EQ(copy.socket.ExtraFailures(), 2 * (CPeerSocket::kUnreachableAfter + 1));
    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.starts_with(
                                    "net: A broadcast did not leave for "
                                    "10.1.3.255");
                            }),
              1);
    EXPECT_FALSE(copy.socket.NetworkUnreachable());
    EXPECT_TRUE(copy.presenter.Shown().empty());
}
