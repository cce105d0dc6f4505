// bench/bench_program.cpp
// Footprint of the desktop program, measured from outside: the real program
// runs as a separate process on a host of its own (network namespace A),
// joined by a veth pair to a second host (namespace B) where this benchmark
// listens and plays the peers, each from an address of its own. Needs root.
// The hosts, the X server, the session bus, the tray and the program are set up
// by bench/rig.sh on the end-to-end tests' helpers (tests/e2e/netns.sh); this
// file only measures. Everything is removed on every exit, also on
// SIGINT/SIGTERM.
//
// Build it in release (make bench does) and run it as root, all of it or some:
//   build/release/bench/bench_program --benchmark_filter='BM_Idle|BM_Flood'
// BM_Idle, BM_Flood and BM_Scale print the program's figures beside those of a
// bare receiver measured in the same run, on the same host: the machine may be
// shared, so the ratio is what compares.
//
// BM_Scale (1,000, 5,000 and 20,000 peers, about 6 minutes), in one command
// that builds what it needs first:
//   bench/scale.sh
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "PeerFlood.h"

#ifndef MURMEX3_PROGRAM
#error "MURMEX3_PROGRAM must name the program under test"
#endif
#ifndef MURMEX3_BENCH_RIG
#error "MURMEX3_BENCH_RIG must name bench/rig.sh"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace peerflood;

constexpr const char* kAddrA = "10.213.77.1";
constexpr int16_t kDisconnected = 4;
// Where the bare receiver listens on host A, beside the program, so both get
// the same announcements in the same minutes.
constexpr uint16_t kBarePort = kPort + 1;

// Peer k of the rig: PeerFlood.h's peer k, past the hosts' own 10.213.77.0/24.
int PeerIndex(int k) {
    return k < 19455 ? k : k + 256;
}

// ---------------------------------------------------------------------------
// The rig and the bare receiver are this process's children; a quit signal
// ends both, and the rig removes the rest. Async-signal-safe.

std::atomic<pid_t> g_rigPid{0};
std::atomic<pid_t> g_barePid{0};
bool g_netMade = false;

void BlockQuitSignals(sigset_t* old) {
    sigset_t quit;
    sigemptyset(&quit);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&quit, number);
    }
    sigprocmask(SIG_BLOCK, &quit, old);
}

