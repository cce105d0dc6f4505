// bench/bench_chatlog_refresh.cpp
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <memory>
#include <string>
#include <vector>

#include "BenchFakes.h"
#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/net/PeerSocket.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"
#include "widgets/adapters/MessageBoxes.h"
#include "widgets/chat/RichChatDialog.h"

namespace {

using bench::MakeHistory;
using bench::NullTree;
using bench::SilentPresenter;

class SilentBoxes final : public platform::MessageBoxes {
protected:
    void Open(QWidget*, const std::string&, const std::string&, BoxIcon) override {}
};

// One peer with a long conversation and its window on the (offscreen) screen.
struct Conversation {
    explicit Conversation(int entries) {
        state.SetHostComputerName("PC-KANCELAR");
        const int index = directory.AddPeer(nullptr, "Petr Nov\xE1k", "Sklad", "10.0.0.5", Ready);
        Append(MakeHistory(entries));
        window = std::make_unique<CMRichChatDialog>(directory, state, socket, items, boxes, index);
        window->ShowAndRaise();
        QApplication::processEvents();
    }
    void Append(const std::vector<HistoryEntry>& entries) {
        for (const HistoryEntry& entry : entries) {
            directory.PeerAt(0).history.Append(entry);
        }
    }

    SystemClock clock;
    AppState state;
    SilentPresenter presenter;
    SilentBoxes boxes;
    PeerDirectory directory{clock};
    CPeerSocket socket{state, presenter};
    NullTree tree;
    PeerItems items{directory, tree, presenter};
    std::unique_ptr<CMRichChatDialog> window;
};

constexpr int kFull = static_cast<int>(History::kMaxEntries);

// The whole log drawn again, as when the window opens or every line it shows
// has been removed: the old lines removed, every entry laid into the text
// document.
void BM_RefreshLog10000(benchmark::State& state) {
    Conversation conversation(kFull);
    // More entries than a history keeps: none of the lines drawn stays.
    const std::vector<HistoryEntry> next = MakeHistory(kFull + 1);
    auto* log = conversation.window->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    for (auto _ : state) {
        state.PauseTiming();
        conversation.Append(next);
        state.ResumeTiming();
        conversation.window->RefreshLog();
        benchmark::DoNotOptimize(log->document()->blockCount());
    }
    state.counters["blocks"] = static_cast<double>(log->document()->blockCount());
}

// A new entry on an open log of nearly 10,000 lines, below the bound: the
// line is appended and shown, nothing else changes.
constexpr int kAppends = 200;
void BM_AppendLog10000(benchmark::State& state) {
    Conversation conversation(kFull - kAppends);
    const HistoryEntry entry = MakeHistory(1).front();
    auto* log = conversation.window->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    for (auto _ : state) {
        conversation.directory.PeerAt(0).history.Append(entry);
        conversation.window->RefreshLog();
        benchmark::DoNotOptimize(log->document()->blockCount());
    }
    state.counters["blocks"] = static_cast<double>(log->document()->blockCount());
}

// A new entry on a full conversation, as under a flood of messages: the
// oldest entry goes, its line leaves the top of the log and the new line is
// appended. Every iteration is the same state, so nothing is redrawn untimed.
void BM_AppendToFullLog10000(benchmark::State& state) {
    Conversation conversation(kFull + 1);
    const HistoryEntry entry = MakeHistory(1).front();
    auto* log = conversation.window->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    for (auto _ : state) {
        conversation.directory.PeerAt(0).history.Append(entry);
        conversation.window->RefreshLog();
        benchmark::DoNotOptimize(log->document()->blockCount());
    }
    // The 10,000 lines and the one that says older ones were removed.
    state.counters["blocks"] = static_cast<double>(log->document()->blockCount());
}

}  // namespace

BENCHMARK(BM_RefreshLog10000)->Unit(benchmark::kMillisecond);
// The log stays below the bound for this many appends.
BENCHMARK(BM_AppendLog10000)->Unit(benchmark::kMicrosecond)->Iterations(kAppends);
BENCHMARK(BM_AppendToFullLog10000)->Unit(benchmark::kMicrosecond);
