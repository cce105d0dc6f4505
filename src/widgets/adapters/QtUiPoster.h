// src/widgets/adapters/QtUiPoster.h
#pragma once

#include <QObject>
#include <QPointer>

#include "core/base/UiPoster.h"

namespace platform {

// Runs closures on the thread of the context object through its event loop;
// tasks still queued when the context is destroyed are dropped.
class QtUiPoster final : public UiPoster {
public:
    explicit QtUiPoster(QObject* context) : m_context(context) {}
    void Post(std::function<void()> task) override;
    bool OnUiThread() const override;

private:
    QPointer<QObject> m_context;
};

}  // namespace platform
