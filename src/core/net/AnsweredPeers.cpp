// src/core/net/AnsweredPeers.cpp
#include "core/net/AnsweredPeers.h"

#include <iterator>
#include <utility>

AnsweredPeers::AnsweredPeers(const Clock& clock, RouteCheck beyondRouter)
    : m_clock(clock), m_beyondRouter(std::move(beyondRouter)) {}

void AnsweredPeers::Heard(uint32_t address, bool goodbye) {
    const int64_t now = m_clock.NowSeconds();
    std::unique_lock lock(m_mutex);
    const auto known = m_index.find(address);
    if (known != m_index.end()) {
        m_peers.erase(known->second);
        m_index.erase(known);
        if (goodbye) {
            return;
        }
    } else if (goodbye || !Admit(address, now, lock) || m_index.contains(address)) {
        return;
    }
    Expire(now);
    if (m_peers.size() == kMax) {
        m_index.erase(m_peers.front().first);
        m_peers.pop_front();
    }
    m_peers.emplace_back(address, now);
    m_index.emplace(address, std::prev(m_peers.end()));
}

bool AnsweredPeers::Admit(uint32_t address, int64_t now, std::unique_lock<std::mutex>& lock) {
    if (const auto found = m_onLink.find(address); found != m_onLink.end()) {
        if (now - found->second < kRecheckAfter) {
            return false;
        }
        m_onLink.erase(found);
    }
    if (now != m_checkSecond) {
        m_checkSecond = now;
        m_checks = 0;
    }
    if (m_checks == kChecksPerSecond) {
        return false;  // asked again at its next announcement
    }
    ++m_checks;
    // The system's answer may take a moment: the broadcasts are not held up.
    lock.unlock();
    const bool beyond = m_beyondRouter(address);
    lock.lock();
    if (!beyond) {
        if (m_onLink.size() == kMaxOnLink) {
            m_onLink.clear();
        }
        m_onLink[address] = now;
    }
    return beyond;
}

void AnsweredPeers::Expire(int64_t now) {
    while (!m_peers.empty() && now - m_peers.front().second > kSilence) {
        m_index.erase(m_peers.front().first);
        m_peers.pop_front();
    }
}

std::vector<uint32_t> AnsweredPeers::Addresses() {
    std::lock_guard lock(m_mutex);
    Expire(m_clock.NowSeconds());
    std::vector<uint32_t> addresses;
    addresses.reserve(m_peers.size());
    for (const auto& [address, heard] : m_peers) {
        addresses.push_back(address);
    }
    return addresses;
}
