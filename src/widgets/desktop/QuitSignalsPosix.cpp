// src/widgets/desktop/QuitSignalsPosix.cpp
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

#include "widgets/desktop/QuitSignals.h"

// The self-pipe: the signal handler only writes a byte, which a socket
// notifier on the context's thread reads; the handler runs there, once for
// every burst of signals that arrives before the event loop gets to it.
namespace platform {
namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> g_writeFd{-1};
int g_readFd = -1;
QSocketNotifier* g_notifier = nullptr;  // the current one; touched on the UI thread only

extern "C" void OnQuitSignal(int) {
    const int savedErrno = errno;
    const int fd = g_writeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up, so a failed write loses nothing.
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

bool MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

bool OpenPipe() {
    if (g_readFd >= 0) {
        return true;
    }
    int fds[2] = {-1, -1};
    if (pipe(fds) != 0) {
        return false;
    }
    if (!MakeNonBlocking(fds[0]) || !MakeNonBlocking(fds[1])) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    g_readFd = fds[0];
    g_writeFd.store(fds[1]);
    return true;
}

void DrainPipe() {
    char buffer[64];
    while (read(g_readFd, buffer, sizeof buffer) > 0) {
    }
}

void SetDisposition(void (*action)(int)) {
    struct sigaction sa {};
    sa.sa_handler = action;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = action == SIG_DFL ? 0 : SA_RESTART;
    for (const int number : kQuitSignals) {
        sigaction(number, &sa, nullptr);
    }
}

void RemoveCurrentNotifier() {
    if (g_notifier == nullptr) {
        return;
    }
    QSocketNotifier* old = g_notifier;
    g_notifier = nullptr;
    old->setEnabled(false);
    old->deleteLater();
}

}  // namespace

// Call on the context's thread. A null context or an empty handler removes
// the handler; the signals then end the process again, as they also do once
// the context is destroyed.
void InstallQuitHandler(QObject* context, std::function<void()> handler) {
    RemoveCurrentNotifier();
    if (context == nullptr || !handler || !OpenPipe()) {
        SetDisposition(SIG_DFL);
        return;
    }
    DrainPipe();  // signals from before this handler are not its business

    auto* notifier = new QSocketNotifier(g_readFd, QSocketNotifier::Read, context);
    g_notifier = notifier;
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [handler = std::move(handler)] {
                         DrainPipe();
                         handler();
                     });
    QObject::connect(notifier, &QObject::destroyed, [notifier] {
        if (g_notifier == notifier) {
            g_notifier = nullptr;
            SetDisposition(SIG_DFL);
        }
    });
    SetDisposition(OnQuitSignal);
}

}  // namespace platform
