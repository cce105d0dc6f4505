// tests/core/TestSockets.h
#pragma once

// The socket calls the tests make beside the program's platform layer, alike
// on POSIX and Windows: waiting for a datagram, a plain socket of the test's
// own, the broadcast option as the system reports it, and the system's codes.
// The socket library is started once for the whole test program (TestSockets.cpp).
#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "platform/SocketWait.h"

namespace testsock {

#ifdef _WIN32
using NativeSocket = SOCKET;
inline const NativeSocket kNoSocket = INVALID_SOCKET;
inline constexpr int kAccessDenied = WSAEACCES;
inline constexpr int kAddressInUse = WSAEADDRINUSE;
inline constexpr int kInvalidArgument = WSAEINVAL;
inline constexpr int kMessageTooLong = WSAEMSGSIZE;
inline constexpr int kHostUnreachable = WSAEHOSTUNREACH;
inline constexpr int kNetworkUnreachable = WSAENETUNREACH;
inline constexpr int kSendAfterShutDown = WSAESHUTDOWN;

inline int LastError() {
    return ::WSAGetLastError();
}
inline void CloseNative(NativeSocket socket) {
    ::closesocket(socket);
}
// The platform layer's text: the system's message for the code.
inline std::string SystemErrorText(int code) {
    return platform::SocketErrorMessage(code);
}
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
inline constexpr int kAccessDenied = EACCES;
inline constexpr int kAddressInUse = EADDRINUSE;
inline constexpr int kInvalidArgument = EINVAL;
inline constexpr int kMessageTooLong = EMSGSIZE;
inline constexpr int kHostUnreachable = EHOSTUNREACH;
inline constexpr int kNetworkUnreachable = ENETUNREACH;
inline constexpr int kSendAfterShutDown = EPIPE;

inline int LastError() {
    return errno;
}
inline void CloseNative(NativeSocket socket) {
    ::close(socket);
}
inline std::string SystemErrorText(int code) {
    return std::strerror(code);
}
#endif

inline NativeSocket Native(platform::SocketHandle socket) {
    return static_cast<NativeSocket>(socket);
}

// Waits up to `limit` for the socket to have something to read.
inline bool WaitReadable(platform::SocketHandle socket, std::chrono::milliseconds limit) {
    int error = 0;
    return platform::WaitReadable(socket, limit, error) == platform::WaitResult::Readable;
}

// SO_BROADCAST as the system has it: 1, 0, or -1 when it cannot be read.
inline int BroadcastOption(platform::SocketHandle socket) {
#ifdef _WIN32
    BOOL value = FALSE;
    int length = sizeof value;
    if (::getsockopt(Native(socket), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&value),
                     &length) != 0) {
        return -1;
    }
#else
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(Native(socket), SOL_SOCKET, SO_BROADCAST, &value, &length) != 0) {
        return -1;
    }
#endif
    return value != 0 ? 1 : 0;
}

// SO_RCVBUF as the system reports it, or -1.
inline int ReceiveBufferOption(platform::SocketHandle socket) {
    int value = 0;
#ifdef _WIN32
    int length = sizeof value;
    if (::getsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value),
                     &length) != 0) {
        return -1;
    }
#else
    socklen_t length = sizeof value;
    if (::getsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, &value, &length) != 0) {
        return -1;
    }
#endif
    return value;
}

inline bool ClearBroadcastOption(platform::SocketHandle socket) {
#ifdef _WIN32
    const BOOL off = FALSE;
    return ::setsockopt(Native(socket), SOL_SOCKET, SO_BROADCAST,
                        reinterpret_cast<const char*>(&off), sizeof off) == 0;
#else
    const int off = 0;
    return ::setsockopt(Native(socket), SOL_SOCKET, SO_BROADCAST, &off, sizeof off) == 0;
#endif
}

// A plain blocking UDP socket of the test's own, for what the endpoint would
// never send.
class RawUdp {
public:
    RawUdp() : m_socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {}
    ~RawUdp() {
        if (m_socket != kNoSocket) {
            CloseNative(m_socket);
        }
    }
    RawUdp(const RawUdp&) = delete;
    RawUdp& operator=(const RawUdp&) = delete;

    // 0 or the system's code of the failed send.
    int SendTo(const std::string& address, uint16_t port, const std::vector<uint8_t>& data) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
#ifdef _WIN32
        const int sent = ::sendto(m_socket, reinterpret_cast<const char*>(data.data()),
                                  static_cast<int>(data.size()), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
#else
        const ssize_t sent = ::sendto(m_socket, data.data(), data.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
#endif
        return sent < 0 ? LastError() : 0;
    }

private:
    NativeSocket m_socket;
};

}  // namespace testsock