void EndChildren() {
    const pid_t bare = g_barePid.exchange(0);
    if (bare > 0) {
        kill(bare, SIGKILL);
        waitpid(bare, nullptr, 0);
    }
    // The rig tears down on SIGTERM, as when its input closes.
    const pid_t rig = g_rigPid.exchange(0);
    if (rig > 0) {
        kill(rig, SIGTERM);
        while (waitpid(rig, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

extern "C" void OnQuitSignal(int number) {
    BlockQuitSignals(nullptr);
    EndChildren();
    _exit(128 + number);
}

void InstallSignalTeardown() {
    struct sigaction sa {};
    sa.sa_handler = OnQuitSignal;
    sigemptyset(&sa.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&sa.sa_mask, number);
    }
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(number, &sa, nullptr);
    }
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// bench/rig.sh, driven a command a line; each answers one line.
class Rig {
public:
    Rig() {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        sigset_t old;
        BlockQuitSignals(&old);
        const pid_t pid = fork();
        if (pid == 0) {
            // Also when this process is killed outright.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            sigprocmask(SIG_SETMASK, &old, nullptr);
            dup2(in[0], 0);
            dup2(out[1], 1);
            execl("/bin/bash", "bash", MURMEX3_BENCH_RIG, MURMEX3_PROGRAM, nullptr);
            _exit(127);
        }
        if (pid > 0) {
            g_rigPid = pid;
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        close(in[0]);
        close(out[1]);
        m_to = in[1];
        m_from = out[0];
    }

    // "ok ..." or "error ..."; the words after "ok" in `words`.
    std::string Ask(const std::string& command, std::vector<std::string>* words = nullptr) {
        const std::string line = command + "\n";
        if (m_to < 0 ||
            write(m_to, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            return "error the rig is not running";
        }
        std::string answer;
        for (char c = 0; c != '\n';) {
            pollfd ready{m_from, POLLIN, 0};
            if (poll(&ready, 1, 120000) != 1 || read(m_from, &c, 1) != 1) {
                return "error no answer from the rig to: " + command;
            }
            answer += c == '\n' ? "" : std::string(1, c);
        }
        if (words != nullptr) {
            std::istringstream fields(answer);
            std::string word;
            fields >> word;
            words->clear();
            while (fields >> word) {
                words->push_back(word);
            }
        }
        return answer;
    }

    // Closing its input ends it, with everything it started.
    void End() {
        if (m_to >= 0) {
            close(m_to);
            m_to = -1;
            const pid_t pid = g_rigPid.exchange(0);
            if (pid > 0) {
                waitpid(pid, nullptr, 0);
            }
        }
    }

private:
    int m_to = -1;
    int m_from = -1;
};

bool IsOk(const std::string& answer) {
    return answer.rfind("ok", 0) == 0;
}

// The two hosts, this benchmark's socket on host B, and the peers' addresses.
class TestNet {
public:
    static TestNet& Get() {
        static TestNet net;
        return net;
    }

    bool Ready() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    int Socket() const { return m_socket; }
    Rig& Setup() { return m_rig; }
    const std::string& HostA() const { return m_hostA; }

    // Adds peer addresses 0..count-1 (see PeerIndex) to host B.
    bool AddPeerAddresses(int count) { return IsOk(m_rig.Ask("peers " + std::to_string(count))); }

    void Close() {
        if (m_socket >= 0) {
            close(m_socket);
            m_socket = -1;
        }
        // The socket holds host B; it is closed before the hosts go.
        m_rig.End();
    }

private:
    TestNet() {
        g_netMade = true;
        std::vector<std::string> words;
        const std::string answer = m_rig.Ask("hosts", &words);
        if (!IsOk(answer) || words.size() != 2) {
            m_error = answer;
            return;
        }
        m_hostA = words[0];
        if (!OpenSocketIn(words[1])) {
            m_error = "cannot open the listening socket on the second host";
        }
    }

    ~TestNet() { Close(); }

    // The socket is created inside host B; the process then returns to its
    // own namespace, so the socket stays B's and everything else is as usual.
    bool OpenSocketIn(const std::string& host) {
        const int own = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int other = open(("/run/netns/" + host).c_str(), O_RDONLY | O_CLOEXEC);
        bool ok = false;
        if (own >= 0 && other >= 0 && setns(other, CLONE_NEWNET) == 0) {
            m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            ok = m_socket >= 0;
            const int on = 1;
            const int buffer = 4 << 20;
            ok = ok && setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
            setsockopt(m_socket, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
            setsockopt(m_socket, SOL_SOCKET, SO_SNDBUFFORCE, &buffer, sizeof buffer);
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_port = htons(kPort);
            any.sin_addr.s_addr = htonl(INADDR_ANY);
            ok = ok && bind(m_socket, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
            ok = setns(own, CLONE_NEWNET) == 0 && ok;
        }
        if (own >= 0) {
            close(own);
        }
        if (other >= 0) {
            close(other);
        }
        return ok;
    }

    Rig m_rig;
    std::string m_hostA;
    std::string m_error;
    int m_socket = -1;
};

// ---------------------------------------------------------------------------
// Datagrams on host B.

struct Heard {
    Clock::time_point when;
    int16_t status = 0;
};

// Host A's address, where the program runs.
in_addr HostA() {
    in_addr hostA{};
    inet_pton(AF_INET, kAddrA, &hostA);
    return hostA;
}

// Waits for the next presence datagram of host A (any, or a goodbye only).
std::optional<Heard> WaitPresence(int fd, Clock::time_point deadline, bool goodbyeOnly) {
    const in_addr hostA = HostA();
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) {
            return std::nullopt;
        }
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count()) + 1) <= 0) {
            continue;
        }
        unsigned char data[600];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = recvfrom(fd, data, sizeof data, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        const auto when = Clock::now();
        if (got < 6 || from.sin_addr.s_addr != hostA.s_addr) {
            continue;  // our own peers' broadcasts come back here too
        }
        const auto word = [&](int at) {
            return static_cast<int16_t>(data[at] | (data[at + 1] << 8));
        };
        if (word(0) != 1 || word(2) != 1) {
            continue;
        }
        const int16_t status = word(4);
        if (goodbyeOnly == (status == kDisconnected)) {
            return Heard{when, status};
        }
    }
}

void Drain(int fd) {
    unsigned char data[600];
    while (recv(fd, data, sizeof data, MSG_DONTWAIT) >= 0) {
    }
}

// ---------------------------------------------------------------------------
// The processes on host A.

// ": <the last line of the file>", or nothing when it is empty.
std::string LastLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::string last;
    while (std::getline(file, line)) {
        last = line.empty() ? last : line;
    }
    return last.empty() ? "" : ": " + last;
}

// A desktop session's X server and bus on host A, one for the whole run.
std::optional<int> XServer() {
    static const std::optional<int> display = []() -> std::optional<int> {
        std::vector<std::string> words;
        if (!IsOk(TestNet::Get().Setup().Ask("xvfb", &words)) || words.empty()) {
            return std::nullopt;
        }
        return std::atoi(words[0].c_str());
    }();
    return display;
}

// Whether the program's icon is docked in the tray's panel.
bool DockedInTray() {
    return TestNet::Get().Setup().Ask("docked") == "ok yes";
}

// A system tray (trayer) on the display, up before the program starts: the
// program looks for a tray once, at its start. Ended when it goes out of scope.
class Tray {
public:
    Tray() {
        const std::string answer = TestNet::Get().Setup().Ask("tray");
        if (!IsOk(answer)) {
            m_error = answer;
        }
    }
    ~Tray() { TestNet::Get().Setup().Ask("untray"); }

    const std::string& Error() const { return m_error; }

private:
    std::string m_error;
};

// A receiver on host A that blocks in recv (batch 1) or recvmmsg and discards
// what it reads; or, as a bare peer, reads one at a time, keeps who it heard
// when in a hash map and announces itself every 5 s (a broadcast to its own
// port). Ended when it goes out of scope.
class BareReceiver {
public:
    BareReceiver(uint16_t port, unsigned batch, bool asPeer = false) {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0) {
            return;
        }
        const std::string host = "/run/netns/" + TestNet::Get().HostA();
        sigset_t old;
        BlockQuitSignals(&old);
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            sigprocmask(SIG_SETMASK, &old, nullptr);
            const int ns = open(host.c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
                _exit(1);
            }
            const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_port = htons(port);
            any.sin_addr.s_addr = htonl(INADDR_ANY);
            if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
                write(ready[1], "1", 1) != 1) {
                _exit(1);
            }
            if (asPeer) {
                RunPeer(fd, port);
            }
            Discarder receiver(batch);
            for (;;) {
                receiver.Read(fd);
            }
        }
        if (pid > 0) {
            g_barePid = pid;
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        close(ready[1]);
        char byte = 0;
        pollfd bound{ready[0], POLLIN, 0};
        if (pid > 0 && poll(&bound, 1, 5000) == 1 && read(ready[0], &byte, 1) == 1) {
            m_pid = pid;
        }
        close(ready[0]);
    }
    ~BareReceiver() {
        const pid_t pid = g_barePid.exchange(0);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    // 0 when it could not start.
    pid_t Pid() const { return m_pid; }

private:
    [[noreturn]] static void RunPeer(int fd, uint16_t port) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in everyone{};
        everyone.sin_family = AF_INET;
        everyone.sin_port = htons(port);
        everyone.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        const Datagram self = Presence(everyone.sin_addr, kReady, "bare@PEER", "Skupina01", "");
        std::unordered_map<uint32_t, Clock::time_point> heard;
        auto nextAnnouncement = Clock::now();
        for (;;) {
            if (Clock::now() >= nextAnnouncement) {
                sendto(fd, self.bytes.data(), self.bytes.size(), 0,
                       reinterpret_cast<sockaddr*>(&everyone), sizeof everyone);
                nextAnnouncement += 5s;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                nextAnnouncement - Clock::now());
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count()) + 1) <= 0) {
                continue;
            }
            unsigned char data[2048];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            if (recvfrom(fd, data, sizeof data, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                         &fromLength) >= 0) {
                heard[from.sin_addr.s_addr] = Clock::now();
            }
        }
    }

    pid_t m_pid = 0;
};

