// tests/e2e/PeerFlood.h
// Many peers of the program played from one host. Every peer has its own
// source address, chosen per datagram with IP_PKTINFO on a socket that is not
// bound to it, so the program sees one sender per address (the addresses must
// be on the host's interface). Also the floods the end-to-end test and the
// benchmarks send, and a receiver that only reads, to compare with.
// Header only, Linux only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace peerflood {

constexpr uint16_t kPort = 23654;
constexpr size_t kPresenceLength = 102;
constexpr size_t kOversizedLength = 600;
constexpr int16_t kReady = 0;
constexpr int16_t kBusy = 1;

// Peer i: 10.213.1.1 upwards, away from the two hosts' own addresses.
inline in_addr PeerAddress(int index) {
    const uint32_t host =
        (10u << 24) | (213u << 16) | (static_cast<uint32_t>(index + 257) & 0xFFFF);
    in_addr addr{};
    addr.s_addr = htonl(host);
    return addr;
}

inline std::string Dotted(in_addr addr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

inline std::string PeerName(int index) {
    char text[32];
    std::snprintf(text, sizeof text, "user%04d@PC%04d", index + 1, index + 1);
    return text;
}

// Peer i's group among `groups` groups: "Skupina01".. for up to 99 of them,
// "Skupina0001".. beyond.
inline std::string PeerGroup(int index, int groups = 10) {
    char text[24];
    std::snprintf(text, sizeof text, groups < 100 ? "Skupina%02d" : "Skupina%04d",
                  index % groups + 1);
    return text;
}

// One datagram to send, with the source address it goes out from.
struct Datagram {
    std::vector<uint8_t> bytes;
    in_addr source{};
    const char* kind = "";
};

inline void PutWord(std::vector<uint8_t>& bytes, size_t at, int16_t value) {
    const auto raw = static_cast<uint16_t>(value);
    bytes[at] = static_cast<uint8_t>(raw & 0xFF);
    bytes[at + 1] = static_cast<uint8_t>(raw >> 8);
}

inline Datagram Header(in_addr source, int16_t type, int16_t subtype, size_t length,
                       const char* kind) {
    Datagram d;
    d.source = source;
    d.kind = kind;
    d.bytes.assign(std::max<size_t>(length, 4), 0);
    PutWord(d.bytes, 0, type);
    PutWord(d.bytes, 2, subtype);
    d.bytes.resize(length);
    return d;
}

inline Datagram Presence(in_addr source, int16_t status, const std::string& name,
                         const std::string& group, const char* kind) {
    Datagram d = Header(source, 1, 1, kPresenceLength, kind);
    PutWord(d.bytes, 4, status);
    std::memcpy(d.bytes.data() + 6, name.data(), std::min<size_t>(name.size(), 47));
    std::memcpy(d.bytes.data() + 54, group.data(), std::min<size_t>(group.size(), 47));
    return d;
}

// Peer i's announcement, as a real copy sends it.
inline Datagram Announcement(int index, int16_t status = kReady, const char* kind = "presence",
                             int groups = 10) {
    return Presence(PeerAddress(index), status, PeerName(index), PeerGroup(index, groups), kind);
}

inline Datagram WithText(in_addr source, int16_t type, int16_t subtype, const std::string& text,
                         bool terminated, const char* kind) {
    Datagram d = Header(source, type, subtype, 4, kind);
    d.bytes.insert(d.bytes.end(), text.begin(), text.end());
    if (terminated) {
        d.bytes.push_back(0);
    }
    return d;
}

// The control message that picks the source address; msg_control must hold
// CMSG_SPACE(sizeof(in_pktinfo)) bytes.
inline void FillPktinfo(msghdr& msg, in_addr source) {
    cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = IPPROTO_IP;
    cmsg->cmsg_type = IP_PKTINFO;
    cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = source;
    std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);
}

