// src/platform/posix/SocketPosix.cpp
#include <arpa/inet.h>
#include <fcntl.h>
#include <iconv.h>
#include <ifaddrs.h>
#include <langinfo.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/Socket.h"

namespace platform {
namespace {

// The socket itself blocks, for the receive thread's wait; every other call
// on it passes MSG_DONTWAIT.
#ifdef MSG_NOSIGNAL
// A send after shutdown fails with EPIPE; it must not raise SIGPIPE as well.
constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;
#else
constexpr int kSendFlags = MSG_DONTWAIT;
#endif

// A send that finds no room in the send buffer waits this long in all for
// room, then fails.
constexpr std::chrono::milliseconds kSendRoomWait{100};

// Resolver failures (EAI_*) are kept apart from errno values as negative codes.
constexpr bool kResolverCodesNegative = EAI_NONAME < 0;

int ResolverCode(int eaiCode) {
    return kResolverCodesNegative ? eaiCode : -eaiCode;
}
int EaiFromResolverCode(int code) {
    return kResolverCodesNegative ? code : -code;
}

int Fd(SocketHandle socket) {
    return static_cast<int>(socket);
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address);
    addr.sin_port = htons(port);
    return addr;
}

// True when the socket became writable within the time.
bool WaitWritable(int fd, std::chrono::milliseconds limit) {
    pollfd writable{fd, POLLOUT, 0};
    return ::poll(&writable, 1, static_cast<int>(limit.count())) > 0 &&
           (writable.revents & POLLOUT) != 0;
}

std::string Dotted(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) {
        return {};
    }
    return text;
}

// strerror_r comes in two flavours: XSI returns an int, GNU a pointer.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ErrorText(const char* result, const char* /*buffer*/) {
    return result;
}

// The local address a datagram to the limited broadcast address would leave
// from, or nothing when it has no route. Connecting a datagram socket sends nothing.
std::optional<uint32_t> LimitedBroadcastSource() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<uint32_t> source;
    const int on = 1;
    const sockaddr_in to = MakeAddress(INADDR_BROADCAST, 9);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
            source = ntohl(local.sin_addr.s_addr);
        }
    }
    ::close(fd);
    return source;
}

// The interface of an address entry: its name without the label after ':'.
std::string_view InterfaceName(const char* name) {
    const std::string_view full = name != nullptr ? name : "";
    return full.substr(0, full.find(':'));
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUtf8Codeset(std::string_view codeset) {
    return codeset == "UTF-8" || codeset == "utf-8" || codeset == "UTF8" || codeset == "utf8";
}

// Text in the given character set as UTF-8; a byte it cannot convert becomes '?'.
std::string ToUtf8(std::string_view text, const char* codeset) {
    const iconv_t converter = ::iconv_open("UTF-8", codeset);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        std::string out(text);
        std::replace_if(
            out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; },
            '?');
        return out;
    }
    std::string out;
    std::string input(text);
    char* in = input.data();
    size_t inLeft = input.size();
    char chunk[256];
    while (inLeft > 0) {
        char* outPtr = chunk;
        size_t outLeft = sizeof chunk;
        const size_t rc = ::iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, static_cast<size_t>(outPtr - chunk));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // An invalid or cut-off sequence: one '?' for its first byte.
            out += '?';
            ++in;
            --inLeft;
        }
    }
    ::iconv_close(converter);
    return out;
}

// The system's texts come in the character set of the locale (UTF-8 under
// cs_CZ.UTF-8, ISO 8859-2 under cs_CZ); the service hands out UTF-8.
std::string SystemTextToUtf8(std::string_view text) {
    if (IsAscii(text)) {
        return std::string(text);
    }
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset == nullptr || IsUtf8Codeset(codeset)) {
        return std::string(text);
    }
    return ToUtf8(text, codeset);
}

}  // namespace

int InitSocketLibrary() {
    return 0;
}