// "ip netns exec" execs in place, so the started pid is the program itself.
bool IsProgram(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name == "murmex3";
}

std::optional<double> ResidentMiB(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stod(line.substr(std::strlen(field))) / 1024.0;
        }
    }
    return std::nullopt;
}

// utime + stime from a /proc stat file, in clock ticks.
std::optional<long long> StatTicks(const std::string& path) {
    std::ifstream stat(path);
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    // Fields from 3 (state) on; utime and stime are 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) {
            utime = std::stoll(field);
        } else if (number == 15) {
            stime = std::stoll(field);
        }
    }
    return utime + stime;
}

// All threads.
std::optional<long long> CpuTicks(pid_t pid) {
    return StatTicks("/proc/" + std::to_string(pid) + "/stat");
}
// The program's UDP socket as its own host sees it: bytes waiting and drops.
struct SocketQueue {
    long long waitingBytes = 0;
    long long drops = 0;
};

std::optional<SocketQueue> ProgramSocket(pid_t pid) {
    std::ifstream udp("/proc/" + std::to_string(pid) + "/net/udp");
    std::string line;
    char port[8];
    std::snprintf(port, sizeof port, ":%04X", kPort);
    while (std::getline(udp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        if (!(fields >> slot >> local >> remote >> state >> queues) ||
            local.find(port) == std::string::npos) {
            continue;
        }
        std::string field;
        std::string last;
        while (fields >> field) {
            last = field;
        }
        SocketQueue result;
        result.waitingBytes = std::stoll(queues.substr(queues.find(':') + 1), nullptr, 16);
        result.drops = std::stoll(last);
        return result;
    }
    return std::nullopt;
}

// The UDP counters of the host a process is on: datagrams its sockets read
// (the kernel counts one as it is read) and datagrams dropped on a full
// receive buffer.
struct UdpCounters {
    long long read = 0;
    long long dropped = 0;
};

std::optional<UdpCounters> HostUdp(pid_t pid) {
    std::ifstream snmp("/proc/" + std::to_string(pid) + "/net/snmp");
    std::string names;
    std::string values;
    while (std::getline(snmp, names)) {
        if (names.rfind("Udp:", 0) == 0 && std::getline(snmp, values)) {
            std::istringstream header(names);
            std::istringstream numbers(values);
            std::string name;
            std::string number;
            UdpCounters counters;
            while (header >> name && numbers >> number) {
                if (name == "InDatagrams") {
                    counters.read = std::stoll(number);
                } else if (name == "RcvbufErrors") {
                    counters.dropped = std::stoll(number);
                }
            }
            return counters;
        }
    }
    return std::nullopt;
}

// What all threads of a process have used: time on a CPU (from schedstat, in
// nanoseconds; /proc/<pid>/stat counts only in 10 ms ticks) and context
// switches, voluntary or not: each is a wake-up.
struct Usage {
    double cpuMs = 0;
    long long switches = 0;
};

Usage UsageOf(pid_t pid) {
    Usage usage;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        long long ns = 0;
        std::ifstream(task.path() / "schedstat") >> ns;
        usage.cpuMs += static_cast<double>(ns) / 1e6;
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                usage.switches += std::stoll(line.substr(line.find(':') + 1));
            }
        }
    }
    return usage;
}

// Waits until the program has read everything sent to it (bounded).
bool WaitQueueEmpty(pid_t pid, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        const auto queue = ProgramSocket(pid);
        if (queue && queue->waitingBytes == 0) {
            return true;
        }
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

// The main thread (the user interface's): time on a CPU from schedstat, in
// nanoseconds, and utime + stime from its stat, in clock ticks.
struct ThreadCpu {
    double ns = 0;
    long long ticks = 0;
};

ThreadCpu MainThreadCpu(pid_t pid) {
    const std::string task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid);
    ThreadCpu cpu;
    std::ifstream(task + "/schedstat") >> cpu.ns;
    cpu.ticks = StatTicks(task + "/stat").value_or(0);
    return cpu;
}