inline bool SendFrom(int fd, const Datagram& d, in_addr to, uint16_t port = kPort) {
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(port);
    dest.sin_addr = to;
    iovec iov{const_cast<uint8_t*>(d.bytes.data()), d.bytes.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &dest;
    msg.msg_namelen = sizeof dest;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    FillPktinfo(msg, d.source);
    return sendmsg(fd, &msg, 0) == static_cast<ssize_t>(d.bytes.size());
}

inline in_addr Broadcast() {
    in_addr addr{};
    addr.s_addr = htonl(INADDR_BROADCAST);
    return addr;
}

// ---------------------------------------------------------------------------
// Floods: a pool of datagrams sent round and round.

enum class FloodKind {
    Mixed,          // valid and malformed datagrams of every kind
    Unchanged,      // every peer announces itself as before
    StatusChanges,  // the same, but 1 % of the announcements change a status
    Wandering,      // peer 0 announces itself in a new group in every datagram
};

inline bool ParseFloodKind(const std::string& text, FloodKind& kind) {
    static const std::map<std::string, FloodKind> names = {{"mixed", FloodKind::Mixed},
                                                           {"unchanged", FloodKind::Unchanged},
                                                           {"status", FloodKind::StatusChanges},
                                                           {"wander", FloodKind::Wandering}};
    const auto found = names.find(text);
    if (found == names.end()) {
        return false;
    }
    kind = found->second;
    return true;
}

// The mixed pool of `count` known peers; each kind's share is its number of
// entries per round.
inline std::vector<Datagram> MixedPool(int count) {
    in_addr stranger{};  // the second host's own address, which never announces itself
    inet_pton(AF_INET, "10.213.77.2", &stranger);
    std::vector<Datagram> pool;
    const std::string longText(300, 'x');
    for (int n = 0; pool.size() < 4000; ++n) {
        const int index = (n * 7919) % count;
        const in_addr from = PeerAddress(index);
        const std::string name = PeerName(index);
        const std::string group = PeerGroup(index);
        char text[64];
        std::snprintf(text, sizeof text, "flood %d from %s", n, name.c_str());
        // Valid, from known peers.
        pool.push_back(Presence(from, kReady, name, group, "presence"));
        pool.push_back(Presence(from, kReady, name, group, "presence"));
        pool.push_back(WithText(from, 1, 2, text, true, "text"));
        pool.push_back(WithText(from, 1, 2, n % 3 == 0 ? longText : "ahoj", true, "text"));
        pool.push_back(Header(from, 1, 8, 4, "typing"));
        pool.push_back(Header(from, 2, 2, 4, "bell"));
        if (n % 10 == 0) {
            // A status change and back, so the peer ends as it was.
            pool.push_back(Presence(from, kBusy, name, group, "status-change"));
            pool.push_back(Presence(from, kReady, name, group, "status-change"));
        }
        if (n % 25 == 0) {
            // A status outside the table and back.
            pool.push_back(
                Presence(from, static_cast<int16_t>(9 + n % 50), name, group, "status-invalid"));
            pool.push_back(Presence(from, kReady, name, group, "status-invalid"));
        }
        // Unknown kinds.
        pool.push_back(Header(from, static_cast<int16_t>(4 + n % 500), 1, 4, "unknown-type"));
        pool.push_back(Header(from, 1, static_cast<int16_t>(3 + n % 5), 4, "unknown-subtype"));
        pool.push_back(Header(from, 3, static_cast<int16_t>(n % 3), 8, "unknown-subtype"));
        pool.push_back(Header(from, static_cast<int16_t>(-1 - n % 100), -7, 12, "unknown-type"));
        // Truncated.
        pool.push_back(Header(from, 1, 1, static_cast<size_t>(n % 4), "truncated"));
        Datagram cut = Presence(from, kReady, name, group, "truncated");
        cut.bytes.resize(static_cast<size_t>(5 + n % 90));
        pool.push_back(cut);
        pool.push_back(WithText(from, 1, 2, "no terminator here", false, "truncated"));
        pool.push_back(Header(from, 1, 2, 4, "truncated"));
        // Too long to be received.
        pool.push_back(
            WithText(from, 1, 2, std::string(kOversizedLength - 5, 'y'), true, "oversized"));
        // From an address that never announced itself.
        pool.push_back(WithText(stranger, 1, 2, "from a stranger", true, "stranger"));
        pool.push_back(Header(stranger, 2, 2, 4, "stranger"));
    }
    return pool;
}

// The pool of a kind for `count` peers in `groups` groups that were all
// announced before.
inline std::vector<Datagram> FloodPool(FloodKind kind, int count, int groups = 10) {
    if (kind == FloodKind::Mixed) {
        return MixedPool(count);
    }
    std::vector<Datagram> pool;
    if (kind == FloodKind::Unchanged) {
        for (int i = 0; i < count; ++i) {
            pool.push_back(Announcement(i, kReady, "presence", groups));
        }
        return pool;
    }
    if (kind == FloodKind::Wandering) {
        // 20,000 group names, then the same again.
        for (int n = 0; n < 20000; ++n) {
            char group[24];
            std::snprintf(group, sizeof group, "Toulava%05d", n);
            pool.push_back(Presence(PeerAddress(0), kReady, PeerName(0), group, "group-change"));
        }
        return pool;
    }
    // Two rounds: every 100th peer is busy in the first and ready in the
    // second, so each of its announcements is a change, 1 % of all of them.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < count; ++i) {
            const bool changes = i % 100 == 0;
            pool.push_back(Announcement(i, changes && round == 0 ? kBusy : kReady,
                                        changes ? "status-change" : "presence", groups));
        }
    }
    return pool;
}

