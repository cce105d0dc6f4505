// src/platform/posix/SocketWaitPosix.cpp
#include <poll.h>

#include <cerrno>

#include "platform/SocketWait.h"

namespace platform {

WaitResult WaitReadable(SocketHandle socket, std::chrono::milliseconds limit, int& error) {
    pollfd readable{static_cast<int>(socket), POLLIN, 0};
    const int rc = ::poll(&readable, 1, static_cast<int>(limit.count()));
    error = 0;
    if (rc > 0) {
        return WaitResult::Readable;
    }
    if (rc == 0) {
        return WaitResult::TimedOut;
    }
    if (errno == EINTR) {
        return WaitResult::Interrupted;
    }
    error = errno;
    return WaitResult::Failed;
}

bool IsAddressInUseCode(int code) {
    return code == EADDRINUSE;
}

}  // namespace platform
