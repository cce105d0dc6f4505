// src/widgets/desktop/QuitSignals.cpp
#include "widgets/desktop/QuitSignals.h"

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

#include "platform/QuitRequests.h"

// The platform's quit requests (QuitRequests.h) seen by the event loop: a
// notifier on their wake-up calls the handler on the context's thread, once
// for every burst of requests that arrives before the event loop gets to it.
namespace platform {
namespace {

#ifdef Q_OS_WIN
using WakeNotifier = QWinEventNotifier;
WakeNotifier* MakeNotifier(intptr_t wake, QObject* parent) {
    return new QWinEventNotifier(reinterpret_cast<Qt::HANDLE>(wake), parent);
}
#else
using WakeNotifier = QSocketNotifier;
WakeNotifier* MakeNotifier(intptr_t wake, QObject* parent) {
    return new QSocketNotifier(static_cast<qintptr>(wake), QSocketNotifier::Read, parent);
}
#endif

WakeNotifier* g_notifier = nullptr;  // the current one; touched on the UI thread only

void RemoveCurrentNotifier() {
    if (g_notifier == nullptr) {
        return;
    }
    WakeNotifier* old = g_notifier;
    g_notifier = nullptr;
    old->setEnabled(false);
    old->deleteLater();
}

}  // namespace

void InstallQuitHandler(QObject* context, std::function<void()> handler) {
    RemoveCurrentNotifier();
    if (context == nullptr || !handler) {
        StopWatchingQuitRequests();
        return;
    }
    WatchQuitRequests(QuitStyle::EventLoop);
    if (QuitWake() == kNoQuitWake) {
        StopWatchingQuitRequests();
        return;
    }
    TakeQuitRequest();  // requests from before this handler are not its business

    WakeNotifier* notifier = MakeNotifier(QuitWake(), context);
    g_notifier = notifier;
    QObject::connect(notifier, &WakeNotifier::activated, notifier, [handler = std::move(handler)] {
        if (TakeQuitRequest()) {
            handler();
            QuitHandled();
        }
    });
    QObject::connect(notifier, &QObject::destroyed, [notifier] {
        if (g_notifier == notifier) {
            g_notifier = nullptr;
            StopWatchingQuitRequests();
        }
    });
}

}  // namespace platform
