// src/platform/posix/SocketReceiverPosix.cpp
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <vector>

#include "platform/SocketReceiver.h"

namespace platform {

// The wait is the read itself: one blocking recvmmsg() that returns as soon as
// one datagram is in, with whatever else is already waiting. Stop() shuts the
// socket down for reading, which Linux turns into an immediate return of the
// blocked read and of every later one. After a full batch the next read does
// not block, since more is likely waiting.
struct SocketReceiver::Impl {
    int fd = -1;
    std::atomic<bool> stopped{false};
    size_t capacity = 0;
    bool mayHaveMore = false;
    size_t filled = 0;  // headers the last read wrote into
    std::vector<uint8_t> buffers;
    std::array<mmsghdr, kMaxBatch> headers{};
    std::array<iovec, kMaxBatch> parts{};
    std::array<sockaddr_in, kMaxBatch> senders{};
    std::array<Datagram, kMaxBatch> out{};
};

SocketReceiver::SocketReceiver(SocketHandle socket, size_t capacity)
    : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.fd = static_cast<int>(socket);
    impl.capacity = capacity;
    impl.buffers.resize(kMaxBatch * capacity);
    for (size_t i = 0; i < kMaxBatch; ++i) {
        impl.parts[i] = iovec{impl.buffers.data() + i * capacity, capacity};
        msghdr& header = impl.headers[i].msg_hdr;
        header.msg_name = &impl.senders[i];
        header.msg_namelen = sizeof(sockaddr_in);
        header.msg_iov = &impl.parts[i];
        header.msg_iovlen = 1;
    }
}

SocketReceiver::~SocketReceiver() = default;

bool SocketReceiver::IsValid() const {
    return true;
}

std::span<const SocketReceiver::Datagram> SocketReceiver::Receive(size_t limit) {
    Impl& impl = *m_impl;
    const size_t count = limit < kMaxBatch ? limit : kMaxBatch;
    if (count == 0) {
        return {};
    }
    for (;;) {
        if (impl.stopped.load()) {
            return {};
        }
        // The system writes the sender's length back only into the headers it filled.
        for (size_t i = 0; i < impl.filled; ++i) {
            impl.headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        }
        impl.filled = 0;
        // With MSG_TRUNC Linux answers each datagram's real length.
        const int flags = (impl.mayHaveMore ? MSG_DONTWAIT : MSG_WAITFORONE) | MSG_TRUNC;
        const int got =
            ::recvmmsg(impl.fd, impl.headers.data(), static_cast<unsigned>(count), flags, nullptr);
        if (got <= 0) {
            const int code = got < 0 ? errno : EAGAIN;
            impl.mayHaveMore = false;
            if (code == EINTR || code == EAGAIN || code == EWOULDBLOCK) {
                continue;
            }
            impl.out[0] = Datagram{nullptr, -1, code, 0};
            return {impl.out.data(), 1};
        }
        auto read = static_cast<size_t>(got);
        impl.filled = read;
        impl.mayHaveMore = read == count;
        for (size_t i = 0; i < read; ++i) {
            const mmsghdr& header = impl.headers[i];
            // A read of a socket shut down for reading returns at once with no
            // datagram and no sender; every datagram has a sender.
            if (header.msg_hdr.msg_namelen == 0) {
                impl.stopped.store(true);
                read = i;
                break;
            }
            Datagram& datagram = impl.out[i];
            datagram.data = static_cast<const uint8_t*>(impl.parts[i].iov_base);
            datagram.sender = header.msg_hdr.msg_namelen >= sizeof(sockaddr_in)
                                  ? ntohl(impl.senders[i].sin_addr.s_addr)
                                  : 0;
            if (header.msg_len > impl.capacity || (header.msg_hdr.msg_flags & MSG_TRUNC) != 0) {
                datagram.bytes = -1;
                datagram.error = MessageTooLongCode();
            } else {
                datagram.bytes = static_cast<int>(header.msg_len);
                datagram.error = 0;
            }
        }
        if (read == 0) {
            return {};
        }
        return {impl.out.data(), read};
    }
}

void SocketReceiver::Stop() {
    m_impl->stopped.store(true);
    // An unconnected datagram socket answers ENOTCONN but is shut down all the same.
    ::shutdown(m_impl->fd, SHUT_RD);
}

}  // namespace platform