// One running copy of the program, up and announcing, ended when it goes out
// of scope. `env`: VAR=VALUE words added to its environment.
class RunningProgram {
public:
    explicit RunningProgram(TestNet& net, bool onDisplay = false, const std::string& env = "")
        : m_net(net) {
        Drain(net.Socket());
        m_start = Clock::now();
        std::vector<std::string> words;
        const std::string answer =
            net.Setup().Ask(std::string("program ") + (onDisplay ? "xcb" : "offscreen") +
                                (env.empty() ? "" : " " + env),
                            &words);
        if (!IsOk(answer) || words.size() != 2) {
            m_error = answer;
            return;
        }
        m_pid = std::atoi(words[0].c_str());
        m_log = words[1] + "/program.log";
        const auto heard = WaitPresence(net.Socket(), m_start + 10s, false);
        if (!heard) {
            m_error = "no presence datagram from the program within 10 s" + LastLine(m_log);
            return;
        }
        m_firstPresence = heard->when;
        if (!IsProgram(m_pid)) {
            m_error = "the started process is not the program";
        }
    }

    ~RunningProgram() { Stop(); }

    // Ends the program with SIGTERM; true when it said goodbye and exited.
    bool Stop() {
        if (m_pid <= 0) {
            return false;
        }
        m_pid = 0;
        std::vector<std::string> words;
        if (IsOk(m_net.Setup().Ask("stop", &words)) && words.size() == 1) {
            m_exitSeconds = std::atof(words[0].c_str());
        }
        m_goodbye = WaitPresence(m_net.Socket(), Clock::now() + 1s, true).has_value();
        return m_exitSeconds.has_value() && m_goodbye;
    }

    const std::string& Error() const { return m_error; }
    pid_t Pid() const { return m_pid; }
    const std::string& LogPath() const { return m_log; }
    Clock::duration StartToPresence() const { return m_firstPresence - m_start; }
    std::optional<double> ExitSeconds() const { return m_exitSeconds; }
    bool SaidGoodbye() const { return m_goodbye; }

private:
    TestNet& m_net;
    pid_t m_pid = 0;
    std::string m_log;
    Clock::time_point m_start;
    Clock::time_point m_firstPresence;
    std::string m_error;
    std::optional<double> m_exitSeconds;
    bool m_goodbye = false;
};

bool Prepare(benchmark::State& state) {
    TestNet& net = TestNet::Get();
    if (!net.Ready()) {
        state.SkipWithError(net.Error().c_str());
        return false;
    }
    return true;
}

