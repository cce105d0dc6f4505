// src/platform/win32/SocketWin32.cpp
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // inet_pton, inet_ntop
#endif

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "platform/win32/TextWin32.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace platform {
namespace {

SOCKET Sock(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address);
    addr.sin_port = htons(port);
    return addr;
}

// The socket is non-blocking: a send that finds no room in the send buffer
// waits this long in all for room, then fails.
constexpr std::chrono::milliseconds kSendRoomWait{100};

// True when the socket became writable within the time.
bool WaitWritable(SOCKET socket, std::chrono::microseconds limit) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    timeval timeout{};
    timeout.tv_sec = static_cast<long>(limit.count() / 1'000'000);
    timeout.tv_usec = static_cast<long>(limit.count() % 1'000'000);
    return ::select(0, nullptr, &writable, nullptr, &timeout) > 0;
}

std::string Dotted(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) {
        return {};
    }
    return text;
}

// The local address a datagram to the limited broadcast address would leave
// from, or nothing when it has no route. Connecting a datagram socket sends nothing.
std::optional<uint32_t> LimitedBroadcastSource() {
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == INVALID_SOCKET) {
        return std::nullopt;
    }
    std::optional<uint32_t> source;
    const BOOL on = TRUE;
    const sockaddr_in to = MakeAddress(INADDR_BROADCAST, 9);
    if (::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                     sizeof on) == 0 &&
        ::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        sockaddr_in local{};
        int length = sizeof local;
        if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
            source = ntohl(local.sin_addr.s_addr);
        }
    }
    ::closesocket(socket);
    return source;
}

}  // namespace

int InitSocketLibrary() {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}

SocketHandle OpenUdpSocket(uint16_t port, int& error) {
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return kInvalidSocket;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        error = ::WSAGetLastError();
        ::closesocket(socket);
        return kInvalidSocket;
    }
    // A "port unreachable" answer to an earlier send must not fail the next
    // receive, as it never does on POSIX systems.
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(socket, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned,
               nullptr, nullptr);
    // No SO_REUSEADDR: a second copy on the same port must fail to bind.
    const sockaddr_in addr = MakeAddress(INADDR_ANY, port);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error = ::WSAGetLastError();
        ::closesocket(socket);
        return kInvalidSocket;
    }
    error = 0;
    return static_cast<SocketHandle>(socket);
}

uint16_t BoundPort(SocketHandle socket) {
    sockaddr_in addr{};
    int length = sizeof addr;
    if (::getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

int SetBroadcastOption(SocketHandle socket) {
    const BOOL on = TRUE;
    if (::setsockopt(Sock(socket), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                     sizeof on) != 0) {
        return ::WSAGetLastError();
    }
    return 0;
}

int RequestReceiveBuffer(SocketHandle socket, int bytes) {
    ::setsockopt(Sock(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof bytes);
    int granted = 0;
    int length = sizeof granted;
    if (::getsockopt(Sock(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted),
                     &length) != 0) {
        return -1;
    }
    return granted;
}

namespace {

// A send that finds no room in the send buffer waits for room up to roomWait.
int SendWaitingForRoom(SocketHandle socket, uint32_t address, uint16_t port, const void* data,
                       size_t size, std::chrono::milliseconds roomWait) {
    const sockaddr_in addr = MakeAddress(address, port);
    const auto deadline = std::chrono::steady_clock::now() + roomWait;
    for (;;) {
        const int sent =
            ::sendto(Sock(socket), static_cast<const char*>(data), static_cast<int>(size), 0,
                     reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        if (sent != SOCKET_ERROR) {
            return 0;
        }
        const int code = ::WSAGetLastError();
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (code != WSAEWOULDBLOCK || left.count() <= 0 || !WaitWritable(Sock(socket), left)) {
            return code;
        }
    }
}

}  // namespace

int SendDatagram(SocketHandle socket, uint32_t address, uint16_t port, const void* data,
                 size_t size) {
    return SendWaitingForRoom(socket, address, port, data, size, kSendRoomWait);
}

int SendDatagramNow(SocketHandle socket, uint32_t address, uint16_t port, const void* data,
                    size_t size) {
    return SendWaitingForRoom(socket, address, port, data, size, std::chrono::milliseconds(0));
}

ReceivedDatagram ReceiveDatagram(SocketHandle socket, void* buffer, size_t capacity) {
    ReceivedDatagram result;
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int got = ::recvfrom(Sock(socket), static_cast<char*>(buffer), static_cast<int>(capacity),
                               0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got != SOCKET_ERROR) {
        result.bytes = got;
        result.sender = Dotted(from.sin_addr);
        return result;
    }
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
        return result;
    }
    result.bytes = -1;
    result.error = code;
    if (code == WSAEMSGSIZE) {
        // The datagram did not fit; what fitted was read and the rest is gone.
        result.sender = Dotted(from.sin_addr);
    }
    return result;
}

void ShutDownSocket(SocketHandle socket) {
    ::shutdown(Sock(socket), SD_BOTH);
}

void CloseSocket(SocketHandle socket) {
    ::closesocket(Sock(socket));
}

std::optional<uint32_t> ParseDottedAddress(const std::string& text) {
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return ntohl(address.s_addr);
}

std::string FormatDottedAddress(uint32_t address) {
    in_addr raw{};
    raw.s_addr = htonl(address);
    return Dotted(raw);
}

std::optional<uint32_t> ResolveHost(const std::string& name, int& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        error = rc;  // a WSA code, e.g. WSAHOST_NOT_FOUND
        return std::nullopt;
    }
    std::optional<uint32_t> address;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            sockaddr_in addr{};
            std::memcpy(&addr, entry->ai_addr, sizeof addr);
            address = ntohl(addr.sin_addr.s_addr);
            break;
        }
    }
    ::freeaddrinfo(found);
    if (!address) {
        error = WSANO_DATA;
        return std::nullopt;
    }
    error = 0;
    return address;
}

