// tests/core/PeerNetworkTest.cpp
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Fakes.h"
#include "PeerFakes.h"
#include "TestPeer.h"
#include "core/net/Packet.h"
#include "core/peers/PeerNetwork.h"
#include "core/res/Strings.h"
#include "platform/Socket.h"
#include "support/DirectoryLock.h"

namespace {

using namespace std::chrono_literals;

// Pauses of the worker threads hold until their stop; the owner's own pause
// (the goodbye pause, which cannot be stopped) returns at once. All are logged.
class HoldingWait final : public StopWait {
public:
    explicit HoldingWait(std::vector<std::string>& journal) : m_journal(journal) {}
    bool Pause(StopSignal* stop, std::chrono::milliseconds duration) override {
        if (stop == nullptr) {
            std::lock_guard lock(m_mutex);
            m_journal.push_back("pause " + std::to_string(duration.count()));
            return true;
        }
        stop->Wait();
        return false;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string>& m_journal;
};

// Whether another thread could take the directory lock now.
bool LockFree(const PeerDirectory& directory) {
    bool taken = false;
    std::thread([&] {
        taken = LockOf(directory).try_lock();
        if (taken) {
            LockOf(directory).unlock();
        }
    }).join();
    return taken;
}

class PeerNetworkTest : public ::testing::Test {
protected:
    PeerNetworkTest() {
        m_state.Modify([](SettingsRecord& s) {
            s.userName = "jana";
            s.groupName = "Sklad";
            s.onNewUserMessage = true;
            // The test's other copy sends from 127.0.0.1, one of our own addresses.
            s.showMySelf = true;
        });
        m_state.SetHostComputerName("PC7");
    }
    ~PeerNetworkTest() override { m_network.reset(); }

    PeerNetwork& Make() {
        CPeerSocket::Options options;
        options.port = 0;
        options.broadcastAddress = "127.0.0.1";
        options.destinationPort = m_peer.Port();
        m_network = std::make_unique<PeerNetwork>(ServicesWith(m_presenter, [this] { ++m_saves; }),
                                                  options);
        return *m_network;
    }
    PeerNetwork::Services ServicesWith(MessagePresenter& presenter, std::function<void()> save) {
        return {.state = m_state,
                .presenter = presenter,
                .poster = m_poster,
                .tree = m_tree,
                .notifications = m_sink,
                .sounds = m_sounds,
                .conversations = m_factory,
                .clock = m_clock,
                .wait = m_wait,
                .saveSettings = std::move(save)};
    }
    // Runs what is posted to the user-interface thread until the condition
    // holds; false when it still does not after a few seconds.
    bool PumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!done()) {
            if (!m_poster.WaitForTask(deadline)) {
                return false;
            }
            m_poster.Drain();
        }
        return true;
    }
    // A presence from the other copy, received and dispatched (a new peer's
    // record starts Ready).
    void Announce(PeerNetwork& network, int16_t status, const std::string& user) {
        PacketBuffer packet;
        BuildPresence(packet, status, user, "PC2", "Sklad");
        ASSERT_TRUE(m_other.SendTo(network.Endpoint().BoundPort(), packet,
                                   static_cast<size_t>(PacketLength(packet, m_presenter))));
        ASSERT_TRUE(PumpUntil([&] {
            std::lock_guard lock(LockOf(network.Directory()));
            return network.Directory().PeerCount() > 0 &&
                   network.Directory().PeerAt(0).status == status &&
                   network.Directory().PeerAt(0).name == user + "@PC2";
        }));
    }

    std::vector<std::string> m_journal;
    FakeClock m_clock;
    AppState m_state;
    RecordingPresenter m_presenter;
    QueuePoster m_poster;
    FakeTree m_tree;
    RecordingSink m_sink;
    RecordingPlayer m_player;
    SoundEvents m_sounds{m_state, m_clock, m_player};
    FakeConversationFactory m_factory{m_state};
    HoldingWait m_wait{m_journal};
    TestPeer m_peer;   // hears what the network sends
    TestPeer m_other;  // another copy that sends to it
    int m_saves = 0;
    std::unique_ptr<PeerNetwork> m_network;
};