// Prepare, with an X server and the first `peers` peers' addresses on host B.
bool PrepareWithPeers(benchmark::State& state, int peers) {
    if (!Prepare(state)) {
        return false;
    }
    if (!XServer() || !TestNet::Get().AddPeerAddresses(peers)) {
        state.SkipWithError("no Xvfb, or cannot add the peers' addresses to the second host");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// 1. Process start (fork/exec) to the first presence datagram heard on host B.

void StartToFirstPresence(benchmark::State& state, bool onDisplay) {
    TestNet& net = TestNet::Get();
    double best = 1e9;
    double worst = 0;
    double exitTotal = 0;
    int exits = 0;
    for (auto _ : state) {
        RunningProgram program(net, onDisplay);
        if (!program.Error().empty()) {
            state.SkipWithError(program.Error().c_str());
            break;
        }
        const double seconds = Seconds(program.StartToPresence());
        state.SetIterationTime(seconds);
        best = std::min(best, seconds);
        worst = std::max(worst, seconds);
        if (!program.Stop()) {
            state.SkipWithError("the program did not say goodbye and exit within 10 s of SIGTERM");
            break;
        }
        exitTotal += *program.ExitSeconds();
        ++exits;
    }
    state.counters["min_ms"] = best * 1e3;
    state.counters["max_ms"] = worst * 1e3;
    if (exits > 0) {
        state.counters["sigterm_exit_ms"] = exitTotal / exits * 1e3;
    }
}

void BM_StartToFirstPresence(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    // What "ip netns exec" itself adds to every start.
    const auto start = Clock::now();
    TestNet::Get().Setup().Ask("exec-true");
    state.counters["ip_netns_exec_ms"] = Seconds(Clock::now() - start) * 1e3;
    StartToFirstPresence(state, false);
}
BENCHMARK(BM_StartToFirstPresence)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The same under a real X server (Xvfb) on host A, where one is installed.
void BM_StartToFirstPresence_Xvfb(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    if (!XServer()) {
        state.SkipWithError("no Xvfb and session bus: not installed, or not started in time");
        return;
    }
    StartToFirstPresence(state, true);
}
BENCHMARK(BM_StartToFirstPresence_Xvfb)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// ---------------------------------------------------------------------------
// 2. Resident memory with 1,000 peers, each announced twice.

void BM_ResidentWith1000Peers(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    constexpr int kPeers = 1000;
    TestNet& net = TestNet::Get();
    if (!net.AddPeerAddresses(kPeers)) {
        state.SkipWithError("cannot add the peers' addresses to the second host");
        return;
    }
    for (auto _ : state) {
        RunningProgram program(net);
        if (!program.Error().empty()) {
            state.SkipWithError(program.Error().c_str());
            break;
        }
        std::this_thread::sleep_for(500ms);
        const pid_t pid = program.Pid();
        const auto before = ResidentMiB(pid, "VmRSS:");
        const auto deliveredBefore = HostUdp(pid);
        const auto start = Clock::now();
        int sent = 0;
        bool drained = true;
        for (int round = 0; round < 2; ++round) {
            // 1,000 datagrams a second: five times the steady rate of
            // 1,000 peers that announce every 5 seconds.
            for (int i = 0; i < kPeers; ++i) {
                sent += SendFrom(net.Socket(), Announcement(i), Broadcast()) ? 1 : 0;
                if (i % 10 == 9) {
                    std::this_thread::sleep_for(10ms);
                }
            }
            drained = WaitQueueEmpty(pid, 20s) && drained;
        }
        const auto elapsed = Clock::now() - start;
        state.SetIterationTime(Seconds(elapsed));
        // Let the user-interface thread finish what the last datagrams started.
        std::this_thread::sleep_for(1s);
        const auto rss = ResidentMiB(pid, "VmRSS:");
        const auto peak = ResidentMiB(pid, "VmHWM:");
        const auto queue = ProgramSocket(pid);
        const auto deliveredAfter = HostUdp(pid);
        if (!rss || !peak || !before || !queue || !deliveredBefore || !deliveredAfter) {
            state.SkipWithError("cannot read the program's /proc entries");
            break;
        }
        state.counters["RSS_MiB"] = *rss;
        state.counters["RSS_peak_MiB"] = *peak;
        state.counters["RSS_before_peers_MiB"] = *before;
        state.counters["datagrams_sent"] = sent;
        state.counters["datagrams_dropped"] = static_cast<double>(queue->drops);
        state.counters["drained"] = drained ? 1 : 0;
        // Also counts the program's own announcements, which come back to it.
        const long long delivered = deliveredAfter->read - deliveredBefore->read;
        state.counters["datagrams_delivered"] = static_cast<double>(delivered);
        if (sent != 2 * kPeers || !drained || delivered < sent) {
            state.SkipWithError("not all announcements were sent and read");
        }
        program.Stop();
    }
}
BENCHMARK(BM_ResidentWith1000Peers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// ---------------------------------------------------------------------------
// 3. At rest: CPU and wake-ups a minute with no peers or 50 that announce
// every 5 s, unchanged, on an X server with or without a tray. Beside it a
// bare receiver on the same host that blocks in recv and gets the same
// announcements, unicast to a port of its own.

void BM_Idle(benchmark::State& state, int peers, bool withTray) {
    constexpr std::chrono::milliseconds kPeriod = 5s;
    constexpr auto kWindow = 20s;
    if (!PrepareWithPeers(state, peers)) {
        return;
    }
    TestNet& net = TestNet::Get();
    const in_addr hostA = HostA();
    const auto announce = [&](int peer) {
        const Datagram datagram = Announcement(peer);
        SendFrom(net.Socket(), datagram, hostA, kBarePort);
        return SendFrom(net.Socket(), datagram, Broadcast());
    };
    for (auto _ : state) {
        std::optional<Tray> tray;
        if (withTray && !tray.emplace().Error().empty()) {
            state.SkipWithError(tray->Error().c_str());
            break;
        }
        BareReceiver bare(kBarePort, 1);
        RunningProgram program(net, true);
        if (!program.Error().empty() || bare.Pid() == 0) {
            state.SkipWithError(bare.Pid() == 0 ? "the bare receiver did not start"
                                                : program.Error().c_str());
            break;
        }
        if (withTray && !DockedInTray()) {
            state.SkipWithError("the program's icon is not in the tray");
            break;
        }
        for (int i = 0; i < peers; ++i) {
            announce(i);
        }
        // Settle: the first sight of each peer is not the idle state.
        std::this_thread::sleep_for(3s);

        const pid_t pid = program.Pid();
        const Usage before = UsageOf(pid);
        const Usage bareBefore = UsageOf(bare.Pid());
        const auto ticksBefore = CpuTicks(pid);
        const auto start = Clock::now();
        int sent = 0;
        int heard = 0;
        // Peer i announces at i/peers of the period, then every period.
        for (int slot = 0; peers > 0; ++slot) {
            const auto due = start + kPeriod * slot / peers;
            if (due >= start + kWindow) {
                break;
            }
            while (Clock::now() < due) {
                heard += WaitPresence(net.Socket(), due, false) ? 1 : 0;
            }
            sent += announce(slot % peers) ? 1 : 0;
        }
        while (Clock::now() < start + kWindow) {
            heard += WaitPresence(net.Socket(), start + kWindow, false) ? 1 : 0;
        }
        const Usage after = UsageOf(pid);
        const Usage bareAfter = UsageOf(bare.Pid());
        const auto ticksAfter = CpuTicks(pid);
        const double seconds = Seconds(Clock::now() - start);
        state.SetIterationTime(seconds);
        const double minutes = seconds / 60;
        state.counters["cpu_ms/min"] = (after.cpuMs - before.cpuMs) / minutes;
        state.counters["wakeups/min"] =
            static_cast<double>(after.switches - before.switches) / minutes;
        state.counters["bare_cpu_ms/min"] = (bareAfter.cpuMs - bareBefore.cpuMs) / minutes;
        state.counters["bare_wakeups/min"] =
            static_cast<double>(bareAfter.switches - bareBefore.switches) / minutes;
        if (ticksBefore && ticksAfter) {
            state.counters["stat_cpu_ms/min"] = static_cast<double>(*ticksAfter - *ticksBefore) *
                                                1e3 / static_cast<double>(sysconf(_SC_CLK_TCK)) /
                                                minutes;
        }
        state.counters["peer_datagrams/min"] = sent / minutes;
        state.counters["own_announcements"] = heard;
        program.Stop();
    }
}
BENCHMARK_CAPTURE(BM_Idle, no_peers, 0, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Idle, no_peers_tray, 0, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Idle, 50_peers, 50, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Idle, 50_peers_tray, 50, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// ---------------------------------------------------------------------------
// 4. Floods from 1,000 known peers, as fast as this host sends: the datagrams
// the program read a second, beside a bare receiver that reads with recvmmsg,
// 64 at a time, alone on the same host just before; and the program's
// resident memory right after the flood.

void BM_Flood(benchmark::State& state, FloodKind kind, bool withTray) {
    constexpr int kPeers = 1000;
    const double seconds = kind == FloodKind::Mixed ? 8 : 5;
    const bool groups = kind == FloodKind::Mixed;
    if (!PrepareWithPeers(state, kPeers)) {
        return;
    }
    TestNet& net = TestNet::Get();
    const in_addr hostA = HostA();
    const std::vector<Datagram> pool = FloodPool(kind, kPeers);
    const std::atomic<bool> never{false};
    for (auto _ : state) {
        std::optional<Tray> tray;
        if (withTray && !tray.emplace().Error().empty()) {
            state.SkipWithError(tray->Error().c_str());
            break;
        }
        // The same flood read by the bare receiver, alone on host A.
        const auto bareRun = [&]() -> std::optional<UdpCounters> {
            BareReceiver bare(kPort, 64);
            const auto before = HostUdp(bare.Pid());
            if (bare.Pid() == 0 || !before) {
                return std::nullopt;
            }
            SendFlood(net.Socket(), pool, hostA, seconds, groups, never);
            const auto after = HostUdp(bare.Pid()).value_or(*before);
            return UdpCounters{after.read - before->read, after.dropped - before->dropped};
        };
        const auto bareBefore = bareRun();
        if (!bareBefore) {
            state.SkipWithError("the bare receiver did not start");
            break;
        }
        RunningProgram program(net, true);
        if (!program.Error().empty()) {
            state.SkipWithError(program.Error().c_str());
            break;
        }
        if (withTray && !DockedInTray()) {
            state.SkipWithError("the program's icon is not in the tray");
            break;
        }
        const pid_t pid = program.Pid();
        // Every peer is known before the flood: 1,000 announcements in 1 s.
        for (int i = 0; i < kPeers; ++i) {
            SendFrom(net.Socket(), Announcement(i), hostA);
            if (i % 10 == 9) {
                std::this_thread::sleep_for(10ms);
            }
        }
        WaitQueueEmpty(pid, 20s);
        std::this_thread::sleep_for(1s);

        const auto before = HostUdp(pid);
        const Usage usageBefore = UsageOf(pid);
        const FloodTotals totals = SendFlood(net.Socket(), pool, hostA, seconds, groups, never);
        const auto after = HostUdp(pid);
        const Usage usageAfter = UsageOf(pid);
        const auto rss = ResidentMiB(pid, "VmRSS:");
        if (!before || !after || !rss) {
            state.SkipWithError("cannot read the program's /proc entries");
            break;
        }
        const auto read = static_cast<double>(after->read - before->read);
        program.Stop();
        // Once more after the program, as the machine's load may change.
        const UdpCounters bareAfter = bareRun().value_or(*bareBefore);
        const double bareRate =
            static_cast<double>(bareBefore->read + bareAfter.read) / (2 * seconds);
        state.SetIterationTime(totals.seconds);
        state.counters["read/s"] = read / totals.seconds;
        state.counters["bare_read/s"] = bareRate;
        state.counters["ratio"] = bareRate > 0 ? read / totals.seconds / bareRate : 0;
        state.counters["bare_dropped/s"] =
            static_cast<double>(bareBefore->dropped + bareAfter.dropped) / (2 * seconds);
        state.counters["offered/s"] = static_cast<double>(totals.sent) / totals.seconds;
        state.counters["dropped/s"] =
            static_cast<double>(after->dropped - before->dropped) / totals.seconds;
        state.counters["cpu_us/read"] = (usageAfter.cpuMs - usageBefore.cpuMs) * 1e3 / read;
        state.counters["RSS_MiB"] = *rss;
    }
}
BENCHMARK_CAPTURE(BM_Flood, unchanged_tray, FloodKind::Unchanged, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Flood, status_changes_tray, FloodKind::StatusChanges, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Flood, mixed_tray, FloodKind::Mixed, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Flood, mixed, FloodKind::Mixed, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// ---------------------------------------------------------------------------
// 5. Scale: 1,000, 5,000 or 20,000 peers, each announcing every 5 s from its
// own address (a broadcast, as real copies send it, and a unicast copy to a
// bare peer on host A that reads one at a time, keeps who it heard when in a
// hash map and announces itself every 5 s). The program runs on an X server,
// its core's debug lines on: each liveness scan writes how many peers it
// marked. Figures:
//   new_peer_ui_us: the user-interface thread's (TID == PID) CPU time per new
//     peer while they arrive: from the first announcement until that thread
//     is quiet again (arrival_s; at most 240 s), less what that time costs it
//     in the steady state that follows (schedstat; new_peer_ui_stat_us: the
//     same from utime + stime, in 10 ms ticks);
//   cpu_ms/min (the process's utime + stime, ended threads included),
//     ui_cpu_ms/min and bare_cpu_ms/min in the steady state, every peer known
//     and announcing; ratio: the program's to the bare peer's
//     (threads_cpu_ms/min: the sum of the threads running at both ends);
//   RSS_KiB/peer: (RSS with every peer known - RSS before the first) / peers;
//   storm_s: every peer falls silent at once; from then until the scans have
//     marked them all;
//   worst_mark_delay_s: the longest time from a peer's last announcement to
//     its marking. A scan marks every peer silent for more than 30 s, so the
//     peers are marked in the order in which they last announced: the k-th
//     peer marked after the storm is the k-th to have gone silent.

// The peers' announcements, on a thread of their own until Stop.
class Announcer {
public:
    Announcer(int fd, int peers, in_addr bare, Clock::duration period)
        : m_lastSent(static_cast<size_t>(peers)) {
        std::vector<Datagram> announcements;
        for (int k = 0; k < peers; ++k) {
            announcements.push_back(Announcement(PeerIndex(k)));
        }
        m_start = Clock::now();
        m_thread = std::thread([this, fd, peers, bare, period, all = std::move(announcements)] {
            // Peer k announces at k/peers of the period, then every period.
            for (long long slot = 0; !m_stop; ++slot) {
                const auto peer = static_cast<size_t>(slot % peers);
                std::this_thread::sleep_until(m_start + period * (slot / peers) +
                                              period * static_cast<long long>(peer) / peers);
                SendFrom(fd, all[peer], bare, kBarePort);
                m_failed += SendFrom(fd, all[peer], Broadcast()) ? 0 : 1;
                m_lastSent[peer] = Clock::now();
            }
        });
    }
    ~Announcer() { Stop(); }

    // Every peer falls silent; returns when the last announcement has gone.
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    Clock::time_point Start() const { return m_start; }
    // When each peer announced last; read once stopped.
    const std::vector<Clock::time_point>& LastSent() const { return m_lastSent; }
    long long Failed() const { return m_failed; }

private:
    std::vector<Clock::time_point> m_lastSent;
    Clock::time_point m_start;
    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_failed{0};
    std::thread m_thread;
};

// The program's log as it grows: when each liveness scan that marked peers
// was written, and how many it marked (read every 10 ms).
class MarkLog {
public:
    explicit MarkLog(const std::string& path) {
        m_thread = std::thread([this, path] {
            std::ifstream log(path);
            std::string pending;
            constexpr std::string_view kLine = "Liveness scan: ";
            while (!m_stop) {
                char buffer[4096];
                log.clear();
                log.read(buffer, sizeof buffer);
                const auto got = log.gcount();
                if (got == 0) {
                    std::this_thread::sleep_for(10ms);
                    continue;
                }
                const auto when = Clock::now();
                pending.append(buffer, static_cast<size_t>(got));
                for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                    const std::string line = pending.substr(0, end);
                    pending.erase(0, end + 1);
                    const size_t at = line.find(kLine);
                    const int count =
                        at == std::string::npos ? 0 : std::atoi(line.c_str() + at + kLine.size());
                    if (count > 0) {
                        std::lock_guard lock(m_mutex);
                        m_marks.push_back({when, count});
                    }
                }
            }
        });
    }
    ~MarkLog() {
        m_stop = true;
        m_thread.join();
    }

    struct Mark {
        Clock::time_point when;
        int count = 0;
    };
    std::vector<Mark> Marks() const {
        std::lock_guard lock(m_mutex);
        return m_marks;
    }
    int MarkedSince(Clock::time_point since) const {
        int total = 0;
        for (const Mark& mark : Marks()) {
            total += mark.when >= since ? mark.count : 0;
        }
        return total;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Mark> m_marks;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void BM_Scale(benchmark::State& state) {
    constexpr auto kPeriod = 5s;
    constexpr auto kSteadyWindow = 40s;
    constexpr auto kStormLimit = 60s;
    constexpr auto kArrivalLimit = 240s;
    const int peers = static_cast<int>(state.range(0));
    if (!PrepareWithPeers(state, peers)) {
        return;
    }
    TestNet& net = TestNet::Get();
    const in_addr hostA = HostA();
    for (auto _ : state) {
        BareReceiver bare(kBarePort, 1, true);
        RunningProgram program(net, true, "QT_LOGGING_RULES=murmex3.core.debug=true");
        if (!program.Error().empty() || bare.Pid() == 0) {
            state.SkipWithError(bare.Pid() == 0 ? "the bare peer did not start"
                                                : program.Error().c_str());
            break;
        }
        const pid_t pid = program.Pid();
        MarkLog log(program.LogPath());
        std::this_thread::sleep_for(2s);
        const auto rssBefore = ResidentMiB(pid, "VmRSS:");

        // Arrival: from the first announcement until the user-interface
        // thread, after a period at least, has gone quiet (under 5 ms of CPU
        // in a second).
        const ThreadCpu uiBefore = MainThreadCpu(pid);
        Announcer announcer(net.Socket(), peers, hostA, kPeriod);
        ThreadCpu uiArrived = uiBefore;
        auto arrived = announcer.Start();
        for (bool quiet = false; !quiet && arrived < announcer.Start() + kArrivalLimit;) {
            std::this_thread::sleep_until(std::max(arrived + 1s, announcer.Start() + kPeriod));
            const ThreadCpu ui = MainThreadCpu(pid);
            quiet = ui.ns - uiArrived.ns < 5e6;
            if (!quiet) {
                uiArrived = ui;
                arrived = Clock::now();
            }
        }

        // Steady state, after one more period to settle.
        std::this_thread::sleep_for(kPeriod);
        const Usage usageBefore = UsageOf(pid);
        const Usage bareBefore = UsageOf(bare.Pid());
        const auto ticksBefore = CpuTicks(pid);
        const auto bareTicksBefore = CpuTicks(bare.Pid());
        const ThreadCpu uiSteady = MainThreadCpu(pid);
        const auto steadyStart = Clock::now();
        // The threads seen, a look a second: those that end take their time
        // out of threads_cpu_ms/min.
        std::set<std::string> threads;
        while (Clock::now() < steadyStart + kSteadyWindow) {
            std::error_code error;
            for (const auto& task : std::filesystem::directory_iterator(
                     "/proc/" + std::to_string(pid) + "/task", error)) {
                threads.insert(task.path().filename());
            }
            std::this_thread::sleep_for(1s);
        }
        const Usage usageAfter = UsageOf(pid);
        const Usage bareAfter = UsageOf(bare.Pid());
        const auto ticksAfter = CpuTicks(pid);
        const auto bareTicksAfter = CpuTicks(bare.Pid());
        const ThreadCpu uiAfter = MainThreadCpu(pid);
        const double steadySeconds = Seconds(Clock::now() - steadyStart);
        const auto rss = ResidentMiB(pid, "VmRSS:");
        const auto queue = ProgramSocket(pid);

        // The storm: every peer falls silent at once.
        announcer.Stop();
        const auto stormStart = Clock::now();
        while (log.MarkedSince(stormStart) < peers && Clock::now() < stormStart + kStormLimit) {
            std::this_thread::sleep_for(50ms);
        }
        std::vector<Clock::time_point> silent = announcer.LastSent();
        std::sort(silent.begin(), silent.end());
        int marked = 0;
        int markedBefore = 0;
        double worstDelay = 0;
        Clock::time_point lastMark = stormStart;
        for (const MarkLog::Mark& mark : log.Marks()) {
            if (mark.when < stormStart) {
                markedBefore += mark.count;
                continue;
            }
            for (int i = 0; i < mark.count && marked < peers; ++i, ++marked) {
                worstDelay = std::max(worstDelay, Seconds(mark.when - silent[marked]));
            }
            lastMark = mark.when;
        }
        if (!rss || !rssBefore || !queue || !ticksBefore || !ticksAfter || !bareTicksBefore ||
            !bareTicksAfter) {
            state.SkipWithError("cannot read the program's /proc entries");
            break;
        }

        const double steadyUiNsPerSecond = (uiAfter.ns - uiSteady.ns) / steadySeconds;
        const double arrivalSeconds = Seconds(arrived - announcer.Start());
        const double tickNs = 1e9 / static_cast<double>(sysconf(_SC_CLK_TCK));
        const double steadyUiTicksPerSecond =
            static_cast<double>(uiAfter.ticks - uiSteady.ticks) / steadySeconds;
        state.SetIterationTime(steadySeconds);
        state.counters["new_peer_ui_us"] =
            (uiArrived.ns - uiBefore.ns - steadyUiNsPerSecond * arrivalSeconds) / peers / 1e3;
        state.counters["arrival_s"] = arrivalSeconds;
        state.counters["new_peer_ui_stat_us"] =
            (static_cast<double>(uiArrived.ticks - uiBefore.ticks) -
             steadyUiTicksPerSecond * arrivalSeconds) *
            tickNs / peers / 1e3;
        const double minutes = steadySeconds / 60;
        // The process's own count keeps the time of threads that have ended.
        const double cpu = static_cast<double>(*ticksAfter - *ticksBefore) * tickNs / 1e6 / minutes;
        const double bareCpu =
            static_cast<double>(*bareTicksAfter - *bareTicksBefore) * tickNs / 1e6 / minutes;
        state.counters["cpu_ms/min"] = cpu;
        state.counters["threads_cpu_ms/min"] = (usageAfter.cpuMs - usageBefore.cpuMs) / minutes;
        state.counters["bare_threads_cpu_ms/min"] = (bareAfter.cpuMs - bareBefore.cpuMs) / minutes;
        state.counters["ui_cpu_ms/min"] = (uiAfter.ns - uiSteady.ns) / 1e6 / minutes;
        state.counters["bare_cpu_ms/min"] = bareCpu;
        state.counters["ratio"] = bareCpu > 0 ? cpu / bareCpu : 0;
        state.counters["threads_seen"] = static_cast<double>(threads.size());
        state.counters["RSS_MiB"] = *rss;
        state.counters["RSS_KiB/peer"] = (*rss - *rssBefore) * 1024 / peers;
        state.counters["dropped"] = static_cast<double>(queue->drops);
        state.counters["send_failures"] = static_cast<double>(announcer.Failed());
        state.counters["marked_before_storm"] = markedBefore;
        state.counters["marked"] = marked;
        state.counters["storm_s"] = Seconds(lastMark - stormStart);
        state.counters["worst_mark_delay_s"] = worstDelay;
        if (marked < peers) {
            state.SkipWithError("not every peer was marked within 60 s of the storm");
        }
        program.Stop();
    }
}
BENCHMARK(BM_Scale)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(20000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    InstallSignalTeardown();
    std::atexit(EndChildren);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_netMade) {
        TestNet::Get().Close();
    }
    EndChildren();
    return 0;
}