std::vector<InterfaceAddress> LocalInterfaces() {
    std::vector<InterfaceAddress> interfaces;
    constexpr ULONG kFlags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<ULONGLONG> storage;  // 8-byte aligned, as the adapter records need
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        storage.assign((size + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG), 0);
        rc = ::GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
    }
    if (rc != NO_ERROR) {
        return interfaces;
    }
    const std::optional<uint32_t> limitedSource = LimitedBroadcastSource();
    for (const IP_ADAPTER_ADDRESSES* adapter =
             reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(storage.data());
         adapter != nullptr; adapter = adapter->Next) {
        const bool loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        // Point-to-point links and tunnels have no broadcast.
        const bool broadcastCapable =
            !loopback && adapter->IfType != IF_TYPE_PPP && adapter->IfType != IF_TYPE_TUNNEL;
        const size_t first = interfaces.size();
        bool carriesLimited = false;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* raw = unicast->Address.lpSockaddr;
            if (raw == nullptr || raw->sa_family != AF_INET) {
                continue;
            }
            sockaddr_in addr{};
            std::memcpy(&addr, raw, sizeof addr);
            InterfaceAddress found;
            found.address = ntohl(addr.sin_addr.s_addr);
            found.up = adapter->OperStatus == IfOperStatusUp;
            found.loopback = loopback;
            // A /31 or /32 network has no broadcast address of its own.
            const ULONG prefix = unicast->OnLinkPrefixLength;
            found.netmask = prefix == 0    ? 0u
                            : prefix >= 32 ? 0xFFFFFFFFu
                                           : ~(0xFFFFFFFFu >> prefix);
            found.broadcastCapable = broadcastCapable && prefix < 31;
            if (found.broadcastCapable) {
                const uint32_t host = prefix == 0 ? 0xFFFFFFFFu : (0xFFFFFFFFu >> prefix);
                found.broadcast = found.address | host;
            }
            carriesLimited = carriesLimited || (limitedSource && found.address == *limitedSource);
            interfaces.push_back(found);
        }
        for (size_t i = first; i < interfaces.size(); ++i) {
            interfaces[i].carriesLimitedBroadcast = carriesLimited;
        }
    }
    return interfaces;
}

bool IsBeyondRouter(uint32_t address) {
    MIB_IPFORWARDROW route{};
    if (::GetBestRoute(htonl(address), 0, &route) != NO_ERROR) {
        return false;
    }
    // An indirect route has a router as its next hop.
    return route.dwForwardType == MIB_IPROUTE_TYPE_INDIRECT;
}

std::string SocketErrorMessage(int code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr) {
        // The system's texts come in the ANSI code page; the service hands out UTF-8.
        message = win32text::AnsiToUtf8(std::string_view(text, length))
                      .value_or(std::string(text, length));
    }
    if (text != nullptr) {
        ::LocalFree(text);
    }
    return message;
}

int InvalidArgumentCode() {
    return WSAEINVAL;
}

int MessageTooLongCode() {
    return WSAEMSGSIZE;
}

bool IsUnreachableCode(int code) {
    return code == WSAEHOSTUNREACH || code == WSAENETUNREACH;
}

}  // namespace platform
