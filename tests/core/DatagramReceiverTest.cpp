// tests/core/DatagramReceiverTest.cpp
// The receive thread and its hand-over to the user-interface thread.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Fakes.h"
#include "TestPeer.h"
#include "core/TestSockets.h"
#include "core/net/Packet.h"
#include "core/peers/DatagramHandOver.h"
#include "core/peers/DatagramReceiver.h"
#include "core/peers/PeerDirectory.h"
#include "platform/Socket.h"
#include "platform/SocketReceiver.h"
#include "support/DirectoryLock.h"

namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;
using Datagram = platform::SocketReceiver::Datagram;

const std::string kJan = "10.0.0.5";
const std::string kEva = "10.0.0.6";
const std::string kPetr = "10.0.0.7";
const std::string kOwn = "10.0.0.99";
const std::string kOwnSecond = "192.168.7.99";  // this computer on a second network

// Datagrams as the socket hands them to the thread, kept alive for the batch.
class Batch {
public:
    Batch& Presence(const std::string& from, int16_t status, std::string_view user = "jan",
                    std::string_view group = "Sklad") {
        BuildPresence(m_packets.emplace_back(), status, user, "PC1", group);
        return Add(from, kPresenceLength);
    }
    Batch& Text(const std::string& from, std::string_view text) {
        BuildText(m_packets.emplace_back(), text);
        return Add(from, kTextOffset + text.size() + 1);
    }
    Batch& Group(const std::string& from, std::string_view group) {
        BuildGroupAssignment(m_packets.emplace_back(), group);
        return Add(from, kTextOffset + group.size() + 1);
    }
    Batch& Empty(const std::string& from) {
        m_packets.emplace_back();
        return Add(from, 0);
    }
    Batch& Failure(int code) {
        m_datagrams.push_back(Datagram{nullptr, -1, code, 0});
        return *this;
    }
    operator std::span<const Datagram>() const { return m_datagrams; }

private:
    Batch& Add(const std::string& from, size_t size) {
        m_datagrams.push_back(
            Datagram{m_packets.back().data(), static_cast<int>(size), 0, Ip(from)});
        return *this;
    }
    std::deque<PacketBuffer> m_packets;
    std::vector<Datagram> m_datagrams;
};

// What reached the user-interface thread: "10.0.0.5 status 1", "10.0.0.5 text
// ahoj", "failed 90".
std::string Describe(const Arrival& arrival) {
    if (arrival.error != 0) {
        return "failed " + std::to_string(arrival.error);
    }
    const DatagramView view(arrival.bytes.data(), arrival.bytes.size());
    const std::string from = platform::FormatDottedAddress(arrival.sender);
    if (view.Type() == kTypeChat && view.Subtype() == kSubPresence) {
        return from + " status " + std::to_string(view.PresenceStatus()) + " " +
               view.PresenceName();
    }
    return from + " text " + view.BodyText();
}

// Waits for what another thread does; false when it has not happened in a
// few seconds.
bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

class ReceiverTest : public ::testing::Test {
protected:
    explicit ReceiverTest(size_t capacity = DatagramHandOver::kCapacity, size_t drainBatch = 2)
        : handOver(
              poster, [this](const Arrival& arrival) { Dispatch(arrival); }, capacity, drainBatch) {
    }

    void Dispatch(const Arrival& arrival) {
        dispatched.push_back(Describe(arrival));
        if (onDispatch) {
            onDispatch(arrival);
        }
    }
    int64_t LastHeard(int index) {
        std::lock_guard lock(LockOf(directory));
        return directory.PeerAt(index).lastHeard;
    }
    // Runs the posted drains until the count has been dispatched.
    bool PumpUntilDispatched(size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (dispatched.size() < count) {
            if (!poster.WaitForTask(deadline)) {
                return false;
            }
            poster.Drain();
        }
        return true;
    }

    FakeClock clock{1000};
    PeerDirectory directory{clock};
    QueuePoster poster;
    Texts dispatched;
    std::function<void(const Arrival&)> onDispatch;
    DatagramHandOver handOver;
    DatagramReceiver receiver{
        DatagramReceiver::Services{.directory = directory,
                                   .clock = clock,
                                   .handOver = handOver,
                                   .ownSender = [](uint32_t address) -> std::optional<uint32_t> {
                                       if (address == Ip(kOwn) || address == Ip(kOwnSecond)) {
                                           return Ip(kOwn);
                                       }
                                       return std::nullopt;
                                   },
                                   .showMySelf = [this] { return showMySelf; }}};
    bool showMySelf = true;
};

