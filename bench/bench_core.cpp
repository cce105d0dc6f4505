// bench/bench_core.cpp
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app/Clock.h"
#include "app/Presenter.h"
#include "net/Packet.h"
#include "peers/PeerDirectory.h"

namespace {

std::string AddressOf(int i) {
    return "10." + std::to_string(i / 65536) + "." + std::to_string((i / 256) % 256) + "." +
           std::to_string(i % 256);
}

void BM_FindPeerByAddress(benchmark::State& state) {
    SystemClock clock;
    PeerDirectory directory{clock};
    const int peers = static_cast<int>(state.range(0));
    std::vector<std::string> addresses;
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
