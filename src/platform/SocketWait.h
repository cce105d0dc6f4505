// src/platform/SocketWait.h
#pragma once

#include <chrono>

#include "platform/Socket.h"

// Waiting for a datagram on a socket of Socket.h, for a program that reads on
// its own thread instead of being told.
namespace platform {

enum class WaitResult { Readable, TimedOut, Interrupted, Failed };

// Waits up to `limit` until the socket has something to read. Interrupted: a
// quit request (QuitRequests.h) or a signal came first; Failed: the system's code
// is in `error`.
WaitResult WaitReadable(SocketHandle socket, std::chrono::milliseconds limit, int& error);

// True for the code of a bind to a port that another socket holds.
bool IsAddressInUseCode(int code);

}  // namespace platform
