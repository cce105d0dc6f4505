// src/platform/win32/SocketWaitWin32.cpp
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // WSAPoll
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "platform/SocketWait.h"

namespace platform {

WaitResult WaitReadable(SocketHandle socket, std::chrono::milliseconds limit, int& error) {
    WSAPOLLFD readable{static_cast<SOCKET>(socket), POLLRDNORM, 0};
    const int rc = ::WSAPoll(&readable, 1, static_cast<INT>(limit.count()));
    error = 0;
    if (rc > 0) {
        return WaitResult::Readable;
    }
    if (rc == 0) {
        return WaitResult::TimedOut;
    }
    error = ::WSAGetLastError();
    return error == WSAEINTR ? WaitResult::Interrupted : WaitResult::Failed;
}

bool IsAddressInUseCode(int code) {
    // Without SO_EXCLUSIVEADDRUSE a taken port may also be refused as access denied.
    return code == WSAEADDRINUSE || code == WSAEACCES;
}

}  // namespace platform
