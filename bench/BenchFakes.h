// bench/BenchFakes.h
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerScreen.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"

// What the benchmarks put where the desktop would show, play or draw.
namespace bench {

class SilentPresenter final : public MessagePresenter {
public:
    void ShowMessage(const std::string&, const std::string&, BoxIcon) override {}
};

struct NullSink final : NotificationSink {
    void Show(const Notification&) override {}
};

struct NullPlayer final : SoundPlayer {
    void Play(const std::string&) override {}
};

// A tree that hands out distinct items and draws nothing.
class NullTree final : public PeerTree {
public:
    TreeItem FindOrAddGroupItem(const std::string&) override { return Next(); }
    TreeItem InsertPeerItem(TreeItem, const std::string&, int) override { return Next(); }
    void ExpandItem(TreeItem) override {}
    void DeleteItem(TreeItem) override {}
    TreeItem GroupOf(TreeItem) const override { return nullptr; }
    bool HasPeerItems(TreeItem) const override { return true; }
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

// The desktop's peer logic over a tree: the directory, its items and the
// dispatcher, with nothing shown, played or notified. The tree is only kept
// by reference here, so it may be a member made after this part.
struct PeerScreenRig {
    explicit PeerScreenRig(
        PeerTree& tree, std::function<bool(uint32_t)> isOwnAddress = [](uint32_t) { return false; })
        : items(directory, tree, presenter),
          dispatcher(PeerScreen::Services{.directory = directory,
                                          .state = settings,
                                          .items = items,
                                          .notifier = notifier,
                                          .sounds = sounds,
                                          .presenter = presenter,
                                          .clock = clock,
                                          .isOwnAddress = std::move(isOwnAddress)}) {}

    SystemClock clock;
    AppState settings;
    SilentPresenter presenter;
    PeerDirectory directory{clock};
    PeerItems items;
    NullSink sink;
    PeerNotifier notifier{sink};
    NullPlayer player;
    SoundEvents sounds{settings, clock, player};
    PeerScreen dispatcher;
};

// Half Incoming, half Outgoing, 60-byte texts with code page 1250 letters; every
// tenth text carries reserved characters and every seventh a marker.
inline std::vector<HistoryEntry> MakeHistory(int count) {
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

}  // namespace bench
