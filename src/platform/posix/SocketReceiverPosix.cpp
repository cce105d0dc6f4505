// src/platform/posix/SocketReceiverPosix.cpp
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <vector>

#include "platform/SocketReceiver.h"

namespace platform {

// The wait is poll() on the socket and on a pipe that Stop() writes to; the
// reads are one recvmmsg() per batch. After a full batch the next read comes
// before any wait, since more is likely waiting.
struct SocketReceiver::Impl {
    int fd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::atomic<bool> stopped{false};
    size_t capacity = 0;
    bool mayHaveMore = false;
    std::vector<uint8_t> buffers;
    std::array<mmsghdr, kMaxBatch> headers{};
    std::array<iovec, kMaxBatch> parts{};
    std::array<sockaddr_in, kMaxBatch> senders{};
    std::array<Datagram, kMaxBatch> out{};

    // False when the socket will give nothing more: stopped or shut down.
    bool WaitReadable();
};

namespace {

bool MakeWakePipe(int& readEnd, int& writeEnd) {
    int ends[2] = {-1, -1};
    if (::pipe(ends) != 0) {
        return false;
    }
    for (const int end : ends) {
        const int flags = ::fcntl(end, F_GETFL, 0);
        if (flags < 0 || ::fcntl(end, F_SETFL, flags | O_NONBLOCK) < 0 ||
            ::fcntl(end, F_SETFD, FD_CLOEXEC) < 0) {
            ::close(ends[0]);
            ::close(ends[1]);
            return false;
        }
    }
    readEnd = ends[0];
    writeEnd = ends[1];
    return true;
}

#ifdef POLLRDHUP
// Linux reports a socket shut down for reading as readable, and a read then
// finds nothing; POLLRDHUP tells the two apart.
constexpr short kShutDownEvents = POLLRDHUP | POLLHUP | POLLNVAL;
constexpr short kReadEvents = POLLIN | POLLRDHUP;
#else
constexpr short kShutDownEvents = POLLHUP | POLLNVAL;
constexpr short kReadEvents = POLLIN;
#endif

}  // namespace

bool SocketReceiver::Impl::WaitReadable() {
    for (;;) {
        if (stopped.load()) {
            return false;
        }
        pollfd watched[2] = {{fd, kReadEvents, 0}, {wakeRead, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return false;
        }
        if (watched[1].revents != 0 || (watched[0].revents & kShutDownEvents) != 0) {
            return false;
        }
        if (watched[0].revents != 0) {
            return true;
        }
    }
}

SocketReceiver::SocketReceiver(SocketHandle socket, size_t capacity)
    : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.fd = static_cast<int>(socket);
    impl.capacity = capacity;
    impl.buffers.resize(kMaxBatch * capacity);
    for (size_t i = 0; i < kMaxBatch; ++i) {
        impl.parts[i] = iovec{impl.buffers.data() + i * capacity, capacity};
    }
    if (!MakeWakePipe(impl.wakeRead, impl.wakeWrite)) {
        impl.stopped.store(true);
    }
}

SocketReceiver::~SocketReceiver() {
    if (m_impl->wakeRead >= 0) {
        ::close(m_impl->wakeRead);
        ::close(m_impl->wakeWrite);
    }
}

bool SocketReceiver::IsValid() const {
    return m_impl->wakeRead >= 0;
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
        if (!impl.mayHaveMore && !impl.WaitReadable()) {
            return {};
        }
        for (size_t i = 0; i < count; ++i) {
            msghdr& header = impl.headers[i].msg_hdr;
            header = msghdr{};
            header.msg_name = &impl.senders[i];
            header.msg_namelen = sizeof(sockaddr_in);
            header.msg_iov = &impl.parts[i];
            header.msg_iovlen = 1;
            impl.headers[i].msg_len = 0;
        }
        // With MSG_TRUNC Linux answers each datagram's real length.
        const int got = ::recvmmsg(impl.fd, impl.headers.data(), static_cast<unsigned>(count),
                                   MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (got <= 0) {
            const int code = got < 0 ? errno : EAGAIN;
            impl.mayHaveMore = false;
            if (code == EINTR || code == EAGAIN || code == EWOULDBLOCK) {
                continue;
            }
            impl.out[0] = Datagram{nullptr, -1, code, 0};
            return {impl.out.data(), 1};
        }
        const auto read = static_cast<size_t>(got);
        impl.mayHaveMore = read == count;
        for (size_t i = 0; i < read; ++i) {
            const mmsghdr& header = impl.headers[i];
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
        return {impl.out.data(), read};
    }
}

void SocketReceiver::Stop() {
    m_impl->stopped.store(true);
    if (m_impl->wakeWrite >= 0) {
        const char byte = 1;
        // The pipe stays readable: every later wait ends at once too.
        [[maybe_unused]] const ssize_t written = ::write(m_impl->wakeWrite, &byte, 1);
    }
}

}  // namespace platform
