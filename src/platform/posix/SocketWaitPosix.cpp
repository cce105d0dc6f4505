// src/platform/posix/SocketWaitPosix.cpp
#include <poll.h>

#include <cerrno>

#include "platform/QuitRequests.h"
#include "platform/SocketWait.h"

namespace platform {

WaitResult WaitReadable(SocketHandle socket, std::chrono::milliseconds limit, int& error) {
    pollfd waits[2] = {{static_cast<int>(socket), POLLIN, 0},
                       {static_cast<int>(QuitWake()), POLLIN, 0}};
    const nfds_t count = waits[1].fd >= 0 ? 2 : 1;
    const int rc = ::poll(waits, count, static_cast<int>(limit.count()));
    error = 0;
    if (rc > 0) {
        return count == 2 && waits[1].revents != 0 ? WaitResult::Interrupted : WaitResult::Readable;
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