TEST_F(PeerNetworkTest, StartAnnouncesAtOnceAndShutdownSaysGoodbyeBeforeStopping) {
    PeerNetwork& network = Make();
    ASSERT_TRUE(network.Start());
    EXPECT_TRUE(network.ThreadsRunning());

    const auto first = m_peer.Receive();
    ASSERT_TRUE(first.has_value());
    ASSERT_EQ(first->size(), kPresenceLength);
    DatagramView hello{first->data(), first->size()};
    EXPECT_EQ(hello.PresenceStatus(), Ready);
    EXPECT_EQ(hello.PresenceName(), "jana@PC7");
    EXPECT_EQ(hello.PresenceGroup(), "Sklad");

    // Two peers with windows, opened in reverse order.
    Announce(network, Ready, "a");
    PacketBuffer packet;
    BuildPresence(packet, Ready, "b", "PC3", "Sklad");
    network.Dispatch().DispatchDatagram(packet.data(), kPresenceLength, Ip("10.0.0.2"));
    ASSERT_EQ(network.Directory().PeerCount(), 2);
    network.OpenConversation(1);
    network.OpenConversation(0);
    m_factory.journal.clear();

    network.Shutdown();
    const auto goodbye = m_peer.Receive();
    ASSERT_TRUE(goodbye.has_value());
    DatagramView bye{goodbye->data(), goodbye->size()};
    EXPECT_EQ(bye.PresenceStatus(), Disconnected);
    EXPECT_EQ(m_state.OwnStatus(), Disconnected);
    EXPECT_EQ(m_journal, (std::vector<std::string>{"pause 333"}));
    EXPECT_FALSE(network.ThreadsRunning());
    EXPECT_FALSE(network.Endpoint().IsOpen());
    EXPECT_TRUE(network.StopRequested());
    // Windows go in index order, each clearing its record's link.
    EXPECT_EQ(m_factory.journal,
              (std::vector<std::string>{"window 0 destroyed", "window 1 destroyed"}));
    EXPECT_EQ(network.Directory().PeerAt(0).window, nullptr);
    EXPECT_EQ(network.Directory().PeerAt(1).window, nullptr);
    // Nothing more leaves after the goodbye.
    EXPECT_FALSE(m_peer.Receive(200ms).has_value());
    EXPECT_TRUE(m_presenter.Shown().empty());

    network.Shutdown();  // a second call does nothing
    EXPECT_EQ(m_journal.size(), 1u);
}

// Stop() may run while a window waits in a box: goodbye and threads, but the
// windows stay until Shutdown(). Nothing starts again after it.
TEST_F(PeerNetworkTest, StopKeepsTheWindowsAndNothingStartsAfterIt) {
    PeerNetwork& network = Make();
    ASSERT_TRUE(network.Start());
    Announce(network, Ready, "eva");
    network.OpenConversation(0);
    m_factory.journal.clear();

    network.Stop();
    EXPECT_EQ(m_journal, (std::vector<std::string>{"pause 333"}));
    EXPECT_EQ(m_state.OwnStatus(), Disconnected);
    EXPECT_FALSE(network.ThreadsRunning());
    EXPECT_FALSE(network.Endpoint().IsOpen());
    EXPECT_TRUE(m_factory.journal.empty());
    EXPECT_EQ(network.Directory().PeerAt(0).window, m_factory.created.at(0));

    EXPECT_FALSE(network.Start());
    EXPECT_FALSE(network.ThreadsRunning());
    EXPECT_FALSE(network.Endpoint().IsOpen());
    EXPECT_TRUE(m_presenter.Shown().empty());

    network.Shutdown();
    EXPECT_EQ(m_factory.journal, (std::vector<std::string>{"window 0 destroyed"}));
    EXPECT_EQ(m_journal.size(), 1u);
}

TEST_F(PeerNetworkTest, ASecondCopyOnTheSamePortReportsCreateAndRunsWithoutThreads) {
    PeerNetwork& network = Make();
    ASSERT_TRUE(network.Start());
    CPeerSocket::Options options;
    options.port = network.Endpoint().BoundPort();
    RecordingPresenter presenter;
    PeerNetwork second{ServicesWith(presenter, [] {}), options};
    EXPECT_FALSE(second.Start());
    EXPECT_FALSE(second.ThreadsRunning());
    const auto shown = presenter.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Error");
    EXPECT_EQ(shown[0].text.rfind("Create errorcode: ", 0), 0u) << shown[0].text;
    EXPECT_NE(shown[0].text.find("\r\n"), std::string::npos);
    second.Shutdown();  // no goodbye, no waiting for threads that never ran
    EXPECT_TRUE(m_journal.empty());
}

