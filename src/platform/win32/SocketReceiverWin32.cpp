// src/platform/win32/SocketReceiverWin32.cpp

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <array>
#include <atomic>
#include <vector>

#include "platform/SocketReceiver.h"

namespace platform {

// The wait is WSAWaitForMultipleEvents on a stop event and on the socket's
// read event (WSAEventSelect); the reads are recvfrom() calls until the
// socket has nothing more or the batch is full. After a full batch the next
// read comes before any wait, since more is likely waiting.
struct SocketReceiver::Impl {
    SOCKET socket = INVALID_SOCKET;
    WSAEVENT readable = WSA_INVALID_EVENT;
    WSAEVENT stop = WSA_INVALID_EVENT;
    bool selected = false;
    std::atomic<bool> stopped{false};
    bool shutDown = false;
    size_t capacity = 0;
    bool mayHaveMore = false;
    std::vector<uint8_t> buffers;
    std::array<Datagram, kMaxBatch> out{};

    // False when the socket will give nothing more: stopped or closed.
    bool WaitReadable();
};

bool SocketReceiver::Impl::WaitReadable() {
    for (;;) {
        if (stopped.load()) {
            return false;
        }
        // The stop first: when both are set, the lower index is reported.
        WSAEVENT events[2] = {stop, readable};
        const DWORD woken = ::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (woken == WSA_WAIT_EVENT_0) {
            return false;
        }
        if (woken != WSA_WAIT_EVENT_0 + 1) {
            return false;
        }
        // Also resets the read event; a datagram that arrives later sets it again.
        WSANETWORKEVENTS happened{};
        if (::WSAEnumNetworkEvents(socket, readable, &happened) != 0) {
            return false;
        }
        if ((happened.lNetworkEvents & FD_CLOSE) != 0) {
            return false;
        }
        if ((happened.lNetworkEvents & FD_READ) != 0) {
            return true;
        }
    }
}

SocketReceiver::SocketReceiver(SocketHandle socket, size_t capacity)
    : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.socket = static_cast<SOCKET>(socket);
    impl.capacity = capacity;
    impl.buffers.resize(kMaxBatch * capacity);
    impl.readable = ::WSACreateEvent();
    impl.stop = ::WSACreateEvent();
    impl.selected = impl.readable != WSA_INVALID_EVENT && impl.stop != WSA_INVALID_EVENT &&
                    ::WSAEventSelect(impl.socket, impl.readable, FD_READ | FD_CLOSE) == 0;
    if (!impl.selected) {
        impl.stopped.store(true);
    }
}

SocketReceiver::~SocketReceiver() {
    Impl& impl = *m_impl;
    if (impl.selected) {
        // Fails harmlessly when the socket is closed already.
        ::WSAEventSelect(impl.socket, nullptr, 0);
    }
    if (impl.readable != WSA_INVALID_EVENT) {
        ::WSACloseEvent(impl.readable);
    }
    if (impl.stop != WSA_INVALID_EVENT) {
        ::WSACloseEvent(impl.stop);
    }
}

bool SocketReceiver::IsValid() const {
    return m_impl->selected;
}

std::span<const SocketReceiver::Datagram> SocketReceiver::Receive(size_t limit) {
    Impl& impl = *m_impl;
    const size_t count = limit < kMaxBatch ? limit : kMaxBatch;
    if (count == 0) {
        return {};
    }
    for (;;) {
        if (impl.stopped.load() || impl.shutDown) {
            return {};
        }
        if (!impl.mayHaveMore && !impl.WaitReadable()) {
            return {};
        }
        size_t read = 0;
        bool failed = false;
        while (read < count && !failed) {
            uint8_t* buffer = impl.buffers.data() + read * impl.capacity;
            sockaddr_in from{};
            int fromLength = sizeof from;
            const int got = ::recvfrom(impl.socket, reinterpret_cast<char*>(buffer),
                                       static_cast<int>(impl.capacity), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            Datagram& datagram = impl.out[read];
            datagram.data = buffer;
            if (got != SOCKET_ERROR) {
                datagram.bytes = got;
                datagram.error = 0;
                datagram.sender = ntohl(from.sin_addr.s_addr);
                ++read;
                continue;
            }
            const int code = ::WSAGetLastError();
            if (code == WSAEWOULDBLOCK) {
                break;
            }
            if (code == WSAESHUTDOWN) {
                impl.shutDown = true;
                break;
            }
            datagram.bytes = -1;
            datagram.error = code;
            // What fitted of a datagram too long was read and the rest is gone.
            datagram.sender = code == WSAEMSGSIZE ? ntohl(from.sin_addr.s_addr) : 0;
            ++read;
            // Any other failure ends the batch: it may repeat at once.
            failed = code != WSAEMSGSIZE;
        }
        impl.mayHaveMore = read == count;
        if (read > 0) {
            return {impl.out.data(), read};
        }
    }
}

void SocketReceiver::Stop() {
    m_impl->stopped.store(true);
    if (m_impl->stop != WSA_INVALID_EVENT) {
        // Stays set: every later wait ends at once too.
        ::WSASetEvent(m_impl->stop);
    }
}

}  // namespace platform
