// src/core/peers/DatagramReceiver.h
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "core/base/Clock.h"
#include "core/peers/DatagramHandOver.h"
#include "core/peers/PeerDirectory.h"
#include "platform/Socket.h"
#include "platform/SocketReceiver.h"

// The thread that owns the socket's receive side. It sleeps in the socket
// until datagrams arrive and reads them in batches. A presence that changes
// nothing visible (a known peer's, with the name, group and status its record
// has) only refreshes the record's time last heard, under the directory lock,
// provided no datagram of that sender still waits to be dispatched; everything
// else goes to the user-interface thread through the hand-over, in order of
// arrival, but for this computer's own datagrams that the dispatcher would
// drop in silence. This computer's datagrams go over as from one address,
// whichever of its interfaces they came back by. While the hand-over is full
// it reads nothing.
class DatagramReceiver {
public:
    using Batch = std::span<const platform::SocketReceiver::Datagram>;

    struct Services {
        PeerDirectory& directory;
        const Clock& clock;
        DatagramHandOver& handOver;
        // For a sender address (host order) of this computer, the one address
        // all its datagrams count as from; nothing for another computer's.
        std::function<std::optional<uint32_t>(uint32_t)> ownSender;
        // "ShowMySelf": without it this computer's own presence means nothing,
        // and so do its messages, typing notices and bells while it has no
        // record; they are dropped here.
        std::function<bool()> showMySelf;
        // Every other computer's presence, on the receive thread, with
        // whether it is a goodbye; empty: none is told.
        std::function<void(uint32_t sender, bool goodbye)> presenceHeard = {};
    };

    explicit DatagramReceiver(Services services) : m_s(std::move(services)) {}
    ~DatagramReceiver();  // stops and joins
    DatagramReceiver(const DatagramReceiver&) = delete;
    DatagramReceiver& operator=(const DatagramReceiver&) = delete;

    // Starts reading the socket, which must stay open until Join(). False when
    // the thread's wake-up could not be made; nothing is then read.
    bool Start(platform::SocketHandle socket);
    // Any thread: wakes the thread wherever it waits and stops the hand-over.
    // The stop holds for good.
    void RequestStop();
    void Join();
    bool Running() const { return m_thread.joinable(); }

    // What the thread does with each batch it has read.
    void Absorb(Batch batch);

private:
    void Run();
    // The record still says what the announcement says; its time last heard
    // is then refreshed. Under the directory lock.
    bool RefreshIfUnchanged(uint32_t sender, const uint8_t* data, size_t size, int64_t now);

    Services m_s;
    std::atomic<bool> m_stopRequested{false};
    std::unique_ptr<platform::SocketReceiver> m_socket;
    std::thread m_thread;

    // Per batch, reused.
    std::vector<uint32_t> m_senders;
    std::vector<bool> m_waiting;
    std::vector<bool> m_candidate;
    std::vector<bool> m_ownDropped;
    std::vector<uint32_t> m_handedOver;
    std::vector<Arrival> m_arrivals;
};
