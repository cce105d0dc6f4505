// src/core/peers/DatagramHandOver.h
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>
#include <vector>

#include "core/base/UiPoster.h"

// One received datagram on its way to the user-interface thread, or a receive
// that failed.
struct Arrival {
    uint32_t sender = 0;  // host order; 0 where a failure has none
    int error = 0;        // the failure's code; 0 for a datagram
    std::vector<uint8_t> bytes;
};

// The ordered hand-over from the receive thread to the user-interface thread.
// The queue holds at most `capacity` arrivals: when it is full the receive
// thread waits instead of reading, so a flood is dropped by the system, never
// here. The first arrival in an empty queue posts one drain; a drain dispatches
// a bounded batch in order of arrival and posts itself again while more wait.
// It counts, per sender, the datagrams not yet dispatched: the receive thread
// may settle a sender's datagram itself only when none is waiting.
class DatagramHandOver {
public:
    static constexpr size_t kCapacity = 16384;
    static constexpr size_t kDrainBatch = 256;
    using Dispatch = std::function<void(const Arrival&)>;

    DatagramHandOver(UiPoster& poster, Dispatch dispatch, size_t capacity = kCapacity,
                     size_t drainBatch = kDrainBatch);
    DatagramHandOver(const DatagramHandOver&) = delete;
    DatagramHandOver& operator=(const DatagramHandOver&) = delete;

    // Receive thread. Waits while the queue is full; returns the room left,
    // 0 once stopped.
    size_t WaitForRoom();
    // For each sender, whether it still has a datagram to be dispatched.
    void FindWaiting(std::span<const uint32_t> senders, std::vector<bool>& waiting) const;
    // Appends the arrivals in their order and empties the vector.
    void Push(std::vector<Arrival>& arrivals);

    // User-interface thread: `begin` is called before a drain dispatches its
    // batch and `end` after it, also when it stops early.
    void SetBatchBounds(std::function<void()> begin, std::function<void()> end);

    // Any thread: ends a wait for room and every later one; no drain dispatches
    // anything more.
    void Stop();
    size_t Size() const;
    // How often the receive thread found the queue full.
    uint64_t FullWaits() const;

    // User-interface thread: dispatches the next batch. A drain started while
    // another is on the stack (from a nested event loop) does nothing; the
    // outer one goes on in order.
    void Drain();

private:
    void PostDrain();

    UiPoster& m_poster;
    Dispatch m_dispatch;
    const size_t m_capacity;
    const size_t m_drainBatch;

    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    std::deque<Arrival> m_queue;
    std::unordered_map<uint32_t, uint32_t> m_waiting;  // sender -> datagrams not yet dispatched
    bool m_drainPosted = false;                        // a drain is posted or running
    uint64_t m_fullWaits = 0;
    std::atomic<bool> m_stopped{false};

    // User-interface thread only.
    bool m_draining = false;
    std::vector<Arrival> m_batch;
    std::function<void()> m_batchBegin;
    std::function<void()> m_batchEnd;

    std::shared_ptr<DatagramHandOver*> m_alive = std::make_shared<DatagramHandOver*>(this);
};
