// src/platform/QuitRequests.h
#pragma once

#include <cstdint>

// The system's requests that the process end: SIGINT, SIGTERM and SIGHUP on
// POSIX; Ctrl+C, Ctrl+Break, the console's closing, logoff and shutdown on
// Windows. Once watched they set a flag and wake a handle instead of ending
// the process; the program ends itself in order.
namespace platform {

enum class QuitStyle {
    // A command-line program: a blocking call returns at a request (no
    // SA_RESTART), and a second SIGINT ends the program at once.
    Console,
    // An event loop: interrupted calls go on, and every request is one more.
    EventLoop,
};

// From the call on the requests are watched (calling again changes the style).
void WatchQuitRequests(QuitStyle style);
// Gives the requests back to the system, which ends the process at the next one.
void StopWatchingQuitRequests();

// True from the first request on, until TakeQuitRequest().
bool QuitRequested();
// Whether a request came since the last call: clears the flag and the wake-up.
bool TakeQuitRequest();

// What a wait watches to return at a request: the read end of a pipe the
// signal handler writes to (POSIX, for poll or a socket notifier) or an event
// the console handler sets (Windows, a HANDLE); kNoQuitWake while unwatched.
inline constexpr intptr_t kNoQuitWake = -1;
intptr_t QuitWake();

// Tells a console that is closing that the program has finished its goodbye:
// Windows ends the process when the console handler returns, so it waits for
// this (at most a few seconds). Nothing on POSIX.
void QuitHandled();

}  // namespace platform
