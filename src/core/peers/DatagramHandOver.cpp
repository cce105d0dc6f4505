// src/core/peers/DatagramHandOver.cpp
#include "core/peers/DatagramHandOver.h"

#include <algorithm>
#include <iterator>
#include <utility>

DatagramHandOver::DatagramHandOver(UiPoster& poster, Dispatch dispatch, size_t capacity,
                                   size_t drainBatch)
    : m_poster(poster),
      m_dispatch(std::move(dispatch)),
      m_capacity(std::max<size_t>(capacity, 1)),
      m_drainBatch(std::max<size_t>(drainBatch, 1)) {}

size_t DatagramHandOver::WaitForRoom() {
    std::unique_lock lock(m_mutex);
    if (!m_stopped && m_queue.size() >= m_capacity) {
        ++m_fullWaits;
        m_room.wait(lock, [this] { return m_stopped || m_queue.size() < m_capacity; });
    }
    return m_stopped ? 0 : m_capacity - m_queue.size();
}

void DatagramHandOver::FindWaiting(std::span<const uint32_t> senders,
                                   std::vector<bool>& waiting) const {
    waiting.assign(senders.size(), false);
    std::lock_guard lock(m_mutex);
    if (m_waiting.empty()) {
        return;
    }
    for (size_t i = 0; i < senders.size(); ++i) {
        waiting[i] = m_waiting.contains(senders[i]);
    }
}

void DatagramHandOver::Push(std::vector<Arrival>& arrivals) {
    if (arrivals.empty()) {
        return;
    }
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        for (Arrival& arrival : arrivals) {
            if (arrival.error == 0) {
                ++m_waiting[arrival.sender];
            }
            m_queue.push_back(std::move(arrival));
        }
        post = !m_drainPosted && !m_stopped;
        m_drainPosted = m_drainPosted || post;
    }
    arrivals.clear();
    if (post) {
        PostDrain();
    }
}

void DatagramHandOver::SetBatchBounds(std::function<void()> begin, std::function<void()> end) {
    m_batchBegin = std::move(begin);
    m_batchEnd = std::move(end);
}

void DatagramHandOver::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_room.notify_all();
}

size_t DatagramHandOver::Size() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

uint64_t DatagramHandOver::FullWaits() const {
    std::lock_guard lock(m_mutex);
    return m_fullWaits;
}

void DatagramHandOver::PostDrain() {
    m_poster.Post([alive = std::weak_ptr<DatagramHandOver*>(m_alive)] {
        if (const auto self = alive.lock()) {
            (*self)->Drain();
        }
    });
}

void DatagramHandOver::Drain() {
    if (m_draining) {
        return;
    }
    m_draining = true;
    {
        std::lock_guard lock(m_mutex);
        const size_t count = std::min(m_queue.size(), m_drainBatch);
        m_batch.assign(std::make_move_iterator(m_queue.begin()),
                       std::make_move_iterator(m_queue.begin() + static_cast<ptrdiff_t>(count)));
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<ptrdiff_t>(count));
    }
    // The receive thread may read on while this batch is dispatched.
    m_room.notify_all();

    const bool bounded = !m_batch.empty() && m_batchBegin && m_batchEnd;
    if (bounded) {
        m_batchBegin();
    }
    for (const Arrival& arrival : m_batch) {
        if (m_stopped) {
            break;
        }
        m_dispatch(arrival);
    }
    if (bounded) {
        m_batchEnd();
    }

    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        // Only now are these datagrams dispatched: until here a newer one of
        // the same sender must not overtake them.
        for (const Arrival& arrival : m_batch) {
            if (arrival.error != 0) {
                continue;
            }
            const auto it = m_waiting.find(arrival.sender);
            if (it != m_waiting.end() && --it->second == 0) {
                m_waiting.erase(it);
            }
        }
        post = !m_queue.empty() && !m_stopped;
        m_drainPosted = post;
    }
    m_batch.clear();
    m_draining = false;
    if (post) {
        PostDrain();
    }
}
