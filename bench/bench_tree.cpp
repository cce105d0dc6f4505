// bench/bench_tree.cpp
// The tree of users under announcements, through the real dispatcher and the
// real tree, shown on the offscreen platform. The event loop runs after each
// drain of datagrams, as in the program, so the tree's layout and painting
// are counted.
#include <benchmark/benchmark.h>

#include <QAccessible>
#include <QApplication>
#include <QTreeWidgetItem>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>

#include "BenchFakes.h"
#include "core/base/Clock.h"
#include "core/net/Packet.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerScreen.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"
#include "widgets/peers/Mrmx3View.h"

namespace {

using bench::PeerScreenRig;

// 10.0.0.0 onwards, in host order.
uint32_t AddressOf(int i) {
    return 0x0A000000u + static_cast<uint32_t>(i);
}

// The datagrams one drain dispatches before the event loop runs again.
constexpr int kDrain = 256;
constexpr int kTimedDrains = 8;
constexpr int kWarmUpDrains = 8;

// The dispatcher driving the real tree, which is on the (offscreen) screen.
struct TreeNetwork : PeerScreenRig {
    TreeNetwork() : PeerScreenRig(view) {
        settings.Modify([](SettingsRecord& s) { s.soundFolder = "Standard"; });
        view.LoadIcons();
        view.resize(300, 600);
        view.show();
        QApplication::processEvents();
    }
    void Announce(int peer, const std::string& group, int16_t status = Ready) {
        PacketBuffer packet;
        BuildPresence(packet, status, "uzivatel" + std::to_string(peer),
                      "POCITAC-" + std::to_string(peer), group);
        dispatcher.DispatchDatagram(packet.data(), kPresenceLength, AddressOf(peer));
    }
    QTreeWidgetItem* GroupItem(const std::string& group) {
        return static_cast<QTreeWidgetItem*>(view.FindOrAddGroupItem(group));
    }