// An announcement that changes nothing visible only refreshes the time last
// heard on the receive thread; everything else goes over in order.
TEST_F(ReceiverTest, OnlyAnUnchangedPresenceOfAKnownPeerStaysOnTheReceiveThread) {
    directory.AddPeer(nullptr, "jan@PC1", "Sklad", kJan, Ready);
    directory.AddPeer(nullptr, "eva@PC1", "Sklad", kEva, Ready);
    directory.AddPeer(nullptr, "ja@PC1", "Sklad", kOwn, Ready);
    clock.Advance(7);
    receiver.Absorb(Batch().Presence(kJan, Ready).Empty(kJan));
    EXPECT_EQ(LastHeard(0), 1007);
    EXPECT_EQ(handOver.Size(), 0u);
    EXPECT_EQ(poster.Pending(), 0u);

    clock.Advance(1);
    receiver.Absorb(Batch()
                        .Presence(kJan, Ready, "jana")
                        .Presence(kEva, Ready, "eva", "Kancl")
                        .Presence(kOwn, Ready, "ja")
                        .Presence(kPetr, Ready, "petr")
                        .Text(kPetr, "ahoj")
                        .Failure(testsock::kMessageTooLong));
    EXPECT_EQ(LastHeard(0), 1007);
    EXPECT_EQ(LastHeard(1), 1000);
    EXPECT_EQ(LastHeard(2), 1000);
    // One drain posted for all of them.
    EXPECT_EQ(poster.Pending(), 1u);
    poster.Drain();
    EXPECT_EQ(dispatched,
              (Texts{"10.0.0.5 status 0 jana@PC1", "10.0.0.6 status 0 eva@PC1",
                     "10.0.0.99 status 0 ja@PC1", "10.0.0.7 status 0 petr@PC1",
                     "10.0.0.7 text ahoj", "failed " + std::to_string(testsock::kMessageTooLong)}));
}

// Without "ShowMySelf" this computer's own broadcasts, which come back to it,
// do not wake the user-interface thread; a group assignment from it still goes.
TEST_F(ReceiverTest, OwnDatagramsThatMeanNothingStayOnTheReceiveThread) {
    showMySelf = false;
    receiver.Absorb(Batch()
                        .Presence(kOwn, Ready, "ja")
                        .Text(kOwn, "všem")
                        .Group(kOwn, "Sklad")
                        .Presence(kJan, Ready, "jan"));
    poster.Drain();
    EXPECT_EQ(dispatched, (Texts{"10.0.0.99 text Sklad", "10.0.0.5 status 0 jan@PC1"}));
}

// This computer's datagrams go over as from one address, whichever network
// they came back by; with a record of its own (made while "ShowMySelf" was
// on) its messages go over too, though its presence no longer does.
TEST_F(ReceiverTest, OwnDatagramsGoOverAsFromOneAddressAndIntoAnOwnRecord) {
    receiver.Absorb(Batch().Presence(kOwn, Ready, "ja").Presence(kOwnSecond, Ready, "ja"));
    poster.Drain();
    EXPECT_EQ(dispatched, (Texts{"10.0.0.99 status 0 ja@PC1", "10.0.0.99 status 0 ja@PC1"}));

    dispatched.clear();
    directory.AddPeer(nullptr, "ja@PC1", "Sklad", kOwn, Ready);
    showMySelf = false;
    receiver.Absorb(
        Batch().Presence(kOwnSecond, Away, "ja").Text(kOwnSecond, "všem").Text(kOwn, "zase"));
    poster.Drain();
    EXPECT_EQ(dispatched, (Texts{"10.0.0.99 text všem", "10.0.0.99 text zase"}));
}

// A status change still waiting for the user-interface thread, then an
// announcement equal to the record's old state: the second must follow the
// first, or the record would end in the older status.
TEST_F(ReceiverTest, AQueuedDatagramOfTheSameSenderKeepsItsPlace) {
    directory.AddPeer(nullptr, "jan@PC1", "Sklad", kJan, Ready);
    directory.AddPeer(nullptr, "eva@PC1", "Sklad", kEva, Ready);
    clock.Advance(5);
    receiver.Absorb(Batch().Presence(kJan, Away));
    receiver.Absorb(Batch().Presence(kJan, Ready).Presence(kEva, Ready, "eva"));
    EXPECT_EQ(LastHeard(0), 1000);
    EXPECT_EQ(LastHeard(1), 1005);
    // In one batch too: the message waits, so the presence after it does.
    clock.Advance(1);
    receiver.Absorb(Batch().Text(kEva, "ahoj").Presence(kEva, Ready, "eva"));
    EXPECT_EQ(LastHeard(1), 1005);

    // The dispatcher stores the status as it comes.
    onDispatch = [this](const Arrival& arrival) {
        const DatagramView view(arrival.bytes.data(), arrival.bytes.size());
        if (view.Type() == kTypeChat && view.Subtype() == kSubPresence) {
            std::lock_guard lock(LockOf(directory));
            directory.PeerAt(*directory.FindPeerByAddress(arrival.sender)).status =
                view.PresenceStatus();
        }
    };
    poster.Drain();
    EXPECT_EQ(dispatched, (Texts{"10.0.0.5 status 1 jan@PC1", "10.0.0.5 status 0 jan@PC1",
                                 "10.0.0.6 text ahoj", "10.0.0.6 status 0 eva@PC1"}));
    EXPECT_EQ(directory.PeerAt(0).status, Ready);

    // Once dispatched, the sender's unchanged announcements stay here again.
    clock.Advance(5);
    receiver.Absorb(Batch().Presence(kJan, Ready));
    EXPECT_EQ(LastHeard(0), 1011);
    EXPECT_EQ(handOver.Size(), 0u);

    // One that comes while the sender's change is being dispatched, before
    // the change is stored, waits for it too.
    const auto store = onDispatch;
    bool arrived = false;
    onDispatch = [&](const Arrival& arrival) {
        if (!std::exchange(arrived, true)) {
            receiver.Absorb(Batch().Presence(kJan, Ready));
        }
        store(arrival);
    };
    dispatched.clear();
    receiver.Absorb(Batch().Presence(kJan, Away));
    poster.Drain();
    poster.Drain();
    EXPECT_EQ(dispatched, (Texts{"10.0.0.5 status 1 jan@PC1", "10.0.0.5 status 0 jan@PC1"}));
    EXPECT_EQ(directory.PeerAt(0).status, Ready);
}

