// tests/e2e/FloodPeers.cpp
// Plays many peers of the program from a host of their own (run it inside that
// host's network namespace). Every peer has its own source address, chosen per
// datagram with IP_PKTINFO, so the program sees one sender per address.
//
//   flood_peers peers --target A --count N --log FILE [--period S] [--seconds S]
//       Binds port 23654, announces the N peers as real copies do (every period,
//       spread over it) and writes every datagram that comes from A to FILE:
//       "<unix time> <src> <dst> <length> <type> <subtype> <rest>", where rest is
//       "<status> <name>|<group>" for presence and the text for a message.
//       Runs until SIGTERM/SIGINT or for the given seconds.
//   flood_peers flood --target A --count N --seconds S [--no-groups]
//       Sends a mixed stream of valid and malformed datagrams to A as fast as it
//       can for exactly S seconds, then prints what it offered, by kind.
//   flood_peers sink --seconds S
//       Binds port 23654, only reads and discards for S seconds, then prints how
//       many it read and the rate between the first and the last.
//   flood_peers settle --target A --count N [--seconds S]
//       Every peer announces itself once more as it always does, unicast to A and
//       spread over S seconds (default 0.5): after a flood, in which the kernel
//       dropped some of each pair of status changes, all peers are as before.
//   flood_peers send --from ADDR --target A group TEXT
//       One group assignment from ADDR.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint16_t kPort = 23654;
constexpr size_t kPresenceLength = 102;
constexpr size_t kOversizedLength = 600;

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int /*number*/) {
    g_stop = true;
}

void InstallStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

struct Options {
    std::string mode;
    in_addr target{};
    in_addr from{};
    int count = 1000;
    double seconds = 0;
    double period = 5;
    bool groups = true;
    std::string logPath;
    std::vector<std::string> rest;
};

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr, "flood_peers: %s\n", why);
    std::exit(2);
}

in_addr ParseAddress(const char* text) {
    in_addr addr{};
    if (inet_pton(AF_INET, text, &addr) != 1) {
        Usage("not an IPv4 address");
    }
    return addr;
}

Options ParseOptions(int argc, char** argv) {
    if (argc < 2) {
        Usage("no mode (peers, flood, sink, send)");
    }
    Options o;
    o.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                Usage("an option lacks its value");
            }
            return argv[++i];
        };
        if (arg == "--target") {
            o.target = ParseAddress(value());
        } else if (arg == "--from") {
            o.from = ParseAddress(value());
        } else if (arg == "--count") {
            o.count = std::atoi(value());
        } else if (arg == "--seconds") {
            o.seconds = std::atof(value());
        } else if (arg == "--period") {
            o.period = std::atof(value());
        } else if (arg == "--log") {
            o.logPath = value();
        } else if (arg == "--no-groups") {
            o.groups = false;
        } else {
            o.rest.push_back(arg);
        }
    }
    if (o.count < 1 || o.count > 60000) {
        Usage("--count must be 1..60000");
    }
    return o;
}

// Peer i: 10.213.1.1 upwards, away from the two hosts' own addresses.
in_addr PeerAddress(int index) {
    const uint32_t host =
        (10u << 24) | (213u << 16) | (static_cast<uint32_t>(index + 257) & 0xFFFF);
    in_addr addr{};
    addr.s_addr = htonl(host);
    return addr;
}

std::string Dotted(in_addr addr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

std::string PeerName(int index) {
    char text[32];
    std::snprintf(text, sizeof text, "user%04d@PC%04d", index + 1, index + 1);
    return text;
}

std::string PeerGroup(int index) {
    char text[16];
    std::snprintf(text, sizeof text, "Skupina%02d", index % 10 + 1);
    return text;
}

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int OpenSocket(bool bindPort, bool pktinfo) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("socket");
        std::exit(1);
    }
    const int on = 1;
    const int buffer = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &buffer, sizeof buffer);
    if (pktinfo) {
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    }
    if (bindPort) {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(kPort);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
            std::perror("bind 23654");
            std::exit(1);
        }
    }
    return fd;
}

// One datagram to send, with the source address it goes out from.
struct Datagram {
    std::vector<uint8_t> bytes;
    in_addr source{};
    const char* kind = "";
};

void PutWord(std::vector<uint8_t>& bytes, size_t at, int16_t value) {
    const auto raw = static_cast<uint16_t>(value);
    bytes[at] = static_cast<uint8_t>(raw & 0xFF);
    bytes[at + 1] = static_cast<uint8_t>(raw >> 8);
}

