// src/platform/win32/QuitRequestsWin32.cpp
#include <windows.h>

#include <atomic>

#include "platform/QuitRequests.h"

// The console control handler runs on a thread the system starts for it: it
// sets the flag and the event a wait or an event notifier sees.
namespace platform {
namespace {

std::atomic<bool> g_requested{false};
HANDLE g_quitWake = nullptr;     // manual reset: set until the request is taken
HANDLE g_quitHandled = nullptr;  // manual reset: set once the goodbye is done
bool g_watching = false;

// The longest a closing console waits for the goodbye; the system allows about 5 s.
constexpr DWORD kCloseWaitMs = 4000;

BOOL WINAPI OnConsoleEvent(DWORD type) {
    g_requested.store(true);
    ::SetEvent(g_quitWake);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: give the goodbye its time.
        ::WaitForSingleObject(g_quitHandled, kCloseWaitMs);
    }
    return TRUE;
}

}  // namespace

// A second Ctrl+C is one more request on Windows, in either style.
void WatchQuitRequests(QuitStyle /*style*/) {
    if (g_quitWake == nullptr) {
        g_quitWake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    if (g_quitHandled == nullptr) {
        g_quitHandled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    if (g_quitWake == nullptr || g_quitHandled == nullptr || g_watching) {
        return;
    }
    g_watching = ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
}

void StopWatchingQuitRequests() {
    if (g_watching) {
        ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
        g_watching = false;
    }
}

bool QuitRequested() {
    return g_requested.load();
}

bool TakeQuitRequest() {
    if (g_quitWake != nullptr) {
        ::ResetEvent(g_quitWake);
    }
    return g_requested.exchange(false);
}

intptr_t QuitWake() {
    return g_watching ? reinterpret_cast<intptr_t>(g_quitWake) : kNoQuitWake;
}

void QuitHandled() {
    if (g_quitHandled != nullptr) {
        ::SetEvent(g_quitHandled);
    }
}

}  // namespace platform
