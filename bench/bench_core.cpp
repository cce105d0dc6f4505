// bench/bench_core.cpp
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "BenchFakes.h"
#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/net/Packet.h"
#include "core/peers/DatagramHandOver.h"
#include "core/peers/DatagramReceiver.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerScreen.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"
#include "platform/SocketReceiver.h"

namespace {

using bench::NullTree;
using bench::PeerScreenRig;
using bench::SilentPresenter;

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

// Keeps posted tasks until the benchmark runs them, as the event loop would.
struct QueuedPoster final : UiPoster {
    void Post(std::function<void()> task) override { tasks.push_back(std::move(task)); }
    bool OnUiThread() const override { return true; }
    void RunAll() {
        while (!tasks.empty()) {
            std::function<void()> task = std::move(tasks.front());
            tasks.pop_front();
            task();
        }
    }
    std::deque<std::function<void()>> tasks;
};

// The network side without a socket: the directory, the dispatcher with
// silent tree, sounds and balloons, the hand-over and the receive thread's
// part, all run on the benchmark's thread. `peers` known peers, in status Away.
struct Network : PeerScreenRig {
    explicit Network(int peers)
        : PeerScreenRig(tree, [this](uint32_t address) { return address == ownAddress; }) {
        settings.Modify([](SettingsRecord& s) {
            s.soundFolder = "Standard";
            s.groupName = "Sklad";
        });
        for (int i = 0; i < peers; ++i) {
            senders.push_back(AddressOf(i));
            for (const int16_t status : {Away, Ready}) {
                PacketBuffer& packet = status == Away ? away.emplace_back() : ready.emplace_back();
                BuildPresence(packet, status, "uzivatel" + std::to_string(i),
                              "POCITAC-" + std::to_string(i), "Skupina " + std::to_string(i % 10));
            }
        }
        // Two rounds: the first makes the records, the second brings their status.
        for (int round = 0; round < 2; ++round) {
            for (size_t i = 0; i < away.size(); ++i) {
                dispatcher.DispatchDatagram(away[i].data(), kPresenceLength, senders[i]);
            }
        }
    }
    // As the socket hands them over: batches of 64, peer after peer.
    std::vector<platform::SocketReceiver::Datagram> Batch(const std::vector<PacketBuffer>& packets,
                                                          size_t first) const {
        std::vector<platform::SocketReceiver::Datagram> batch;
        for (size_t i = 0; i < platform::SocketReceiver::kMaxBatch; ++i) {
            const size_t peer = (first + i) % packets.size();
            batch.push_back(
                {packets[peer].data(), static_cast<int>(kPresenceLength), 0, senders[peer]});
        }
        return batch;
    }

    NullTree tree;
    const uint32_t ownAddress = AddressOf(0xFFFFFE);
    QueuedPoster poster;
    DatagramHandOver handOver{poster, [this](const Arrival& arrival) {
                                  dispatcher.DispatchDatagram(arrival.bytes.data(),
                                                              arrival.bytes.size(), arrival.sender);
                              }};
    DatagramReceiver receiver{DatagramReceiver::Services{
        .directory = directory,
        .clock = clock,
        .handOver = handOver,
        .ownSender = [this](uint32_t address) -> std::optional<uint32_t> {
            return address == ownAddress ? std::optional(address) : std::nullopt;
        },
        .showMySelf = [] { return false; }}};
    std::vector<uint32_t> senders;
    std::vector<PacketBuffer> away;
    std::vector<PacketBuffer> ready;
};

// Known peers repeating unchanged announcements, dispatched on the
// user-interface thread: the steady load of a busy LAN as it was carried before
// the receive thread settled it itself.
void BM_DispatchKnownPresence(benchmark::State& state) {
    Network network(static_cast<int>(state.range(0)));
    if (network.directory.PeerCount() != state.range(0)) {
        state.SkipWithError("peers were not created");
        return;
    }
    size_t next = 0;
    for (auto _ : state) {
        network.dispatcher.DispatchDatagram(network.away[next].data(), kPresenceLength,
                                            network.senders[next]);
        next = next + 1 == network.away.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DispatchKnownPresence)->Arg(1000);

// The same load on the receive thread's fast path: per batch of 64 read
// datagrams, one look at the hand-over and one directory lock; each datagram
// only refreshes its record's time last heard. Items are datagrams.
void BM_ReceiveFastPath(benchmark::State& state) {
    Network network(static_cast<int>(state.range(0)));
    std::vector<std::vector<platform::SocketReceiver::Datagram>> batches;
    for (size_t first = 0; first < network.away.size(); first += 64) {
        batches.push_back(network.Batch(network.away, first));
    }
    size_t next = 0;
    for (auto _ : state) {
        network.receiver.Absorb(batches[next]);
        next = next + 1 == batches.size() ? 0 : next + 1;
    }
    if (network.handOver.Size() != 0) {
        state.SkipWithError("an unchanged announcement was handed over");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 64);
}
BENCHMARK(BM_ReceiveFastPath)->Arg(1000);

// Announcements that change a status: each is handed over (copied, queued,
// counted per sender) on the receive thread's side, then dispatched in a
// drain on the user-interface thread, with its sound and balloon. The time
// is the drain's alone, per datagram; the receive side's share is the
// counter receive_ns.
void BM_DispatchHandedOver(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Network network(static_cast<int>(state.range(0)));
    std::vector<std::vector<platform::SocketReceiver::Datagram>> batches;
    for (const auto* packets : {&network.ready, &network.away}) {
        for (size_t first = 0; first < packets->size(); first += 64) {
            batches.push_back(network.Batch(*packets, first));
        }
    }
    size_t next = 0;
    Clock::duration receiving{};
    for (auto _ : state) {
        const auto start = Clock::now();
        network.receiver.Absorb(batches[next]);
        const auto handedOver = Clock::now();
        network.poster.RunAll();
        const auto drained = Clock::now();
        receiving += handedOver - start;
        state.SetIterationTime(std::chrono::duration<double>(drained - handedOver).count() / 64);
        next = next + 1 == batches.size() ? 0 : next + 1;
    }
    state.counters["receive_ns"] = std::chrono::duration<double, std::nano>(receiving).count() /
                                   (static_cast<double>(state.iterations()) * 64);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DispatchHandedOver)->Arg(1000)->UseManualTime();

}  // namespace

// ---- Packets -------------------------------------------------------------

namespace {

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
