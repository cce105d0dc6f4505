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
#include "core/chat/ChatLogDocument.h"
#include "core/chat/RtfReader.h"
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
        state.SetComputerName("PC-KANCELAR");
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

// Document, stream-in, reader, text document and its whole layout.
void RefreshLog(benchmark::State& state, int entries) {
    Conversation conversation(entries);
    auto* log = conversation.window->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    for (auto _ : state) {
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

void ReadLog(benchmark::State& state, int entries) {
    SilentPresenter presenter;
    const std::string document =
        BuildChatLogDocument(MakeHistory(entries), "PC-KANCELAR", presenter);
    size_t paragraphs = 0;
    for (auto _ : state) {
        const std::vector<RtfParagraph> read = ReadRtf(document);
        paragraphs = read.size();
        benchmark::DoNotOptimize(read.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(document.size()));
    state.counters["paragraphs"] = static_cast<double>(paragraphs);
}

void BM_ReadRtf2000(benchmark::State& state) {
    ReadLog(state, 2000);
}
void BM_ReadRtf10000(benchmark::State& state) {
    ReadLog(state, 10000);
}

}  // namespace

BENCHMARK(BM_RefreshLog2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshLog10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRtf2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadRtf10000)->Unit(benchmark::kMicrosecond);

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
