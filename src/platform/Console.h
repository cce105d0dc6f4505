// src/platform/Console.h
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The standard streams and quit requests of a command-line program.
namespace platform {

// The program's arguments after its name, as UTF-8 (on Windows read from the
// wide command line: argv there holds the ANSI code page).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the standard streams carry UTF-8 bytes unchanged: binary mode and a
// UTF-8 console on Windows. On POSIX a write to a closed pipe fails instead
// of ending the program with SIGPIPE.
void PrepareStandardStreams();

// True when standard output is a terminal that shows colour sequences.
bool OutputIsColourTerminal();

// From the call on, SIGINT, SIGTERM and SIGHUP (Ctrl+C, Ctrl+Break, the
// console's closing, logoff and shutdown on Windows) are quit requests: they
// set a flag instead of ending the program, and a wait in SocketWait.h returns.
// A second SIGINT ends the program at once.
void WatchQuitRequests();
bool QuitRequested();
// What a wait watches to return at a quit request: the read end of a pipe the
// signal handler writes to (POSIX) or an event the console handler sets
// (Windows); kNoQuitWake before WatchQuitRequests().
inline constexpr intptr_t kNoQuitWake = -1;
intptr_t QuitWake();
// Tells a console that is closing that the program has finished its goodbye;
// Windows ends the process when the handler returns, so it waits for this
// (at most a few seconds).
void QuitHandled();

}  // namespace platform
