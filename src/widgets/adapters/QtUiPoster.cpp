// src/widgets/adapters/QtUiPoster.cpp
#include "widgets/adapters/QtUiPoster.h"

#include <QMetaObject>
#include <QThread>

namespace platform {

// A queued call on the context: Qt removes it from the queue when the context
// is destroyed, so a task never runs after its context is gone. Posting from a
// worker thread is safe as long as the context outlives the worker.
void QtUiPoster::Post(std::function<void()> task) {
    QObject* context = m_context.data();
    if (context == nullptr || !task) {
        return;
    }
    QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}

bool QtUiPoster::OnUiThread() const {
    const QObject* context = m_context.data();
    return context != nullptr && QThread::currentThread() == context->thread();
}

}  // namespace platform
