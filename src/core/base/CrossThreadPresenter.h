// src/core/base/CrossThreadPresenter.h
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "core/base/Presenter.h"
#include "core/base/UiPoster.h"

// Message boxes for every thread. On the user-interface thread it shows the box
// directly. A worker's box is posted to the user-interface thread and the worker
// waits until the box was closed or RequestStop() was called, whichever comes
// first; so a worker never shows a window itself and shutdown never waits for a
// box that nobody closes. After RequestStop() workers show nothing more.
class CrossThreadPresenter final : public MessagePresenter {
public:
    CrossThreadPresenter(MessagePresenter& ui, UiPoster& poster);
    ~CrossThreadPresenter() override;

    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;
    void RequestStop();

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        MessagePresenter* ui = nullptr;  // null once the presenter is gone
        bool stopped = false;
    };
    std::shared_ptr<Shared> m_shared;
    UiPoster& m_poster;
};
