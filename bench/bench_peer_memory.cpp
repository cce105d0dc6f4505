// bench/bench_peer_memory.cpp
// The heap a peer costs, by part: its record in the directory (the record,
// its history, its strings, the directory's index and links), its item in the
// tree, and the accessible object of its row. Each part is the growth of the
// heap in use (glibc's mallinfo2) while 10,000 peers arrive, divided by
// 10,000; the counters are bytes per peer. The time is of no interest.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QAccessible>
#include <QApplication>
#include <QTreeWidgetItem>
#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

#include "BenchFakes.h"
#include "core/base/Clock.h"
#include "core/net/Packet.h"
#include "core/peers/History.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerScreen.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"
#include "widgets/peers/Mrmx3View.h"

namespace {

using bench::NullTree;
using bench::PeerScreenRig;
using bench::SilentPresenter;

constexpr int kPeers = 10'000;
constexpr int kGroups = 50;

// The bytes the heap holds in use, mapped blocks included.
double HeapInUse() {
    malloc_trim(0);
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// The dispatcher adding peers into a directory and a tree of either kind.
struct Peers : PeerScreenRig {
    explicit Peers(PeerTree& tree) : PeerScreenRig(tree) {}

    // Peers `from` to `to` - 1 announce themselves, as in a drain at a time.
    void Arrive(int from, int to, PeerTree* batched = nullptr) {
        if (batched != nullptr) {
            batched->BeginBatch();
        }
        for (int peer = from; peer < to; ++peer) {
            PacketBuffer packet;
            BuildPresence(packet, Ready, "uzivatel" + std::to_string(peer),
                          "POCITAC-" + std::to_string(peer),
                          "Skupina " + std::to_string(peer % kGroups));
            dispatcher.DispatchDatagram(packet.data(), kPresenceLength,
                                        0x0A000000u + static_cast<uint32_t>(peer));
        }
        if (batched != nullptr) {
            batched->EndBatch();
        }
    }
};

// The directory's part: records, histories, strings, index and links, with a
// tree that keeps nothing.
void BM_PeerMemoryDirectory(benchmark::State& state) {
    double perPeer = 0;
    double history = 0;
    double strings = 0;
    double byAddress = 0;
    for (auto _ : state) {
        NullTree tree;
        Peers peers(tree);
        peers.Arrive(0, 1);
        const double before = HeapInUse();
        peers.Arrive(1, kPeers + 1);
        perPeer = (HeapInUse() - before) / kPeers;

        // Histories alone, as empty as a new peer's.
        const double start = HeapInUse();
        {
            std::deque<History> histories;
            for (int i = 0; i < kPeers; ++i) {
                histories.emplace_back();
            }
            history = (HeapInUse() - start) / kPeers;
        }
        // The name's heap block (the group and the dotted address fit in the
        // strings themselves).
        double mark = HeapInUse();
        {
            std::deque<std::string> names;
            for (int i = 0; i < kPeers; ++i) {
                names.push_back("uzivatel" + std::to_string(i) + "@POCITAC-" + std::to_string(i));
            }
            strings = (HeapInUse() - mark) / kPeers - static_cast<double>(sizeof(std::string));
        }
        // The index by address.
        mark = HeapInUse();
        {
            std::unordered_map<uint32_t, int> index;
            for (int i = 0; i < kPeers; ++i) {
                index.emplace(0x0A000000u + static_cast<uint32_t>(i), i);
            }
            byAddress = (HeapInUse() - mark) / kPeers;
        }
    }
    state.counters["directory"] = perPeer;
    state.counters["record"] = sizeof(PeerRecord);
    state.counters["history"] = history;
    state.counters["history_heap"] = history - static_cast<double>(sizeof(History));
    state.counters["name_heap"] = strings;
    state.counters["address_index"] = byAddress;
}
BENCHMARK(BM_PeerMemoryDirectory)->Iterations(1)->Unit(benchmark::kMillisecond);

// The tree's part: what the real tree adds to a peer, its group items (one
// per 200 peers) included; then the accessible objects of every row, once a
// client has asked for each.
void BM_PeerMemoryTree(benchmark::State& state) {
    double perItem = 0;
    double perRow = 0;
    for (auto _ : state) {
        NullTree nullTree;
        Peers bare(nullTree);
        bare.Arrive(0, 1);
        double before = HeapInUse();
        bare.Arrive(1, kPeers + 1);
        const double directoryPart = HeapInUse() - before;

        AppState settings;
        SilentPresenter presenter;
        auto view = std::make_unique<CMrmx3View>(CMrmx3View::Services{
            .state = settings, .presenter = presenter, .openConversation = [](int) {}});
        view->LoadIcons();
        view->resize(300, 600);
        view->show();
        QApplication::processEvents();
        Peers peers(*view);
        peers.Arrive(0, 1);
        QApplication::processEvents();
        before = HeapInUse();
        for (int from = 1; from <= kPeers; from += 256) {
            peers.Arrive(from, std::min(kPeers + 1, from + 256), view.get());
            QApplication::processEvents();
        }
        // Until the last items have gone into the tree and it is laid out.
        const auto inTree = [&view] {
            int rows = 0;
            for (int i = 0; i < view->topLevelItemCount(); ++i) {
                rows += view->topLevelItem(i)->childCount();
            }
            return rows;
        };
        while (inTree() < kPeers + 1) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        QApplication::processEvents();
        perItem = (HeapInUse() - before - directoryPart) / kPeers;

        QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(view.get());
        before = HeapInUse();
        const int rows = tree->childCount();
        for (int i = 0; i < rows; ++i) {
            benchmark::DoNotOptimize(tree->child(i));
        }
        perRow = (HeapInUse() - before) / rows;
    }
    state.counters["tree_item"] = perItem;
    state.counters["qtreewidgetitem"] = sizeof(QTreeWidgetItem);
    state.counters["accessible_row"] = perRow;
}
BENCHMARK(BM_PeerMemoryTree)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
