// src/widgets/desktop/QuitSignalsWin32.cpp
#include <windows.h>

#include <QMetaObject>
#include <mutex>

#include "widgets/desktop/QuitSignals.h"

// The console control handler runs on a thread of its own that the system
// starts; it only posts the handler to the context's thread.
namespace platform {
namespace {

struct QuitTarget {
    QObject* context = nullptr;
    std::function<void()> handler;
    QMetaObject::Connection destroyed;
};

std::mutex g_mutex;
QuitTarget g_target;  // guarded by g_mutex
bool g_registered = false;

// Holding the lock while posting keeps the context alive: its destroyed()
// signal, emitted before Qt drops the events queued for it, takes the lock.
BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_target.context == nullptr) {
        return FALSE;
    }
    QMetaObject::invokeMethod(g_target.context, g_target.handler, Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

void InstallQuitHandler(QObject* context, std::function<void()> handler) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    QObject::disconnect(g_target.destroyed);
    g_target = QuitTarget{};
    if (context == nullptr || !handler) {
        return;
    }
    g_target.context = context;
    g_target.handler = std::move(handler);
    // A connection without a receiver is direct: it runs in ~QObject itself.
    g_target.destroyed = QObject::connect(context, &QObject::destroyed, [context] {
        const std::lock_guard<std::mutex> guard(g_mutex);
        if (g_target.context == context) {
            g_target = QuitTarget{};
        }
    });
    if (!g_registered) {
        g_registered = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
    }
}

}  // namespace platform
