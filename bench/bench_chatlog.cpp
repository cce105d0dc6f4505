// bench/bench_chatlog.cpp
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "BenchFakes.h"
#include "core/base/Presenter.h"
#include "core/chat/ChatLogDocument.h"

namespace {

using bench::MakeHistory;
using bench::SilentPresenter;

void BuildLog(benchmark::State& state, int count) {
    const std::vector<HistoryEntry> history = MakeHistory(count);
    SilentPresenter presenter;
    size_t bytes = 0;
    for (auto _ : state) {
        std::string doc = BuildChatLogDocument(history, "PC-KANCELAR", presenter);
        bytes = doc.size();
        benchmark::DoNotOptimize(doc.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["doc_bytes"] = static_cast<double>(bytes);
}

void BM_BuildChatLog10000(benchmark::State& state) {
    BuildLog(state, 10000);
}
void BM_BuildChatLog2000(benchmark::State& state) {
    BuildLog(state, 2000);
}

}  // namespace

BENCHMARK(BM_BuildChatLog10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildChatLog2000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