Datagram Header(in_addr source, int16_t type, int16_t subtype, size_t length, const char* kind) {
    Datagram d;
    d.source = source;
    d.kind = kind;
    d.bytes.assign(std::max<size_t>(length, 4), 0);
    PutWord(d.bytes, 0, type);
    PutWord(d.bytes, 2, subtype);
    d.bytes.resize(length);
    return d;
}

Datagram Presence(in_addr source, int16_t status, const std::string& name, const std::string& group,
                  const char* kind) {
    Datagram d = Header(source, 1, 1, kPresenceLength, kind);
    PutWord(d.bytes, 4, status);
    std::memcpy(d.bytes.data() + 6, name.data(), std::min<size_t>(name.size(), 47));
    std::memcpy(d.bytes.data() + 54, group.data(), std::min<size_t>(group.size(), 47));
    return d;
}

Datagram WithText(in_addr source, int16_t type, int16_t subtype, const std::string& text,
                  bool terminated, const char* kind) {
    Datagram d = Header(source, type, subtype, 4, kind);
    d.bytes.insert(d.bytes.end(), text.begin(), text.end());
    if (terminated) {
        d.bytes.push_back(0);
    }
    return d;
}

// Sends on a socket that is not bound to the source address: IP_PKTINFO picks
// it for each datagram, as the bench does for its peers.
class Sender {
public:
    explicit Sender(int fd) : m_fd(fd) {}

    bool Send(const Datagram& d, in_addr to) {
        sockaddr_in dest{};
        dest.sin_family = AF_INET;
        dest.sin_port = htons(kPort);
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
        return sendmsg(m_fd, &msg, 0) == static_cast<ssize_t>(d.bytes.size());
    }

    static void FillPktinfo(msghdr& msg, in_addr source) {
        cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = IPPROTO_IP;
        cmsg->cmsg_type = IP_PKTINFO;
        cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = source;
        std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);
    }

private:
    int m_fd;
};

in_addr Broadcast() {
    in_addr addr{};
    addr.s_addr = htonl(INADDR_BROADCAST);
    return addr;
}

// ---------------------------------------------------------------------------
// peers: announce and listen.

void LogDatagram(std::FILE* log, const uint8_t* data, size_t size, in_addr from, in_addr to) {
    const auto word = [&](size_t at) -> int {
        return at + 2 <= size ? static_cast<int16_t>(data[at] | (data[at + 1] << 8)) : -99999;
    };
    const auto text = [&](size_t at, size_t width) {
        std::string out;
        for (size_t i = at; i < size && i < at + width && data[i] != 0; ++i) {
            const char c = static_cast<char>(data[i]);
            out.push_back(c == '\n' || c == '\r' ? ' ' : c);
        }
        return out;
    };
    const int type = word(0);
    const int subtype = word(2);
    std::string rest;
    if (type == 1 && subtype == 1) {
        rest = std::to_string(word(4)) + " " + text(6, 48) + "|" + text(54, 48);
    } else if ((type == 1 && subtype == 2) || type == 3) {
        rest = text(4, size);
    }
    std::fprintf(log, "%.6f %s %s %zu %d %d %s\n", UnixNow(), Dotted(from).c_str(),
                 Dotted(to).c_str(), size, type, subtype, rest.c_str());
    std::fflush(log);
}

void Listen(int fd, in_addr program, std::FILE* log) {
    std::array<uint8_t, 2048> data{};
    while (!g_stop) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        sockaddr_in from{};
        iovec iov{data.data(), data.size()};
        alignas(cmsghdr) unsigned char control[256];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(fd, &msg, MSG_DONTWAIT);
        if (got < 0 || from.sin_addr.s_addr != program.s_addr) {
            continue;  // the peers' own broadcasts come back here too
        }
        in_addr to{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                to = info.ipi_addr;
            }
        }
        LogDatagram(log, data.data(), static_cast<size_t>(got), from.sin_addr, to);
    }
}