TEST_F(PeerNetworkTest, ReceivedDatagramsAreDispatchedAndAFloodOfBadOnesRaisesOneBox) {
    PeerNetwork& network = Make();
    ASSERT_TRUE(network.Start());
    Announce(network, Ready, "eva");
    ASSERT_EQ(network.Directory().PeerCount(), 1);
    // The other copy sends from 127.0.0.1: this computer, whose datagrams all
    // count as from one of its addresses.
    const std::optional<uint32_t> own = network.Endpoint().OwnSender(Ip("127.0.0.1"));
    ASSERT_TRUE(own.has_value());
    EXPECT_EQ(network.Directory().PeerAt(0).address, platform::FormatDottedAddress(*own));
    EXPECT_EQ(network.Directory().PeerAt(0).name, "eva@PC2");

    // Oversized datagrams and unknown kinds, many at once: one box, the rest
    // counted.
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(
            m_other.SendRaw(network.Endpoint().BoundPort(), std::vector<uint8_t>(600, 0x41)));
        ASSERT_TRUE(m_other.SendRaw(network.Endpoint().BoundPort(), {5, 0, 1, 0}));
    }
    ASSERT_TRUE(PumpUntil([&] { return network.NetworkAlerts().DroppedCount() == 39; }));
    const auto shown = m_presenter.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text.rfind("ReceiveFrom errorcode: ", 0), 0u) << shown[0].text;

    // After shutdown nothing waiting is dispatched and no failure is shown.
    m_clock.Advance(AlertGate::kQuietSeconds);
    ASSERT_TRUE(m_other.SendRaw(network.Endpoint().BoundPort(), std::vector<uint8_t>(600, 0x41)));
    network.Shutdown();
    m_poster.Drain();
    EXPECT_EQ(m_presenter.Shown().size(), 1u);
}

// A box opens only after the dispatch that raised it has finished: its event
// loop never runs in the middle of one. Here the icon of an unknown status
// raises "View 4" before the status change is notified.
TEST_F(PeerNetworkTest, ANetworkBoxOpensAfterTheDispatchThatRaisedIt) {
    PeerNetwork& network = Make();
    ASSERT_TRUE(network.Start());
    Announce(network, Ready, "eva");
    m_sink.shown.clear();
    std::vector<std::string> atBox;
    m_presenter.OnShow([&] {
        atBox = m_sink.Texts();
        // The box's event loop runs what is posted meanwhile.
        m_poster.Drain();
    });
    m_clock.Advance(3);
    PacketBuffer packet;
    BuildPresence(packet, 9, "eva", "PC2", "Sklad");
    ASSERT_TRUE(m_other.SendTo(network.Endpoint().BoundPort(), packet, kPresenceLength));
    ASSERT_TRUE(PumpUntil([&] { return !m_presenter.Shown().empty(); }));
    m_presenter.OnShow(nullptr);
    EXPECT_EQ(m_presenter.Texts().at(0), res::String(res::kStrTraceCodePrefix) + "View 4, val 9");
    EXPECT_EQ(atBox, (std::vector<std::string>{"eva@PC2 je ve stavu : "}));
}

// What the watcher hands over for a peer it marked.
PeerEvent SilentEvent(PeerNetwork& network, int index) {
    return PeerEvent{.kind = PeerEventKind::WentSilent,
                     .index = index,
                     .peer = network.Directory().Facts(index)};
}