    CMrmx3View view{CMrmx3View::Services{
        .state = settings, .presenter = presenter, .openConversation = [](int) {}}};
};

std::string GroupName(int i) {
    return "Skupina " + std::to_string(i);
}

// One peer that announces a new group in every datagram, beside 100 peers in
// 10 groups. Once the peer has changed its group range(0) times, the next
// kTimedDrains drains of its announcements are timed, each with the event
// loop's pass after it; the time is per datagram.
void BM_GroupChangePerDatagram(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const int changes = static_cast<int>(state.range(0));
    constexpr int kOthers = 100;
    constexpr int kHostile = kOthers;
    // The others arrive and change their status, drain after drain, before
    // the group changes: what a new tree costs in its first passes is not
    // counted.
    const auto populate = [](TreeNetwork& network) {
        for (int drain = 0; drain < kWarmUpDrains; ++drain) {
            for (int i = 0; i < kDrain; ++i) {
                const int peer = (drain * kDrain + i) % kOthers;
                network.Announce(peer, GroupName(peer % 10), i % 2 == 0 ? Away : Ready);
            }
            QApplication::processEvents();
        }
    };
    int groups = 0;
    for (auto _ : state) {
        TreeNetwork network;
        populate(network);
        int change = 0;
        const auto drain = [&](int count) {
            for (int i = 0; i < count; ++i) {
                network.Announce(kHostile, "Zmena " + std::to_string(change++));
            }
            QApplication::processEvents();
        };
        while (change < changes) {
            drain(std::min(kDrain, changes - change));
        }
        const auto start = Clock::now();
        for (int i = 0; i < kTimedDrains; ++i) {
            drain(kDrain);
        }
        const auto end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count() /
                               (kTimedDrains * kDrain));
        groups = network.view.topLevelItemCount();
    }
    state.counters["groups"] = groups;
}
BENCHMARK(BM_GroupChangePerDatagram)
    ->Arg(100)
    ->Arg(20'000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(10);

// The processor time of this thread, so that an idle wait does not count.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The peer items under the groups of the tree.
int PeerRows(const CMrmx3View& view) {
    int rows = 0;
    for (int i = 0; i < view.topLevelItemCount(); ++i) {
        rows += view.topLevelItem(i)->childCount();
    }
    return rows;
}

// A tree of range(0) peers in 50 groups, all open, shown; then half as many
// new peers arrive in those groups, in drains of kDrain announcements, each
// drain a batch of the tree followed by the event loop's pass, until every
// new item is in the tree and laid out. The time is the processor time per
// new peer (an idle wait is not counted).
void BM_NewPeerItem(benchmark::State& state) {
    constexpr int kGroups = 50;
    const int peers = static_cast<int>(state.range(0));
    const int added = std::max(kDrain, peers / 2 / kDrain * kDrain);
    int rows = 0;
    for (auto _ : state) {
        TreeNetwork network;
        const auto drain = [&network](int from, int to) {
            network.view.BeginBatch();
            for (int i = from; i < to; ++i) {
                network.Announce(i, GroupName(i % kGroups));
            }
            network.view.EndBatch();
            QApplication::processEvents();
        };
        const auto settle = [&network](int count) {
            while (PeerRows(network.view) < count) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            QApplication::processEvents();
        };
        for (int peer = 0; peer < peers; peer += kDrain) {
            drain(peer, std::min(peers, peer + kDrain));
        }
        settle(peers);
        const double start = ThreadSeconds();
        for (int peer = peers; peer < peers + added; peer += kDrain) {
            drain(peer, peer + kDrain);
        }
        settle(peers + added);
        state.SetIterationTime((ThreadSeconds() - start) / added);
        rows = network.view.topLevelItemCount() + PeerRows(network.view);
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_NewPeerItem)
    ->Arg(1'000)
    ->Arg(5'000)
    ->Arg(20'000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(4);

// A click on a group with 25,000 groups of one peer each, all of them open as
// their arrivals left them: the chosen group opens, the event loop runs.
void BM_GroupClick25000(benchmark::State& state) {
    constexpr int kGroups = 25'000;
    TreeNetwork network;
    for (int peer = 0; peer < kGroups; ++peer) {
        network.Announce(peer, GroupName(peer));
    }
    QApplication::processEvents();
    if (network.view.topLevelItemCount() != kGroups) {
        state.SkipWithError("groups were not created");
        return;
    }
    int next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        network.view.expandAll();
        QApplication::processEvents();
        QTreeWidgetItem* group = network.GroupItem(GroupName(next * 997 % kGroups));
        next += 1;
        state.ResumeTiming();
        network.view.setCurrentItem(group);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_GroupClick25000)->Unit(benchmark::kMillisecond)->Iterations(10);

// What an accessibility client has seen of the tree while names change.
enum class Reader { None, Active, Walked };

// Accessibility is made active by the platform's bridge when an accessibility
// bus is there (bench/with_accessibility_bus.sh); the bridge answers its bus
// asynchronously.
bool AccessibilityActive() {
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!QAccessible::isActive() && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return QAccessible::isActive();
}

// The most peers the directory takes, in 1,000 groups, then a flood of name
// changes over 100 of them, a drain of 256 at a time with the event loop's
// pass after it; the time is per change. range(0): no accessibility (run
// offscreen), accessibility active (run under bench/with_accessibility_bus.sh),
// or active with a client that has asked for every row of the tree once.
void BM_NameChangePerDatagram(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    constexpr int kPeers = 65'536;
    constexpr int kGroups = 1'000;
    constexpr int kRenamed = 100;
    const auto reader = static_cast<Reader>(state.range(0));
    if (AccessibilityActive() != (reader != Reader::None)) {
        state.SkipWithError(reader == Reader::None ? "accessibility is active: run offscreen"
                                                   : "accessibility is not active: run under "
                                                     "bench/with_accessibility_bus.sh");
        return;
    }
    TreeNetwork network;
    for (int peer = 0; peer < kPeers; ++peer) {
        network.Announce(peer, GroupName(peer % kGroups));
        if (peer % kDrain == 0) {
            QApplication::processEvents();
        }
    }
    QApplication::processEvents();
    int walked = 0;
    if (reader == Reader::Walked) {
        QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(&network.view);
        const int rows = tree->childCount();
        for (int i = 0; i < rows; ++i) {
            if (QAccessibleInterface* row = tree->child(i);
                row && !row->text(QAccessible::Name).isEmpty()) {
                ++walked;
            }
        }
    }
    int serial = 0;
    const auto rename = [&network, &serial](int peer) {
        PacketBuffer packet;
        BuildPresence(packet, Ready, "jmeno" + std::to_string(serial++),
                      "POCITAC-" + std::to_string(peer), GroupName(peer % kGroups));
        network.dispatcher.DispatchDatagram(packet.data(), kPresenceLength, AddressOf(peer));
    };
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int i = 0; i < kDrain; ++i) {
            rename(serial % kRenamed);
        }
        QApplication::processEvents();
        const auto end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count() / kDrain);
    }
    state.counters["rows"] = network.view.topLevelItemCount() + kPeers;
    state.counters["walked"] = walked;
}
BENCHMARK(BM_NameChangePerDatagram)
    ->Arg(static_cast<int>(Reader::None))
    ->Arg(static_cast<int>(Reader::Active))
    ->Arg(static_cast<int>(Reader::Walked))
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(4);

}  // namespace
