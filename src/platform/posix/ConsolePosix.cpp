// src/platform/posix/ConsolePosix.cpp
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/Console.h"

namespace platform {
namespace {

std::atomic<bool> g_quitRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");
// The self-pipe: the handler writes a byte that a wait in SocketWait.h sees.
int g_wakeRead = -1;
std::atomic<int> g_wakeWrite{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads it");

extern "C" void OnQuitSignal(int /*signal*/) {
    const int savedErrno = errno;
    g_quitRequested.store(true);
    if (const int fd = g_wakeWrite.load(); fd >= 0) {
        // A full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t written = ::write(fd, "q", 1);
    }
    errno = savedErrno;
}

void OpenWakePipe() {
    int fds[2] = {-1, -1};
    if (g_wakeRead >= 0 || ::pipe(fds) != 0) {
        return;
    }
    for (const int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    g_wakeRead = fds[0];
    g_wakeWrite.store(fds[1]);
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

void PrepareStandardStreams() {
    std::signal(SIGPIPE, SIG_IGN);
}

bool OutputIsColourTerminal() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

void WatchQuitRequests() {
    OpenWakePipe();
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait for the socket returns at once. SIGINT goes back
    // to its default after the first, so a second Ctrl+C ends the program.
    action.sa_flags = 0;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
}

bool QuitRequested() {
    return g_quitRequested.load();
}

intptr_t QuitWake() {
    return g_wakeRead >= 0 ? g_wakeRead : kNoQuitWake;
}

void QuitHandled() {}

}  // namespace platform
