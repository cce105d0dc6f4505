// bench/bench_chatlog.cpp
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/Presenter.h"
#include "chat/ChatLogDocument.h"

namespace {

class SilentPresenter final : public MessagePresenter {
public:
    void ShowMessage(const std::string&, const std::string&, BoxIcon) override {}
};

// Half Incoming, half Outgoing, 60-byte texts with code page 1250 letters; every
// tenth text carries reserved characters and every seventh a marker.
std::vector<HistoryEntry> MakeHistory(int count) {
    std::vector<HistoryEntry> history;
    history.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::string text;
        if (i % 7 == 0) {
            text += (i % 2 == 0) ? '!' : '*';
        }
        if (i % 10 == 0) {
            text += "C:\\cesta\\{soubor} ";
        }
        while (text.size() < 60) {
            text += "Dobr\xFD den, p\xF8\xED\x6Ai\xE8 zpr\xE1va ";
        }
        text.resize(60);
        if (i % 2 == 0) {
            history.push_back({Incoming, "Petr Nov\xE1k", std::move(text)});
        } else {
            history.push_back({Outgoing, "Jana", std::move(text)});
        }
    }
    return history;
}

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