TEST_F(PeerNetworkTest, ASilentPeerIsToldOnTheUiThreadUnlessItCameBack) {
    PeerNetwork& network = Make();
    ASSERT_TRUE(network.Start());
    Announce(network, Ready, "eva");
    network.OpenConversation(0);
    auto* window = m_factory.created.at(0);
    m_sink.shown.clear();

    {
        std::lock_guard lock(LockOf(network.Directory()));
        network.Directory().PeerAt(0).status = Disconnected;
    }
    // The balloon (a box without a tray) comes last, with the lock free.
    std::string atBalloon;
    m_sink.onShow = [&](const Notification&) {
        atBalloon = std::to_string(FakeTree::At(network.Directory().PeerAt(0).treeItem).image) +
                    (window->sendingEnabled ? " enabled" : " disabled") +
                    (LockFree(network.Directory()) ? " free" : " held");
    };
    network.TellPeersSilent({SilentEvent(network, 0)});
    m_sink.onShow = nullptr;
    EXPECT_EQ(atBalloon, "4 disabled free");
    EXPECT_EQ(m_sink.Texts(), (std::vector<std::string>{"eva@PC2 je ve stavu : Odpojen"}));
    EXPECT_EQ(network.Notifier().LastNotifiedPeer(), 0);
    EXPECT_FALSE(window->sendingEnabled);
    EXPECT_EQ(network.Directory().PeerAt(0).history.back().text,
              res::String(res::kStrPeerDisconnectedNotice));
    EXPECT_EQ(FakeTree::At(network.Directory().PeerAt(0).treeItem).image, Disconnected);

    // Revived before the posted step ran: nothing is told.
    m_clock.Advance(5);
    Announce(network, Ready, "eva");
    m_sink.shown.clear();
    network.TellPeersSilent({SilentEvent(network, 0)});
    EXPECT_TRUE(m_sink.Texts().empty());
    network.TellPeersSilent(
        {PeerEvent{.kind = PeerEventKind::WentSilent, .index = 99}});  // out of range: nothing
}

TEST_F(PeerNetworkTest, OpenConversationCreatesOnceShowsAndChecksTheIndex) {
    PeerNetwork& network = Make();
    ASSERT_TRUE(network.Start());
    Announce(network, Ready, "eva");
    {
        std::lock_guard lock(LockOf(network.Directory()));
        network.Directory().PeerAt(0).status = Disconnected;
        network.Directory().PeerAt(0).AppendIncoming("eva@PC2", "ahoj");
    }

    m_factory.refuse = true;
    bool freeAtBox = false;
    m_presenter.OnShow([&] { freeAtBox = LockFree(network.Directory()); });
    network.OpenConversation(0);
    ASSERT_EQ(m_presenter.Texts(), (std::vector<std::string>{"Error creating Dialog"}));
    m_presenter.OnShow(nullptr);
    EXPECT_TRUE(freeAtBox);
    EXPECT_EQ(network.Directory().PeerAt(0).window, nullptr);

    m_factory.refuse = false;
    network.OpenConversation(0);
    ASSERT_EQ(m_factory.created.size(), 1u);
    FakeConversation* window = m_factory.created[0];
    EXPECT_EQ(network.Directory().PeerAt(0).window, window);
    EXPECT_FALSE(network.Directory().PeerAt(0).windowHidden);
    EXPECT_TRUE(window->shown);
    EXPECT_EQ(window->caption, "eva@PC2");
    EXPECT_FALSE(window->sendingEnabled);
    EXPECT_EQ(window->loggedLines, 1u);  // no disconnection line was added

    window->SetCaption("eva@PC2 - píše zprávu.");
    network.Directory().PeerAt(0).windowHidden = true;
    network.OpenConversation(0);
    EXPECT_EQ(m_factory.created.size(), 1u);
    EXPECT_EQ(window->caption, "eva@PC2");
    EXPECT_FALSE(network.Directory().PeerAt(0).windowHidden);

    const int refreshes = window->refreshes;
    network.OpenConversation(1);
    network.OpenConversation(-1);
    {
        std::lock_guard lock(LockOf(network.Directory()));
        // A notification index from an earlier run of events, now out of range.
        m_sink.shown.clear();
    }
    network.Notifier().NotifyPeerEvent({.peer = 42, .text = "x"});
    network.OpenNotifiedConversation();
    EXPECT_EQ(m_factory.created.size(), 1u);
    EXPECT_EQ(window->refreshes, refreshes);
}

}  // namespace

namespace {

// A network on loopback with the test's wait, and its send and interfaces
// where a test gives them.
struct LoopbackNetwork {
    explicit LoopbackNetwork(StopWait& wait, CPeerSocket::SendFunction send = {},
                             std::function<void()> reachChanged = {},
                             CPeerSocket::InterfaceSource interfaces = {}) {
        CPeerSocket::Options options;
        options.port = 0;
        options.broadcastAddress = "127.0.0.1";
        options.destinationPort = listener.Port();
        options.send = std::move(send);
        if (interfaces) {
            options.interfaces = std::move(interfaces);
        }
        network = std::make_unique<PeerNetwork>(
            PeerNetwork::Services{.state = state,
                                  .presenter = presenter,
                                  .poster = poster,
                                  .tree = tree,
                                  .notifications = sink,
                                  .sounds = sounds,
                                  .conversations = factory,
                                  .clock = clock,
                                  .wait = wait,
                                  .reachChanged = std::move(reachChanged)},
            options);
    }