int RunPeers(const Options& o) {
    if (o.logPath.empty()) {
        Usage("peers needs --log");
    }
    std::FILE* log = std::fopen(o.logPath.c_str(), "a");
    if (log == nullptr) {
        std::perror("log");
        return 1;
    }
    const int fd = OpenSocket(true, true);
    std::thread listener(Listen, fd, o.target, log);

    std::vector<Datagram> announcements;
    for (int i = 0; i < o.count; ++i) {
        announcements.push_back(Presence(PeerAddress(i), 0, PeerName(i), PeerGroup(i), "presence"));
    }
    Sender sender(fd);
    const auto start = Clock::now();
    const auto end = o.seconds > 0 ? start + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(o.seconds))
                                   : Clock::time_point::max();
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.period));
    long long sent = 0;
    long long failed = 0;
    // Peer i announces at i/count of the period, then every period.
    for (long long slot = 0; !g_stop; ++slot) {
        const auto round = slot / o.count;
        const int peer = static_cast<int>(slot % o.count);
        const auto due = start + period * round + period * peer / o.count;
        if (due >= end) {
            break;
        }
        while (!g_stop && Clock::now() < due) {
            std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), 50ms));
        }
        if (g_stop) {
            break;
        }
        if (sender.Send(announcements[static_cast<size_t>(peer)], Broadcast())) {
            ++sent;
        } else {
            ++failed;
        }
    }
    g_stop = true;
    listener.join();
    std::fclose(log);
    close(fd);
    std::printf("peers: %lld announcements sent, %lld failed\n", sent, failed);
    return failed == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------
// flood: a mixed stream, as fast as sendmmsg goes.

// The pool the flood cycles through; weights are the share of each kind.
std::vector<Datagram> FloodPool(int count) {
    const in_addr stranger = ParseAddress("10.213.77.2");  // never announces itself
    std::vector<Datagram> pool;
    const auto peer = [&](int n) { return PeerAddress(n % count); };
    const std::string longText(300, 'x');
    for (int n = 0; pool.size() < 4000; ++n) {
        const in_addr from = peer(n * 7919);
        const std::string name = PeerName((n * 7919) % count);
        const std::string group = PeerGroup((n * 7919) % count);
        char text[64];
        std::snprintf(text, sizeof text, "flood %d from %s", n, name.c_str());
        // Valid, from known peers.
        pool.push_back(Presence(from, 0, name, group, "presence"));
        pool.push_back(Presence(from, 0, name, group, "presence"));
        pool.push_back(WithText(from, 1, 2, text, true, "text"));
        pool.push_back(WithText(from, 1, 2, n % 3 == 0 ? longText : "ahoj", true, "text"));
        pool.push_back(Header(from, 1, 8, 4, "typing"));
        pool.push_back(Header(from, 2, 2, 4, "bell"));
        if (n % 10 == 0) {
            // A status change and back, so the peer ends as it was.
            pool.push_back(Presence(from, 1, name, group, "status-change"));
            pool.push_back(Presence(from, 0, name, group, "status-change"));
        }
        if (n % 25 == 0) {
            // A status outside the table and back.
            pool.push_back(
                Presence(from, static_cast<int16_t>(9 + n % 50), name, group, "status-invalid"));
            pool.push_back(Presence(from, 0, name, group, "status-invalid"));
        }
        // Unknown kinds.
        pool.push_back(Header(from, static_cast<int16_t>(4 + n % 500), 1, 4, "unknown-type"));
        pool.push_back(Header(from, 1, static_cast<int16_t>(3 + n % 5), 4, "unknown-subtype"));
        pool.push_back(Header(from, 3, static_cast<int16_t>(n % 3), 8, "unknown-subtype"));
        pool.push_back(Header(from, static_cast<int16_t>(-1 - n % 100), -7, 12, "unknown-type"));
        // Truncated.
        pool.push_back(Header(from, 1, 1, static_cast<size_t>(n % 4), "truncated"));
        {
            Datagram cut = Presence(from, 0, name, group, "truncated");
            cut.bytes.resize(static_cast<size_t>(5 + n % 90));
            pool.push_back(cut);
        }
        pool.push_back(WithText(from, 1, 2, "no terminator here", false, "truncated"));
        pool.push_back(Header(from, 1, 2, 4, "truncated"));
        // Too long to be received.
        {
            Datagram big =
                WithText(from, 1, 2, std::string(kOversizedLength - 5, 'y'), true, "oversized");
            pool.push_back(big);
        }
        // From an address that never announced itself.
        pool.push_back(WithText(stranger, 1, 2, "from a stranger", true, "stranger"));
        pool.push_back(Header(stranger, 2, 2, 4, "stranger"));
    }
    return pool;
}