SocketHandle OpenUdpSocket(uint16_t port, int& error) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        error = errno;
        return kInvalidSocket;
    }
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) {
        error = errno;
        ::close(fd);
        return kInvalidSocket;
    }
    // No SO_REUSEADDR: a second copy on the same port must fail to bind.
    const sockaddr_in addr = MakeAddress(INADDR_ANY, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error = errno;
        ::close(fd);
        return kInvalidSocket;
    }
    error = 0;
    return fd;
}

uint16_t BoundPort(SocketHandle socket) {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

int SetBroadcastOption(SocketHandle socket) {
    const int on = 1;
    if (::setsockopt(Fd(socket), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        return errno;
    }
    return 0;
}

int RequestReceiveBuffer(SocketHandle socket, int bytes) {
    ::setsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0) {
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
        const ssize_t sent = ::sendto(Fd(socket), data, size, kSendFlags,
                                      reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        if (sent >= 0) {
            return 0;
        }
        const int code = errno;
        if (code == EINTR) {
            continue;
        }
        // Rounded up, so the last wait is never one of 0 ms that returns at once.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if ((code != EAGAIN && code != EWOULDBLOCK) || left.count() <= 0 ||
            !WaitWritable(Fd(socket), left)) {
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
    for (;;) {
        sockaddr_in from{};
        iovec part{buffer, capacity};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        // With MSG_TRUNC Linux answers the datagram's real length; elsewhere the
        // MSG_TRUNC of msg_flags tells that it did not fit.
        const ssize_t got = ::recvmsg(Fd(socket), &message, MSG_TRUNC | MSG_DONTWAIT);
        if (got >= 0) {
            result.sender = Dotted(from.sin_addr);
            if (static_cast<size_t>(got) > capacity || (message.msg_flags & MSG_TRUNC) != 0) {
                result.bytes = -1;
                result.error = MessageTooLongCode();
            } else {
                result.bytes = static_cast<int>(got);
            }
            return result;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return result;
        }
        result.bytes = -1;
        result.error = errno;
        return result;
    }
}

void ShutDownSocket(SocketHandle socket) {
    // An unconnected datagram socket answers ENOTCONN but is shut down all the same.
    ::shutdown(Fd(socket), SHUT_RDWR);
}

void CloseSocket(SocketHandle socket) {
    ::close(Fd(socket));
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
        error = rc == EAI_SYSTEM && errno != 0 ? errno : ResolverCode(rc);
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
        error = ResolverCode(EAI_NONAME);
        return std::nullopt;
    }
    error = 0;
    return address;
}

std::vector<InterfaceAddress> LocalInterfaces() {
    std::vector<InterfaceAddress> interfaces;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return interfaces;
    }
    std::vector<std::string> names;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        InterfaceAddress found;
        sockaddr_in addr{};
        std::memcpy(&addr, entry->ifa_addr, sizeof addr);
        found.address = ntohl(addr.sin_addr.s_addr);
        found.up = (entry->ifa_flags & IFF_UP) != 0;
        found.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        found.broadcastCapable = (entry->ifa_flags & IFF_BROADCAST) != 0;
        if (found.broadcastCapable && entry->ifa_broadaddr != nullptr &&
            entry->ifa_broadaddr->sa_family == AF_INET) {
            sockaddr_in broadcast{};
            std::memcpy(&broadcast, entry->ifa_broadaddr, sizeof broadcast);
            found.broadcast = ntohl(broadcast.sin_addr.s_addr);
        }
        if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET) {
            sockaddr_in netmask{};
            std::memcpy(&netmask, entry->ifa_netmask, sizeof netmask);
            found.netmask = ntohl(netmask.sin_addr.s_addr);
        }
        interfaces.push_back(found);
        names.emplace_back(InterfaceName(entry->ifa_name));
    }
    ::freeifaddrs(list);

    if (const std::optional<uint32_t> source = LimitedBroadcastSource()) {
        for (size_t i = 0; i < interfaces.size(); ++i) {
            if (interfaces[i].address != *source) {
                continue;
            }
            for (size_t j = 0; j < interfaces.size(); ++j) {
                if (names[j] == names[i]) {
                    interfaces[j].carriesLimitedBroadcast = true;
                }
            }
        }
    }
    return interfaces;
}

