// bench/bench_chatlog_refresh.cpp
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <memory>
#include <string>
#include <vector>

#include "BenchHistory.h"
#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/net/PeerSocket.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"
#include "widgets/chat/RichChatDialog.h"

namespace {

using bench::MakeHistory;
using bench::SilentPresenter;

class NoTree final : public PeerTree {
public:
    TreeItem FindOrAddGroupItem(const std::string&) override { return nullptr; }
    TreeItem InsertPeerItem(TreeItem, const std::string&, int) override { return nullptr; }
    void ExpandItem(TreeItem) override {}
    void DeleteItem(TreeItem) override {}
    bool IsSelectedItem(TreeItem) const override { return false; }
    void SelectItem(TreeItem) override {}
    void SetItemData(TreeItem, uint32_t) override {}
    void SetItemImage(TreeItem, int) override {}
};

// One peer with a long conversation and its window on the (offscreen) screen.
struct Conversation {
    explicit Conversation(int entries) {
        state.SetHostComputerName("PC-KANCELAR");
        const int index = directory.AddPeer(nullptr, "Petr Nov\xE1k", "Sklad", "10.0.0.5", Ready);
        directory.PeerAt(index).history = MakeHistory(entries);
        window =
            std::make_unique<CMRichChatDialog>(directory, state, socket, items, presenter, index);
        window->ShowAndRaise();
        QApplication::processEvents();
    }

    SystemClock clock;
    AppState state;
    SilentPresenter presenter;
    PeerDirectory directory{clock};
    CPeerSocket socket{state, presenter};
    NoTree tree;
    PeerItems items{directory, tree, presenter};
    std::unique_ptr<CMRichChatDialog> window;
};

void AddEntry(Conversation& conversation, const HistoryEntry& entry) {
    conversation.directory.PeerAt(0).history.push_back(entry);
}
void DropLastEntry(Conversation& conversation) {
    conversation.directory.PeerAt(0).history.pop_back();
}

// The whole log drawn again, as when the window opens or the history is
// replaced: the old lines removed, every entry laid into the text document.
void RefreshLog(benchmark::State& state, int entries) {
    Conversation conversation(entries);
    const HistoryEntry extra = MakeHistory(1).front();
    auto* log = conversation.window->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    for (auto _ : state) {
        state.PauseTiming();
        // One entry more than the history will have, so that it is not the one drawn.
        AddEntry(conversation, extra);
        conversation.window->RefreshLog();
        DropLastEntry(conversation);
        state.ResumeTiming();
        conversation.window->RefreshLog();
        benchmark::DoNotOptimize(log->document()->blockCount());
    }
    state.counters["blocks"] = static_cast<double>(log->document()->blockCount());
}

void BM_RefreshLog2000(benchmark::State& state) {
    RefreshLog(state, 2000);
}
void BM_RefreshLog10000(benchmark::State& state) {
    RefreshLog(state, 10000);
}

// A new entry on an open log of 9,999 lines: the 10,000th line appended and
// shown. Putting the 9,999 lines back is a full draw and is not timed.
void BM_AppendLog10000(benchmark::State& state) {
    const int entries = 10000;
    const std::vector<HistoryEntry> history = MakeHistory(entries);
    Conversation conversation(entries - 1);
    auto* log = conversation.window->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    for (auto _ : state) {
        AddEntry(conversation, history.back());
        conversation.window->RefreshLog();
        benchmark::DoNotOptimize(log->document()->blockCount());
        state.PauseTiming();
        if (log->document()->blockCount() != entries) {
            state.SkipWithError("the log does not have 10,000 lines");
            break;
        }
        DropLastEntry(conversation);
        conversation.window->RefreshLog();
        state.ResumeTiming();
    }
    state.counters["blocks"] = static_cast<double>(entries);
}

}  // namespace

BENCHMARK(BM_RefreshLog2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshLog10000)->Unit(benchmark::kMillisecond);
// Each timed append costs an untimed full draw, so the count is fixed.
BENCHMARK(BM_AppendLog10000)->Unit(benchmark::kMicrosecond)->Iterations(200);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
