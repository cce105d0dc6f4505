// tests/e2e/FloodPeers.cpp
// Plays many peers of the program from a host of their own (run it inside that
// host's network namespace). Every peer has its own source address, chosen per
// datagram with IP_PKTINFO, so the program sees one sender per address.
//
//   Every mode that announces peers takes --groups G: the peers are spread over G
//   groups (default 10).
//
//   flood_peers peers --target A --count N --log FILE [--period S] [--seconds S]
//       Binds port 23654, announces the N peers as real copies do (every period,
//       spread over it) and writes every datagram that comes from A to FILE:
//       "<unix time> <src> <dst> <length> <type> <subtype> <rest>", where rest is
//       "<status> <name>|<group>" for presence and the text for a message.
//       Runs until SIGTERM/SIGINT or for the given seconds.
//   flood_peers flood --target A --count N --seconds S [--kind K] [--no-groups]
//       Sends a flood to A as fast as it can for exactly S seconds, then prints
//       what it offered, by kind. K: mixed (valid and malformed datagrams of
//       every kind, and a group assignment a second; the default), unchanged
//       (every peer announces itself as before), status (the same, with 1 %
//       of the announcements changing a status) or wander (the first peer
//       announces itself in a new group in every datagram).
//   flood_peers sink --seconds S
//       Binds port 23654, only reads (recvmmsg, 64 at a time) and discards for
//       S seconds, then prints how many it read and the rate between the first
//       and the last.
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

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PeerFlood.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using namespace peerflood;

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
    int groups = 10;
    double seconds = 0;
    double period = 5;
    bool assignGroups = true;
    FloodKind kind = FloodKind::Mixed;
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
        } else if (arg == "--groups") {
            o.groups = std::atoi(value());
        } else if (arg == "--seconds") {
            o.seconds = std::atof(value());
        } else if (arg == "--period") {
            o.period = std::atof(value());
        } else if (arg == "--log") {
            o.logPath = value();
        } else if (arg == "--kind") {
            if (!ParseFloodKind(value(), o.kind)) {
                Usage("--kind must be mixed, unchanged, status or wander");
            }
        } else if (arg == "--no-groups") {
            o.assignGroups = false;
        } else {
            o.rest.push_back(arg);
        }
    }
    if (o.count < 1 || o.count > 60000) {
        Usage("--count must be 1..60000");
    }
    if (o.groups < 1 || o.groups > 9999) {
        Usage("--groups must be 1..9999");
    }
    return o;
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
        announcements.push_back(Announcement(i, kReady, "presence", o.groups));
    }
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
        if (SendFrom(fd, announcements[static_cast<size_t>(peer)], Broadcast())) {
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
// flood: as fast as sendmmsg goes.

int RunFlood(const Options& o) {
    if (o.seconds <= 0) {
        Usage("flood needs --seconds");
    }
    const int fd = OpenSocket(false, false);
    const FloodTotals totals =
        SendFlood(fd, FloodPool(o.kind, o.count, o.groups), o.target, o.seconds,
                  o.assignGroups && o.kind == FloodKind::Mixed, g_stop);
    close(fd);
    std::printf("flood: %lld datagrams in %.3f s (%.0f/s), %lld failed calls\n", totals.sent,
                totals.seconds, static_cast<double>(totals.sent) / totals.seconds,
                totals.failedCalls);
    for (const auto& [kind, number] : totals.byKind) {
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
    const timeval tick{0, 50000};  // to look at the clock and the stop flag
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    Discarder receiver(64);
    long long count = 0;
    std::optional<Clock::time_point> first;
    Clock::time_point last{};
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(o.seconds));
    while (!g_stop && Clock::now() < end) {
        const int got = receiver.Read(fd);
        if (got <= 0) {
            continue;
        }
        count += got;
        last = Clock::now();
        if (!first) {
            first = last;
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
    const double seconds = o.seconds > 0 ? o.seconds : 0.5;
    const auto start = Clock::now();
    int failed = 0;
    for (int i = 0; i < o.count; ++i) {
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(seconds * i / o.count));
        std::this_thread::sleep_until(due);
        if (!SendFrom(fd, Announcement(i, kReady, "presence", o.groups), o.target)) {
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
    const bool ok = SendFrom(fd, WithText(o.from, 3, 3, o.rest[1], true, "group"), o.target);
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
