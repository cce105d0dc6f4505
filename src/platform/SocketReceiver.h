// src/platform/SocketReceiver.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/Socket.h"

namespace platform {

// The receive side of a datagram socket, for the one thread that reads it.
// Receive() blocks until datagrams are waiting and reads them in a batch; it
// does not wake up for anything else. Stop(), from any thread, ends the wait
// at once, and every later Receive() returns nothing.
class SocketReceiver {
public:
    static constexpr size_t kMaxBatch = 64;

    // One datagram as read, or a failed read (bytes < 0, error set; a datagram
    // longer than the capacity is consumed and fails with MessageTooLongCode()).
    // The sender's address is in host order; it is 0 where a failure has none.
    struct Datagram {
        const uint8_t* data = nullptr;
        int bytes = 0;
        int error = 0;
        uint32_t sender = 0;
    };

    // Datagrams are read into buffers of `capacity` bytes each. The socket
    // stays the caller's and must outlive the receiver.
    SocketReceiver(SocketHandle socket, size_t capacity);
    ~SocketReceiver();
    SocketReceiver(const SocketReceiver&) = delete;
    SocketReceiver& operator=(const SocketReceiver&) = delete;

    // False when the wake-up could not be made (then Receive() returns nothing).
    bool IsValid() const;

    // Waits until a datagram is waiting, then reads at most `limit` of them
    // (at most kMaxBatch), in order of arrival. Empty once stopped, and where
    // the system tells a reader (POSIX), once the socket was shut down for
    // reading and what was waiting has been read: nothing more will come. The
    // datagrams stay valid until the next call.
    std::span<const Datagram> Receive(size_t limit);

    // Any thread: ends a running wait and every later one. On POSIX it does so
    // by shutting the socket down for reading.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
