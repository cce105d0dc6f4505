// bench/BenchHistory.h
#pragma once

#include <string>
#include <vector>

#include "core/base/Presenter.h"
#include "core/peers/PeerDirectory.h"

namespace bench {

class SilentPresenter final : public MessagePresenter {
public:
    void ShowMessage(const std::string&, const std::string&, BoxIcon) override {}
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
