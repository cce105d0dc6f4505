// src/core/base/ClosablePresenter.h
#pragma once

#include <atomic>

#include "core/base/Presenter.h"

// The program's boxes while it runs. Once the program has begun to end
// (Close()), a box is no longer shown but written to the log as a warning, so
// nothing met on the way out (a goodbye that cannot be sent, a window's
// failure) waits for someone to close it.
class ClosablePresenter final : public MessagePresenter {
public:
    explicit ClosablePresenter(MessagePresenter& inner) : m_inner(inner) {}

    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;

    void Close() { m_closed = true; }

private:
    MessagePresenter& m_inner;
    std::atomic<bool> m_closed{false};
};
