// src/platform/posix/ConsolePosix.cpp
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/Console.h"

namespace platform {
namespace {

std::atomic<bool> g_quitRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");

extern "C" void OnQuitSignal(int /*signal*/) {
    g_quitRequested.store(true);
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

void QuitHandled() {}

}  // namespace platform
