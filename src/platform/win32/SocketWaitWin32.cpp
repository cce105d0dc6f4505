// src/platform/win32/SocketWaitWin32.cpp
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // WSAPoll
#endif

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "platform/QuitRequests.h"
#include "platform/SocketWait.h"

namespace platform {

WaitResult WaitReadable(SocketHandle socket, std::chrono::milliseconds limit, int& error) {
    error = 0;
    const HANDLE quit = QuitWake() == kNoQuitWake ? nullptr : reinterpret_cast<HANDLE>(QuitWake());
    if (quit == nullptr) {
        WSAPOLLFD readable{static_cast<SOCKET>(socket), POLLRDNORM, 0};
        const int rc = ::WSAPoll(&readable, 1, static_cast<INT>(limit.count()));
        if (rc > 0) {
            return WaitResult::Readable;
        }
        if (rc == 0) {
            return WaitResult::TimedOut;
        }
        error = ::WSAGetLastError();
        return error == WSAEINTR ? WaitResult::Interrupted : WaitResult::Failed;
    }
    // A socket's readiness and the quit event in one wait. Selecting again
    // signals the event at once when a datagram is already waiting.
    static const WSAEVENT readable = ::WSACreateEvent();
    if (readable == WSA_INVALID_EVENT ||
        ::WSAEventSelect(static_cast<SOCKET>(socket), readable, FD_READ) == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        return WaitResult::Failed;
    }
    const HANDLE handles[2] = {quit, readable};
    const DWORD rc = ::WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(limit.count()));
    ::WSAResetEvent(readable);
    if (rc == WAIT_OBJECT_0) {
        return WaitResult::Interrupted;
    }
    if (rc == WAIT_OBJECT_0 + 1) {
        return WaitResult::Readable;
    }
    if (rc == WAIT_TIMEOUT) {
        return WaitResult::TimedOut;
    }
    error = static_cast<int>(::GetLastError());
    return WaitResult::Failed;
}

bool IsAddressInUseCode(int code) {
    // Without SO_EXCLUSIVEADDRUSE a taken port may also be refused as access denied.
    return code == WSAEADDRINUSE || code == WSAEACCES;
}

}  // namespace platform
