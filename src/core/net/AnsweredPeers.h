// src/core/net/AnsweredPeers.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/base/Clock.h"

// The peers that announce themselves from beyond a router. This program's
// broadcasts do not reach them, so each broadcast also goes to them while they
// are heard: one side's "ExtraAddresses" is then enough for both sides to see
// each other. A goodbye, or kSilence seconds without a presence (when the
// liveness watcher marks the peer too), ends it.
//
// Spoofed announcements can make neither traffic nor work without bound: at
// most kMax peers are answered, the least recently heard going first; the
// system is asked whether an address lies beyond a router at most
// kChecksPerSecond times a second, and an address found on this computer's
// own links is not asked about again for kRecheckAfter seconds. Safe from any
// thread.
class AnsweredPeers {
public:
    // Whether datagrams to the address leave through a router (or a tunnel).
    using RouteCheck = std::function<bool(uint32_t address)>;

    static constexpr std::size_t kMax = 1024;
    static constexpr int64_t kSilence = 30;
    static constexpr int kChecksPerSecond = 64;
    static constexpr int64_t kRecheckAfter = 300;
    static constexpr std::size_t kMaxOnLink = 4096;

    AnsweredPeers(const Clock& clock, RouteCheck beyondRouter);

    // A presence from an address outside this computer's networks.
    void Heard(uint32_t address, bool goodbye);
    // The peers answered now, least recently heard first.
    std::vector<uint32_t> Addresses();

private:
    void Expire(int64_t now);
    // Whether the address may be answered (asks the system within the budget).
    bool Admit(uint32_t address, int64_t now, std::unique_lock<std::mutex>& lock);

    const Clock& m_clock;
    RouteCheck m_beyondRouter;
    std::mutex m_mutex;
    std::list<std::pair<uint32_t, int64_t>> m_peers;  // least recently heard first
    std::unordered_map<uint32_t, std::list<std::pair<uint32_t, int64_t>>::iterator> m_index;
    std::unordered_map<uint32_t, int64_t> m_onLink;  // address -> when it was found so
    int64_t m_checkSecond = 0;
    int m_checks = 0;
};
