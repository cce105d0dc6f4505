// src/platform/posix/QuitRequestsPosix.cpp
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "platform/QuitRequests.h"

// The self-pipe: the signal handler sets the flag and writes a byte, which a
// poll or a socket notifier sees.
namespace platform {
namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<bool> g_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");
int g_wakeRead = -1;
std::atomic<int> g_wakeWrite{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads it");
bool g_watching = false;

extern "C" void OnQuitSignal(int /*signal*/) {
    const int savedErrno = errno;
    g_requested.store(true);
    if (const int fd = g_wakeWrite.load(); fd >= 0) {
        // A full pipe already holds a wake-up, so a failed write loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, "q", 1);
    }
    errno = savedErrno;
}

bool MakeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

bool OpenWakePipe() {
    if (g_wakeRead >= 0) {
        return true;
    }
    int fds[2] = {-1, -1};
    if (::pipe(fds) != 0) {
        return false;
    }
    if (!MakeNonBlocking(fds[0]) || !MakeNonBlocking(fds[1])) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    g_wakeRead = fds[0];
    g_wakeWrite.store(fds[1]);
    return true;
}

void DrainWakePipe() {
    char buffer[64];
    while (g_wakeRead >= 0 && ::read(g_wakeRead, buffer, sizeof buffer) > 0) {
    }
}

void SetDisposition(void (*handler)(int), int flags, int sigintFlags) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (const int number : kQuitSignals) {
        action.sa_flags = number == SIGINT ? sigintFlags : flags;
        ::sigaction(number, &action, nullptr);
    }
}

}  // namespace

void WatchQuitRequests(QuitStyle style) {
    // Without a pipe a poll still returns at the signal (EINTR), but a socket
    // notifier would not see it.
    OpenWakePipe();
    if (style == QuitStyle::Console) {
        // SIGINT goes back to its default after the first, so a second Ctrl+C
        // ends the program.
        SetDisposition(OnQuitSignal, 0, SA_RESETHAND);
    } else {
        SetDisposition(OnQuitSignal, SA_RESTART, SA_RESTART);
    }
    g_watching = true;
}

void StopWatchingQuitRequests() {
    SetDisposition(SIG_DFL, 0, 0);
    g_watching = false;
}

bool QuitRequested() {
    return g_requested.load();
}

bool TakeQuitRequest() {
    DrainWakePipe();
    return g_requested.exchange(false);
}

intptr_t QuitWake() {
    return g_watching && g_wakeRead >= 0 ? g_wakeRead : kNoQuitWake;
}

void QuitHandled() {}

}  // namespace platform
