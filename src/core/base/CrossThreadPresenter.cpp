// src/core/base/CrossThreadPresenter.cpp
#include "core/base/CrossThreadPresenter.h"

CrossThreadPresenter::CrossThreadPresenter(MessagePresenter& ui, UiPoster& poster)
    : m_shared(std::make_shared<Shared>()), m_poster(poster) {
    m_shared->ui = &ui;
}

CrossThreadPresenter::~CrossThreadPresenter() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->ui = nullptr;
    m_shared->stopped = true;
    m_shared->cv.notify_all();
}

void CrossThreadPresenter::RequestStop() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->stopped = true;
    m_shared->cv.notify_all();
}

void CrossThreadPresenter::ShowMessage(const std::string& caption, const std::string& text,
                                       BoxIcon icon) {
    if (m_poster.OnUiThread()) {
        MessagePresenter* ui = nullptr;
        {
            std::lock_guard lock(m_shared->mutex);
            ui = m_shared->ui;
        }
        if (ui != nullptr) {
            ui->ShowMessage(caption, text, icon);
        }
        return;
    }

    auto done = std::make_shared<bool>(false);
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->stopped) {
            return;
        }
    }
    m_poster.Post([shared = m_shared, done, caption, text, icon] {
        MessagePresenter* ui = nullptr;
        {
            std::lock_guard lock(shared->mutex);
            if (!shared->stopped) {
                ui = shared->ui;
            }
        }
        if (ui != nullptr) {
            ui->ShowMessage(caption, text, icon);
        }
        std::lock_guard lock(shared->mutex);
        *done = true;
        shared->cv.notify_all();
    });
    std::unique_lock lock(m_shared->mutex);
    m_shared->cv.wait(lock, [&] { return *done || m_shared->stopped; });
}