// A box's event loop, or any nested loop, that runs a drain while one is on
// the stack dispatches nothing: the outer drain goes on in order, a bounded
// batch at a time.
TEST_F(ReceiverTest, ANestedDrainDoesNotReorderTheDispatch) {
    int depth = 0;
    Texts nested;
    onDispatch = [&](const Arrival&) {
        if (dispatched.size() == 1) {
            ++depth;
            poster.Drain();
            handOver.Drain();
            --depth;
        } else if (depth > 0) {
            nested.push_back(dispatched.back());
        }
    };
    for (const char* text : {"1", "2", "3", "4", "5"}) {
        receiver.Absorb(Batch().Text(kJan, text));
    }
    EXPECT_EQ(poster.Pending(), 1u);
    // Batches of two: three drains, each posting the next.
    EXPECT_EQ(poster.Drain(), 3);
    EXPECT_TRUE(nested.empty());
    EXPECT_EQ(dispatched, (Texts{"10.0.0.5 text 1", "10.0.0.5 text 2", "10.0.0.5 text 3",
                                 "10.0.0.5 text 4", "10.0.0.5 text 5"}));
    EXPECT_EQ(handOver.Size(), 0u);
}

// The receive thread on a real socket, with a small hand-over.
class ReceiveThreadTest : public ReceiverTest {
protected:
    ReceiveThreadTest() : ReceiverTest(4, 3) {
        int error = 0;
        socket = platform::OpenUdpSocket(0, error);
    }
    ~ReceiveThreadTest() override {
        receiver.RequestStop();
        receiver.Join();
        platform::CloseSocket(socket);
    }
    void Send(const std::string& text) {
        PacketBuffer packet;
        BuildText(packet, text);
        ASSERT_TRUE(
            peer.SendTo(platform::BoundPort(socket), packet, kTextOffset + text.size() + 1));
    }

    platform::SocketHandle socket = platform::kInvalidSocket;
    TestPeer peer;
};

// A full queue stops the reading: what does not fit waits in the system, and
// nothing is lost once the user-interface thread catches up.
TEST_F(ReceiveThreadTest, AFullQueueStopsTheReaderWithoutLoss) {
    Texts sent;
    for (int i = 0; i < 10; ++i) {
        sent.push_back("127.0.0.1 text " + std::to_string(i));
        Send(std::to_string(i));
    }
    size_t mostWaiting = 0;
    onDispatch = [&](const Arrival&) { mostWaiting = std::max(mostWaiting, handOver.Size()); };
    ASSERT_TRUE(receiver.Start(socket));
    ASSERT_TRUE(WaitUntil([&] { return handOver.FullWaits() == 1; }));
    EXPECT_EQ(handOver.Size(), 4u);
    EXPECT_TRUE(testsock::WaitReadable(socket, 0ms));

    ASSERT_TRUE(PumpUntilDispatched(sent.size()));
    EXPECT_EQ(dispatched, sent);
    EXPECT_LE(mostWaiting, 4u);
}

// A stop ends the thread wherever it waits: in the socket or for room.
TEST_F(ReceiveThreadTest, AStopWakesTheReceiverWhereverItWaits) {
    ASSERT_TRUE(receiver.Start(socket));
    Send("a");
    ASSERT_TRUE(PumpUntilDispatched(1));
    // Back in the socket, with nothing to read.
    receiver.RequestStop();
    receiver.Join();
    EXPECT_FALSE(receiver.Start(socket));
}

TEST_F(ReceiveThreadTest, AStopWakesAReceiverThatWaitsForRoom) {
    for (int i = 0; i < 6; ++i) {
        Send(std::to_string(i));
    }
    ASSERT_TRUE(receiver.Start(socket));
    ASSERT_TRUE(WaitUntil([&] { return handOver.FullWaits() == 1; }));
    receiver.RequestStop();
    receiver.Join();
    // Nothing is dispatched after the stop.
    poster.Drain();
    EXPECT_TRUE(dispatched.empty());
}

}  // namespace