struct FloodTotals {
    long long sent = 0;
    long long failedCalls = 0;
    double seconds = 0;
    std::map<std::string, long long> byKind;
};

// Sends the pool round and round with sendmmsg to `to` for `seconds` or until
// `stop`; with `groups`, also a group assignment from peer 0 once a second
// (each of which makes the program save its settings).
inline FloodTotals SendFlood(int fd, const std::vector<Datagram>& pool, in_addr to, double seconds,
                             bool groups, const std::atomic<bool>& stop) {
    using Clock = std::chrono::steady_clock;
    constexpr size_t kBatch = 256;
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(kPort);
    dest.sin_addr = to;
    struct Slot {
        iovec iov{};
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    };
    std::vector<Slot> slots(pool.size());
    std::vector<mmsghdr> messages(pool.size());
    for (size_t i = 0; i < pool.size(); ++i) {
        slots[i].iov = {const_cast<uint8_t*>(pool[i].bytes.data()), pool[i].bytes.size()};
        msghdr& msg = messages[i].msg_hdr;
        msg.msg_name = &dest;
        msg.msg_namelen = sizeof dest;
        msg.msg_iov = &slots[i].iov;
        msg.msg_iovlen = 1;
        msg.msg_control = slots[i].control;
        msg.msg_controllen = sizeof slots[i].control;
        FillPktinfo(msg, pool[i].source);
    }
    FloodTotals totals;
    long long rounds = 0;
    size_t next = 0;
    int groupsSent = 0;
    const auto start = Clock::now();
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (auto now = start; now < end && !stop; now = Clock::now()) {
        if (groups && now - start >= std::chrono::seconds(groupsSent)) {
            ++groupsSent;
            const std::string group = "FloodGroup" + std::to_string(groupsSent);
            if (SendFrom(fd, WithText(PeerAddress(0), 3, 3, group, true, "group"), to)) {
                ++totals.byKind["group"];
                ++totals.sent;
            }
        }
        const size_t batch = std::min(kBatch, pool.size() - next);
        const int done = sendmmsg(fd, messages.data() + next, static_cast<unsigned>(batch), 0);
        if (done < 0) {
            if (errno != EINTR && errno != ENOBUFS && errno != EAGAIN) {
                std::perror("sendmmsg");
                break;
            }
            ++totals.failedCalls;
            continue;
        }
        totals.sent += done;
        next += static_cast<size_t>(done);
        if (next == pool.size()) {
            next = 0;
            ++rounds;
        }
    }
    totals.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (size_t i = 0; i < pool.size(); ++i) {
        totals.byKind[pool[i].kind] += rounds + (i < next ? 1 : 0);
    }
    return totals;
}

// What a receiver that does nothing else does: blocks until a datagram is
// there, then reads it alone (batch 1: recv) or with all that wait, up to the
// batch (recvmmsg), and discards them.
class Discarder {
public:
    explicit Discarder(unsigned batch)
        : m_buffers(std::max(batch, 1u), std::vector<uint8_t>(2048)),
          m_iovs(m_buffers.size()),
          m_messages(m_buffers.size()) {
        for (size_t i = 0; i < m_buffers.size(); ++i) {
            m_iovs[i] = {m_buffers[i].data(), m_buffers[i].size()};
            m_messages[i].msg_hdr.msg_iov = &m_iovs[i];
            m_messages[i].msg_hdr.msg_iovlen = 1;
        }
    }

    // How many it read, or -1.
    int Read(int fd) {
        if (m_messages.size() == 1) {
            return recv(fd, m_buffers[0].data(), m_buffers[0].size(), 0) >= 0 ? 1 : -1;
        }
        return recvmmsg(fd, m_messages.data(), static_cast<unsigned>(m_messages.size()),
                        MSG_WAITFORONE, nullptr);
    }

private:
    std::vector<std::vector<uint8_t>> m_buffers;
    std::vector<iovec> m_iovs;
    std::vector<mmsghdr> m_messages;
};

}  // namespace peerflood