#ifdef __linux__
namespace {

// Whether the interface carries broadcasts (a tunnel or other point-to-point
// link does not).
bool CarriesBroadcasts(int interfaceIndex) {
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(static_cast<unsigned>(interfaceIndex), name) == nullptr) {
        return true;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return true;
    }
    ifreq request{};
    std::memcpy(request.ifr_name, name, sizeof name);
    const bool known = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    ::close(fd);
    return !known ||
           ((request.ifr_flags & IFF_BROADCAST) != 0 && (request.ifr_flags & IFF_POINTOPOINT) == 0);
}

}  // namespace

// The kernel's own answer for one destination ("ip route get"), over netlink.
bool IsBeyondRouter(uint32_t address) {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return false;
    }
    struct {
        nlmsghdr header;
        rtmsg route;
        char attributes[RTA_SPACE(sizeof(uint32_t))];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg)) + RTA_SPACE(sizeof(uint32_t));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    rtattr* const destination = reinterpret_cast<rtattr*>(request.attributes);
    destination->rta_type = RTA_DST;
    destination->rta_len = RTA_LENGTH(sizeof(uint32_t));
    const uint32_t wire = htonl(address);
    std::memcpy(RTA_DATA(destination), &wire, sizeof wire);

    // The kernel answers while it takes the request; the timeout only guards.
    const timeval timeout{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    alignas(nlmsghdr) char answer[4096];
    ssize_t length = -1;
    if (::send(fd, &request, request.header.nlmsg_len, 0) ==
        static_cast<ssize_t>(request.header.nlmsg_len)) {
        length = ::recv(fd, answer, sizeof answer, 0);
    }
    ::close(fd);

    bool gateway = false;
    int interfaceIndex = 0;
    bool unicast = false;
    int remaining = static_cast<int>(length);
    for (const nlmsghdr* header = reinterpret_cast<const nlmsghdr*>(answer);
         length > 0 && NLMSG_OK(header, remaining); header = NLMSG_NEXT(header, remaining)) {
        if (header->nlmsg_type != RTM_NEWROUTE) {
            continue;  // an error: no route
        }
        const rtmsg* const route = static_cast<const rtmsg*>(NLMSG_DATA(header));
        unicast = route->rtm_type == RTN_UNICAST;
        int attributesLength = static_cast<int>(RTM_PAYLOAD(header));
        for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, attributesLength);
             attribute = RTA_NEXT(attribute, attributesLength)) {
            if (attribute->rta_type == RTA_GATEWAY) {
                gateway = true;
            } else if (attribute->rta_type == RTA_OIF && RTA_PAYLOAD(attribute) >= sizeof(int)) {
                std::memcpy(&interfaceIndex, RTA_DATA(attribute), sizeof interfaceIndex);
            }
        }
    }
    return unicast && (gateway || (interfaceIndex > 0 && !CarriesBroadcasts(interfaceIndex)));
}
#else
bool IsBeyondRouter(uint32_t) {
    return false;
}
#endif

std::string SocketErrorMessage(int code) {
    if (code < 0) {
        return SystemTextToUtf8(::gai_strerror(EaiFromResolverCode(code)));
    }
    char buffer[256] = {};
    const char* text = ErrorText(::strerror_r(code, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0') {
        return "Unknown error " + std::to_string(code);
    }
    return SystemTextToUtf8(text);
}

int InvalidArgumentCode() {
    return EINVAL;
}

int MessageTooLongCode() {
    return EMSGSIZE;
}

bool IsUnreachableCode(int code) {
    return code == EHOSTUNREACH || code == ENETUNREACH;
}

}  // namespace platform