    FakeClock clock;
    AppState state;
    RecordingPresenter presenter;
    QueuePoster poster;
    FakeTree tree;
    RecordingSink sink;
    RecordingPlayer player;
    SoundEvents sounds{state, clock, player};
    FakeConversationFactory factory{state};
    TestPeer listener;
    std::unique_ptr<PeerNetwork> network;
};

// Real but very short pauses: the workers spin through their loops while the
// user-interface thread dispatches, so the sanitizers see every overlap.
class ShortWait final : public StopWait {
public:
    bool Pause(StopSignal* stop, std::chrono::milliseconds) override {
        if (stop != nullptr && stop->StopRequested()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return stop == nullptr || !stop->StopRequested();
    }
};

// The histories share one budget: another peer's long lines remove the oldest
// of an open conversation, whose window is then redrawn without them.
TEST_F(PeerNetworkTest, AnOpenWindowIsRedrawnWhenAnotherPeersLinesTrimItsHistory) {
    PeerNetwork& network = Make();
    PeerDirectory& directory = network.Directory();
    directory.AddPeer(nullptr, "eva@PC2", "Sklad", "10.0.0.2", Ready);
    directory.AddPeer(nullptr, "jan@PC3", "Sklad", "10.0.0.3", Ready);
    directory.PeerAt(0).AppendIncoming("eva@PC2", "ahoj");
    network.OpenConversation(0);
    ASSERT_EQ(m_factory.created.size(), 1u);
    FakeConversation& window = *m_factory.created[0];
    ASSERT_EQ(window.loggedLines, 1u);

    const std::string half(PeerDirectory::kHistoryBudgetBytes / 2, 'x');
    {
        std::lock_guard lock(LockOf(directory));
        directory.PeerAt(1).AppendIncoming("jan@PC3", half);
        directory.PeerAt(1).AppendIncoming("jan@PC3", half);
    }
    ASSERT_TRUE(PumpUntil([&] { return window.loggedLines == 0; }));
    EXPECT_TRUE(directory.PeerAt(0).history.OlderRemoved());
}

TEST(PeerNetworkRace, DispatchTheWatcherAndShutdownOverlapSafely) {
    ShortWait wait;
    // No address is this computer's: the other copy on 127.0.0.1 is a peer
    // like any, whose unchanged announcements the receive thread settles.
    LoopbackNetwork rig(wait, {}, {}, [] { return std::vector<platform::InterfaceAddress>{}; });
    rig.state.Modify([](SettingsRecord& s) { s.aboutMePeriod = 1; });
    FakeClock& clock = rig.clock;
    QueuePoster& poster = rig.poster;
    PeerNetwork& network = *rig.network;
    ASSERT_TRUE(network.Start());

    TestPeer other;
    constexpr int kPeers = 60;
    for (int round = 0; round < 40; ++round) {
        for (int i = 0; i < kPeers; ++i) {
            PacketBuffer packet;
            BuildPresence(packet, static_cast<int16_t>(round % 4), "u" + std::to_string(i), "PC",
                          "g" + std::to_string(i % 3));
            network.Dispatch().DispatchDatagram(packet.data(), kPresenceLength,
                                                Ip("10.9.0." + std::to_string(i)));
        }
        // Through the socket: mostly unchanged, now and then a new status.
        for (int k = 0; k < 30; ++k) {
            PacketBuffer packet;
            BuildPresence(packet, static_cast<int16_t>((round / 5) % 4), "other", "PC", "g0");
            ASSERT_TRUE(other.SendTo(network.Endpoint().BoundPort(), packet, kPresenceLength));
        }
        if (round % 3 == 0) {
            network.OpenConversation(round % kPeers);
        }
        // Every other round the peers fall silent and the watcher marks them.
        clock.Advance(round % 2 == 0 ? 31 : 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        poster.Drain();
    }
    network.Shutdown();
    poster.Drain();

    ASSERT_GE(network.Directory().PeerCount(), kPeers);
    for (int i = 0; i < network.Directory().PeerCount(); ++i) {
        const PeerRecord& record = network.Directory().PeerAt(i);
        EXPECT_GE(record.status, Ready);
        EXPECT_LE(record.status, Disconnected);
        EXPECT_EQ(FakeTree::At(record.treeItem).data, static_cast<uint32_t>(i));
    }
    EXPECT_FALSE(network.ThreadsRunning());
}

}  // namespace

namespace {

// The announcer's waits as the network runs them: each is written down and
// then held until a wake-up, which it counts as 3 s passed, or the stop. The
// watcher's pauses hold until the stop; the goodbye's pause returns at once.
class WakeableWait final : public StopWait {
public:
    bool Pause(StopSignal* stop, std::chrono::milliseconds) override {
        if (stop == nullptr) {
            return true;
        }
        stop->Wait();
        return false;
    }
    std::optional<std::chrono::milliseconds> PauseUnlessWoken(
        StopSignal& stop, std::chrono::milliseconds duration) override {
        {
            std::lock_guard lock(m_mutex);
            m_pauses.push_back(duration);
        }
        m_changed.notify_all();
        if (stop.WaitForOrWake(std::chrono::hours(1)) != StopSignal::WaitEnd::Woken) {
            return std::nullopt;
        }
        return std::min(duration, std::chrono::milliseconds(3000));
    }
    std::vector<std::chrono::milliseconds> PausesOnceThereAre(size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_pauses.size() >= count; });
        return m_pauses;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::chrono::milliseconds> m_pauses;
};

// A new "AboutMePeriod" wakes the announcer, which then waits only what is
// left of the new period since its last announcement.
TEST(PeerNetworkThreads, ANewPeriodWakesTheAnnouncerWhichWaitsOnlyTheRest) {
    using namespace std::chrono_literals;
    WakeableWait wait;
    LoopbackNetwork idle{wait};
    ASSERT_TRUE(idle.network->Start());
    EXPECT_TRUE(idle.listener.Receive().has_value());
    EXPECT_EQ(wait.PausesOnceThereAre(1), (std::vector<std::chrono::milliseconds>{5000ms}));

    idle.state.Modify([](SettingsRecord& s) { s.aboutMePeriod = 8; });
    EXPECT_EQ(wait.PausesOnceThereAre(2), (std::vector<std::chrono::milliseconds>{5000ms, 5000ms}));
    // Shorter than what has passed (3 s more): the next announcement at once.
    idle.state.Modify([](SettingsRecord& s) { s.aboutMePeriod = 2; });
    EXPECT_EQ(wait.PausesOnceThereAre(3),
              (std::vector<std::chrono::milliseconds>{5000ms, 5000ms, 2000ms}));
    EXPECT_TRUE(idle.listener.Receive().has_value());
    idle.network->Shutdown();
    EXPECT_TRUE(idle.presenter.Shown().empty());
}

// Whoever shows the network's reach hears when it changes, from the
// announcer's thread: after the third announcement that did not leave, and
// after the first that did again.
TEST(PeerNetworkThreads, TheOwnerHearsWhenTheNetworksReachChanges) {
    // Announces without a pause until the stop.
    class NoWait final : public StopWait {
    public:
        bool Pause(StopSignal* stop, std::chrono::milliseconds) override {
            return stop == nullptr || !stop->StopRequested();
        }
    } wait;
    std::atomic<int> failure{testsock::kNetworkUnreachable};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> reach;  // NetworkUnreachable() at each report
    LoopbackNetwork* running = nullptr;
    LoopbackNetwork idle{
        wait,
        [&](platform::SocketHandle socket, uint32_t address, uint16_t port, const void* data,
            size_t size) {
            const int code = failure.load();
            return code != 0 ? code : platform::SendDatagram(socket, address, port, data, size);
        },
        [&] {
            std::lock_guard lock(mutex);
            reach.push_back(running->network->NetworkUnreachable());
            changed.notify_all();
        }};
    running = &idle;
    const auto reports = [&](size_t count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return reach.size() >= count; });
        return reach;
    };
    ASSERT_TRUE(idle.network->Start());
    EXPECT_EQ(reports(1), (std::vector<bool>{true}));
    failure = 0;
    EXPECT_EQ(reports(2), (std::vector<bool>{true, false}));
    idle.network->Shutdown();
    EXPECT_EQ(reports(2).size(), 2u);
    EXPECT_TRUE(idle.presenter.Shown().empty());
}

}  // namespace
