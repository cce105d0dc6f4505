// bench/bench_core.cpp
#include <benchmark/benchmark.h>

#include <algorithm>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/net/Packet.h"
#include "core/peers/Dispatcher.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"

namespace {

// 10.0.0.0 onwards, in host order.
uint32_t AddressOf(int i) {
    return 0x0A000000u + static_cast<uint32_t>(i);
}

void BM_FindPeerByAddress(benchmark::State& state) {
    SystemClock clock;
    PeerDirectory directory{clock};
    const int peers = static_cast<int>(state.range(0));
    std::vector<uint32_t> addresses;
    for (int i = 0; i < peers; ++i) {
        addresses.push_back(AddressOf(i));
        directory.AddPeer(nullptr, "user@PC", "Skupina", addresses.back(), Ready);
    }
    // A tenth of the lookups miss, as datagrams from unknown senders do.
    for (int i = 0; i < peers / 10; ++i) {
        addresses.push_back(AddressOf(peers + i));
    }
    std::mt19937 random{42};
    std::shuffle(addresses.begin(), addresses.end(), random);
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(directory.FindPeerByAddress(addresses[next]));
        next = next + 1 == addresses.size() ? 0 : next + 1;
    }
}
BENCHMARK(BM_FindPeerByAddress)->Arg(10000);

// A tree that hands out distinct items and draws nothing.
class NullTree final : public PeerTree {
public:
    TreeItem FindOrAddGroupItem(const std::string&) override { return Next(); }
    TreeItem InsertPeerItem(TreeItem, const std::string&, int) override { return Next(); }
    void ExpandItem(TreeItem) override {}
    void DeleteItem(TreeItem) override {}
    bool IsSelectedItem(TreeItem) const override { return false; }
    void SelectItem(TreeItem) override {}
    void SetItemData(TreeItem, uint32_t) override {}
    void SetItemImage(TreeItem, int) override {}

private:
    TreeItem Next() {
        m_items.push_back(0);
        return &m_items.back();
    }
    std::deque<char> m_items;
};

struct NullSink final : NotificationSink {
    void Show(const Notification&) override {}
};
struct NullPlayer final : SoundPlayer {
    void Play(const std::string&) override {}
};
struct NullPresenter final : MessagePresenter {
    void ShowMessage(const std::string&, const std::string&, BoxIcon) override {}
};

// Known peers repeating unchanged announcements: the steady load of a busy LAN.
void BM_DispatchKnownPresence(benchmark::State& state) {
    SystemClock clock;
    AppState settings;
    settings.Modify([](SettingsRecord& s) {
        s.soundFolder = "Standard";
        s.groupName = "Sklad";
    });
    PeerDirectory directory{clock};
    NullTree tree;
    NullPresenter presenter;
    PeerItems items{directory, tree, presenter};
    NullSink sink;
    PeerNotifier notifier{sink};
    NullPlayer player;
    SoundEvents sounds{settings, clock, player};
    const uint32_t ownAddress = AddressOf(0xFFFFFE);
    Dispatcher dispatcher{Dispatcher::Services{
        .directory = directory,
        .state = settings,
        .tree = tree,
        .items = items,
        .notifier = notifier,
        .sounds = sounds,
        .presenter = presenter,
        .clock = clock,
        .isOwnAddress = [&](uint32_t address) { return address == ownAddress; }}};

    const int peers = static_cast<int>(state.range(0));
    std::vector<uint32_t> addresses;
    std::vector<PacketBuffer> packets(static_cast<size_t>(peers));
    for (int i = 0; i < peers; ++i) {
        addresses.push_back(AddressOf(i));
        BuildPresence(packets[static_cast<size_t>(i)], Away, "uzivatel" + std::to_string(i),
                      "POCITAC-" + std::to_string(i), "Skupina " + std::to_string(i % 10));
    }
    // Two rounds: the first makes the records, the second brings their status.
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < packets.size(); ++i) {
            dispatcher.DispatchDatagram(packets[i].data(), kPresenceLength, addresses[i]);
        }
    }
    if (directory.PeerCount() != peers) {
        state.SkipWithError("peers were not created");
        return;
    }

    size_t next = 0;
    for (auto _ : state) {
        dispatcher.DispatchDatagram(packets[next].data(), kPresenceLength, addresses[next]);
        next = next + 1 == packets.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DispatchKnownPresence)->Arg(1000);

}  // namespace

// ---- Packets -------------------------------------------------------------

namespace {

// Never called for a presence datagram; PacketLength only wants somewhere to
// report an unknown kind.
struct SilentPresenter final : MessagePresenter {
    void ShowMessage(const std::string&, const std::string&, BoxIcon) override {}
};

// What the announcer does every period: build the presence datagram and size it.
void BM_BuildPresence(benchmark::State& state) {
    SilentPresenter presenter;
    PacketBuffer packet;
    const std::string user = "jan.novak";
    const std::string computer = "POCITAC-12";
    const std::string group = "Obchodni oddeleni";
    for (auto _ : state) {
        BuildPresence(packet, DoNotDisturb, user, computer, group);
        benchmark::DoNotOptimize(PacketLength(packet, presenter));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildPresence);

}  // namespace

BENCHMARK_MAIN();