int RunFlood(const Options& o) {
    if (o.seconds <= 0) {
        Usage("flood needs --seconds");
    }
    const int fd = OpenSocket(false, false);
    const std::vector<Datagram> pool = FloodPool(o.count);

    constexpr size_t kBatch = 256;
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(kPort);
    dest.sin_addr = o.target;
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
        Sender::FillPktinfo(msg, pool[i].source);
    }
    std::map<std::string, long long> byKind;
    const in_addr groupSource = PeerAddress(0);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(o.seconds));
    long long sent = 0;
    long long failed = 0;
    int groupsSent = 0;
    size_t next = 0;
    Sender single(fd);
    for (auto now = start; now < end && !g_stop; now = Clock::now()) {
        // A group assignment once a second: each one saves the settings.
        if (o.groups && now - start >= std::chrono::seconds(groupsSent)) {
            const std::string group = "FloodGroup" + std::to_string(groupsSent + 1);
            if (single.Send(WithText(groupSource, 3, 3, group, true, "group"), o.target)) {
                ++byKind["group"];
                ++sent;
            }
            ++groupsSent;
        }
        const size_t batch = std::min(kBatch, pool.size() - next);
        const int done = sendmmsg(fd, messages.data() + next, static_cast<unsigned>(batch), 0);
        if (done < 0) {
            if (errno != EINTR && errno != ENOBUFS && errno != EAGAIN) {
                std::perror("sendmmsg");
                return 1;
            }
            ++failed;
            continue;
        }
        for (size_t i = next; i < next + static_cast<size_t>(done); ++i) {
            ++byKind[pool[i].kind];
        }
        sent += done;
        next = (next + static_cast<size_t>(done)) % pool.size();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    std::printf("flood: %lld datagrams in %.3f s (%.0f/s), %lld failed calls\n", sent, seconds,
                static_cast<double>(sent) / seconds, failed);
    for (const auto& [kind, number] : byKind) {
        std::printf("flood kind %s %lld\n", kind.c_str(), number);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// sink: the kernel's limit, for comparison.

int RunSink(const Options& o) {
    if (o.seconds <= 0) {
        Usage("sink needs --seconds");
    }
    const int fd = OpenSocket(true, false);
    std::array<uint8_t, 2048> data{};
    long long count = 0;
    std::optional<Clock::time_point> first;
    Clock::time_point last{};
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(o.seconds));
    while (!g_stop && Clock::now() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0) {
            continue;
        }
        // Read everything that is waiting, one datagram per call, as the
        // program does.
        while (recv(fd, data.data(), data.size(), MSG_DONTWAIT) >= 0) {
            ++count;
            last = Clock::now();
            if (!first) {
                first = last;
            }
        }
    }
    close(fd);
    const double span = first ? std::chrono::duration<double>(last - *first).count() : 0;
    std::printf("sink: %lld datagrams read in %.3f s (%.0f/s)\n", count, span,
                span > 0 ? static_cast<double>(count) / span : 0.0);
    return 0;
}

// ---------------------------------------------------------------------------

int RunSettle(const Options& o) {
    const int fd = OpenSocket(false, false);
    Sender sender(fd);
    const double seconds = o.seconds > 0 ? o.seconds : 0.5;
    const auto start = Clock::now();
    int failed = 0;
    for (int i = 0; i < o.count; ++i) {
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(seconds * i / o.count));
        std::this_thread::sleep_until(due);
        if (!sender.Send(Presence(PeerAddress(i), 0, PeerName(i), PeerGroup(i), "presence"),
                         o.target)) {
            ++failed;
        }
    }
    close(fd);
    return failed == 0 ? 0 : 1;
}

int RunSend(const Options& o) {
    if (o.rest.size() != 2 || o.rest[0] != "group") {
        Usage("send: group TEXT");
    }
    const int fd = OpenSocket(false, false);
    Sender sender(fd);
    const bool ok = sender.Send(WithText(o.from, 3, 3, o.rest[1], true, "group"), o.target);
    close(fd);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    InstallStopSignals();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (o.mode == "peers") {
        return RunPeers(o);
    }
    if (o.mode == "flood") {
        return RunFlood(o);
    }
    if (o.mode == "sink") {
        return RunSink(o);
    }
    if (o.mode == "settle") {
        return RunSettle(o);
    }
    if (o.mode == "send") {
        return RunSend(o);
    }
    Usage("unknown mode");
}
