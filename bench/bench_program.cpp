// bench/bench_program.cpp
// Footprint of the desktop program, measured from outside: the real program
// runs as a separate process on a host of its own (network namespace A),
// joined by a veth pair to a second host (namespace B) where this benchmark
// listens and plays the peers. Needs root; both hosts, the program, an Xvfb
// and the temporary homes are removed on every exit, also on SIGINT/SIGTERM.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef MURMEX3_PROGRAM
#error "MURMEX3_PROGRAM must name the program under test"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint16_t kPort = 23654;
constexpr const char* kAddrA = "10.213.77.1";
constexpr const char* kAddrB = "10.213.77.2";
constexpr int kPresenceLength = 102;
constexpr int16_t kDisconnected = 4;

// ---------------------------------------------------------------------------
// Everything the teardown needs, kept in fixed buffers so that the signal
// handler can run it with async-signal-safe calls only.

char g_ipPath[64] = "/usr/sbin/ip";
char g_hostA[32];
char g_hostB[32];
char g_vethA[32];
char g_tmpRoot[128];
char g_xvfbLock[64];
char g_xvfbSocket[64];
std::atomic<pid_t> g_programPid{0};
std::atomic<pid_t> g_xvfbPid{0};
std::atomic<bool> g_hostsMade{false};
std::atomic<bool> g_tornDown{false};

// fork/execve/waitpid with no environment and quiet output; async-signal-safe.
int RunQuiet(const char* path, char* const argv[]) {
    const pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        char* const noEnv[] = {nullptr};
        execve(path, argv, noEnv);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SleepMs(long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Ends a child: SIGTERM, up to graceMs for it to go, then SIGKILL.
// Async-signal-safe. Returns true when it left on its own.
bool EndChild(pid_t pid, long graceMs) {
    if (pid <= 0) {
        return true;
    }
    kill(pid, SIGTERM);
    for (long waited = 0; waited < graceMs; waited += 5) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return true;
        }
        SleepMs(5);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

void BlockQuitSignals(sigset_t* old) {
    sigset_t quit;
    sigemptyset(&quit);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&quit, number);
    }
    sigprocmask(SIG_BLOCK, &quit, old);
}

void TearDownAll() {
    // A signal that comes in now waits: the teardown runs once and whole.
    BlockQuitSignals(nullptr);
    if (g_tornDown.exchange(true)) {
        return;
    }
    const pid_t program = g_programPid.exchange(0);
    if (program > 0) {
        kill(program, SIGKILL);
        waitpid(program, nullptr, 0);
    }
    const pid_t xvfb = g_xvfbPid.exchange(0);
    if (xvfb > 0) {
        EndChild(xvfb, 1000);
        if (g_xvfbLock[0] != '\0') {
            unlink(g_xvfbLock);
            unlink(g_xvfbSocket);
        }
    }
    if (g_hostsMade.load()) {
        char ip[] = "ip";
        char netns[] = "netns";
        char del[] = "del";
        char link[] = "link";
        char* const delA[] = {ip, netns, del, g_hostA, nullptr};
        char* const delB[] = {ip, netns, del, g_hostB, nullptr};
        // Only left in the first namespace when a set-up failed half-way.
        char* const delVeth[] = {ip, link, del, g_vethA, nullptr};
        RunQuiet(g_ipPath, delA);
        RunQuiet(g_ipPath, delB);
        RunQuiet(g_ipPath, delVeth);
    }
    if (g_tmpRoot[0] != '\0') {
        char rm[] = "rm";
        char rf[] = "-rf";
        char* const rmTmp[] = {rm, rf, g_tmpRoot, nullptr};
        RunQuiet("/bin/rm", rmTmp);
    }
}

extern "C" void OnFatalSignal(int number) {
    TearDownAll();
    _exit(128 + number);
}

void InstallSignalTeardown() {
    struct sigaction sa {};
    sa.sa_handler = OnFatalSignal;
    sigemptyset(&sa.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&sa.sa_mask, number);
    }
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(number, &sa, nullptr);
    }
}

// ---------------------------------------------------------------------------

int RunIp(const std::vector<std::string>& args) {
    std::vector<std::string> all{"ip"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return RunQuiet(g_ipPath, argv.data());
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

in_addr PeerAddress(int index) {
    // 10.213.1.1 upwards, inside the test range and away from the two hosts.
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
    int PeersAdded() const { return m_peersAdded; }

    // Adds peer addresses 0..count-1 to host B's interface.
    bool AddPeerAddresses(int count) {
        if (count <= m_peersAdded) {
            return true;
        }
        const std::string batchPath = std::string(g_tmpRoot) + "/addresses.batch";
        {
            std::ofstream batch(batchPath);
            for (int i = m_peersAdded; i < count; ++i) {
                batch << "address add " << Dotted(PeerAddress(i)) << "/32 dev " << m_vethB << "\n";
            }
        }
        if (RunIp({"-n", g_hostB, "-batch", batchPath}) != 0) {
            return false;
        }
        m_peersAdded = count;
        return true;
    }

    // A fresh, empty home for one run of the program.
    std::string NewHome() {
        const std::string home = std::string(g_tmpRoot) + "/home" + std::to_string(++m_homes);
        mkdir(home.c_str(), 0700);
        return home;
    }

    void Close() {
        if (m_socket >= 0) {
            close(m_socket);
            m_socket = -1;
        }
    }

private:
    TestNet() {
        if (geteuid() != 0) {
            m_error = "needs root: it makes two network namespaces joined by a veth pair";
            return;
        }
        if (access(g_ipPath, X_OK) != 0) {
            std::snprintf(g_ipPath, sizeof g_ipPath, "%s", "/sbin/ip");
            if (access(g_ipPath, X_OK) != 0) {
                m_error = "needs iproute2 (ip) for network namespaces";
                return;
            }
        }
        const int pid = static_cast<int>(getpid());
        std::snprintf(g_hostA, sizeof g_hostA, "m3b%da", pid);
        std::snprintf(g_hostB, sizeof g_hostB, "m3b%db", pid);
        std::snprintf(g_vethA, sizeof g_vethA, "m3b%dva", pid);
        m_vethB = "m3b" + std::to_string(pid) + "vb";
        std::snprintf(g_tmpRoot, sizeof g_tmpRoot, "%s", "/tmp/murmex3-bench.XXXXXX");
        if (mkdtemp(g_tmpRoot) == nullptr) {
            g_tmpRoot[0] = '\0';
            m_error = "cannot make a temporary directory";
            return;
        }
        g_hostsMade = true;
        const std::string a = g_hostA;
        const std::string b = g_hostB;
        const std::string va = g_vethA;
        const std::vector<std::vector<std::string>> steps = {
            {"netns", "add", a},
            {"netns", "add", b},
            {"link", "add", va, "type", "veth", "peer", "name", m_vethB},
            {"link", "set", va, "netns", a},
            {"link", "set", m_vethB, "netns", b},
            {"-n", a, "address", "add", std::string(kAddrA) + "/24", "dev", va},
            {"-n", b, "address", "add", std::string(kAddrB) + "/24", "dev", m_vethB},
            {"-n", a, "link", "set", "lo", "up"},
            {"-n", b, "link", "set", "lo", "up"},
            {"-n", a, "link", "set", va, "up"},
            {"-n", b, "link", "set", m_vethB, "up"},
            // The limited broadcast follows the default route.
            {"-n", a, "route", "add", "default", "dev", va},
            {"-n", b, "route", "add", "default", "dev", m_vethB},
        };
        for (const auto& step : steps) {
            if (RunIp(step) != 0) {
                m_error = "ip " + step[0] + " " + step[1] + " ... failed";
                return;
            }
        }
        if (!OpenSocketInB()) {
            m_error = "cannot open the listening socket on the second host";
        }
    }

    ~TestNet() { Close(); }

    // The socket is created inside host B; the process then returns to its
    // own namespace, so the socket stays B's and everything else is as usual.
    bool OpenSocketInB() {
        const int own = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int other =
            open((std::string("/run/netns/") + g_hostB).c_str(), O_RDONLY | O_CLOEXEC);
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

    std::string m_vethB;
    std::string m_error;
    int m_socket = -1;
    int m_peersAdded = 0;
    int m_homes = 0;
};

// ---------------------------------------------------------------------------
// Datagrams on host B.

struct Heard {
    Clock::time_point when;
    int16_t status = 0;
};

// Waits for the next presence datagram of host A (any, or a goodbye only).
std::optional<Heard> WaitPresence(int fd, Clock::time_point deadline, bool goodbyeOnly) {
    in_addr hostA{};
    inet_pton(AF_INET, kAddrA, &hostA);
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

// A presence announcement from a peer with its own source address, to the
// limited broadcast as the program itself sends it.
bool AnnounceAs(int fd, in_addr source, const std::string& name, const std::string& group) {
    unsigned char packet[kPresenceLength] = {1, 0, 1, 0, 0, 0};
    std::memcpy(packet + 6, name.data(), std::min<size_t>(name.size(), 47));
    std::memcpy(packet + 54, group.data(), std::min<size_t>(group.size(), 47));

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    iovec iov{packet, sizeof packet};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = IPPROTO_IP;
    cmsg->cmsg_type = IP_PKTINFO;
    cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = source;
    std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);
    return sendmsg(fd, &msg, 0) == kPresenceLength;
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

// ---------------------------------------------------------------------------
// The program under test.

struct Display {
    int number = 0;
};

// Starts the program on host A with a fresh home, as the end-to-end tests do.
pid_t StartProgram(const std::string& home, std::optional<Display> display) {
    std::string program = MURMEX3_PROGRAM;
    const std::string dir = program.substr(0, program.rfind('/'));
    const char* path = std::getenv("PATH");
    std::vector<std::string> args = {"ip",
                                     "netns",
                                     "exec",
                                     g_hostA,
                                     "env",
                                     "-i",
                                     std::string("PATH=") + (path ? path : "/usr/bin:/bin"),
                                     "HOME=" + home,
                                     "USER=bench",
                                     "LOGNAME=bench",
                                     "XDG_RUNTIME_DIR=" + home};
    if (display) {
        args.push_back("QT_QPA_PLATFORM=xcb");
        args.push_back("DISPLAY=:" + std::to_string(display->number));
    } else {
        args.push_back("QT_QPA_PLATFORM=offscreen");
    }
    args.push_back(program);
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string log = home + "/program.log";

    // No quit signal between the fork and noting the child, so none escapes.
    sigset_t old;
    BlockQuitSignals(&old);
    const pid_t pid = fork();
    if (pid == 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        // The sounds folder is found beside the program.
        if (chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = open("/dev/null", O_RDONLY);
        if (out >= 0 && null >= 0) {
            dup2(null, 0);
            dup2(out, 1);
            dup2(out, 2);
        }
        execv(g_ipPath, argv.data());
        _exit(127);
    }
    if (pid > 0) {
        g_programPid = pid;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return pid;
}

// SIGTERM, then waits for the exit (at most 10 s, then SIGKILL).
// Returns the time it took, or nothing when it had to be killed.
std::optional<double> StopProgram(pid_t pid) {
    const auto start = Clock::now();
    const bool clean = EndChild(pid, 10000);
    g_programPid = 0;
    if (!clean) {
        return std::nullopt;
    }
    return Seconds(Clock::now() - start);
}

// "ip netns exec" execs in place, so the forked pid is the program itself.
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

// utime + stime of all threads, in clock ticks.
std::optional<long long> CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
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

// UDP datagrams delivered to sockets on the program's host so far.
std::optional<long long> UdpInDatagrams(pid_t pid) {
    std::ifstream snmp("/proc/" + std::to_string(pid) + "/net/snmp");
    std::string names;
    std::string values;
    while (std::getline(snmp, names)) {
        if (names.rfind("Udp:", 0) == 0 && std::getline(snmp, values)) {
            std::istringstream header(names);
            std::istringstream numbers(values);
            std::string name;
            std::string number;
            while (header >> name && numbers >> number) {
                if (name == "InDatagrams") {
                    return std::stoll(number);
                }
            }
        }
    }
    return std::nullopt;
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

// One running copy of the program, up and announcing, ended when it goes out
// of scope.
class RunningProgram {
public:
    RunningProgram(TestNet& net, std::optional<Display> display = std::nullopt) : m_net(net) {
        Drain(net.Socket());
        m_start = Clock::now();
        m_pid = StartProgram(net.NewHome(), display);
        if (m_pid <= 0) {
            m_error = "fork failed";
            return;
        }
        const auto heard = WaitPresence(net.Socket(), m_start + 10s, false);
        if (!heard) {
            m_error = "no presence datagram from the program within 10 s";
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
        const pid_t pid = m_pid;
        m_pid = 0;
        m_exitSeconds = StopProgram(pid);
        m_goodbye = WaitPresence(m_net.Socket(), Clock::now() + 1s, true).has_value();
        return m_exitSeconds.has_value() && m_goodbye;
    }

    const std::string& Error() const { return m_error; }
    pid_t Pid() const { return m_pid; }
    Clock::duration StartToPresence() const { return m_firstPresence - m_start; }
    std::optional<double> ExitSeconds() const { return m_exitSeconds; }
    bool SaidGoodbye() const { return m_goodbye; }

private:
    TestNet& m_net;
    pid_t m_pid = 0;
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

// ---------------------------------------------------------------------------
// 1. Process start (fork/exec) to the first presence datagram heard on host B.

void StartToFirstPresence(benchmark::State& state, std::optional<Display> display) {
    TestNet& net = TestNet::Get();
    double best = 1e9;
    double worst = 0;
    double exitTotal = 0;
    int exits = 0;
    for (auto _ : state) {
        RunningProgram program(net, display);
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
    std::string truePath = "/bin/true";
    std::vector<std::string> args = {"netns", "exec", g_hostA, truePath};
    const auto start = Clock::now();
    RunIp(args);
    state.counters["ip_netns_exec_ms"] = Seconds(Clock::now() - start) * 1e3;
    StartToFirstPresence(state, std::nullopt);
}
BENCHMARK(BM_StartToFirstPresence)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The same under a real X server (Xvfb) on host A, where one is installed.
void BM_StartToFirstPresence_Xvfb(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    if (access("/usr/bin/Xvfb", X_OK) != 0) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    Display display;
    for (int number = 90; number < 190; ++number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (access(lock.c_str(), F_OK) != 0) {
            display.number = number;
            std::snprintf(g_xvfbLock, sizeof g_xvfbLock, "%s", lock.c_str());
            std::snprintf(g_xvfbSocket, sizeof g_xvfbSocket, "/tmp/.X11-unix/X%d", number);
            break;
        }
    }
    if (display.number == 0) {
        state.SkipWithError("no free X display number");
        return;
    }
    std::vector<std::string> args = {"ip",
                                     "netns",
                                     "exec",
                                     g_hostA,
                                     "/usr/bin/Xvfb",
                                     ":" + std::to_string(display.number),
                                     "-screen",
                                     "0",
                                     "1024x768x24",
                                     "-nolisten",
                                     "tcp"};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    sigset_t old;
    BlockQuitSignals(&old);
    const pid_t xvfb = fork();
    if (xvfb == 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execv(g_ipPath, argv.data());
        _exit(127);
    }
    g_xvfbPid = xvfb;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    const auto deadline = Clock::now() + 5s;
    while (access(g_xvfbSocket, F_OK) != 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    if (access(g_xvfbSocket, F_OK) != 0) {
        state.SkipWithError("Xvfb did not start within 5 s");
    } else {
        StartToFirstPresence(state, display);
    }
    EndChild(g_xvfbPid.exchange(0), 2000);
    unlink(g_xvfbLock);
    unlink(g_xvfbSocket);
    g_xvfbLock[0] = '\0';
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
        const auto deliveredBefore = UdpInDatagrams(pid);
        const auto start = Clock::now();
        int sent = 0;
        bool drained = true;
        for (int round = 0; round < 2; ++round) {
            // 1,000 datagrams a second: five times the steady rate of
            // 1,000 peers that announce every 5 seconds.
            for (int i = 0; i < kPeers; ++i) {
                sent += AnnounceAs(net.Socket(), PeerAddress(i), PeerName(i), PeerGroup(i)) ? 1 : 0;
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
        const auto deliveredAfter = UdpInDatagrams(pid);
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
        const long long delivered = *deliveredAfter - *deliveredBefore;
        state.counters["datagrams_delivered"] = static_cast<double>(delivered);
        if (sent != 2 * kPeers || !drained || delivered < sent) {
            state.SkipWithError("not all announcements were sent and read");
        }
        program.Stop();
    }
}
BENCHMARK(BM_ResidentWith1000Peers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// ---------------------------------------------------------------------------
// 3. CPU use at rest with 50 peers that announce every 5 s, unchanged.

void BM_IdleCpuWith50Peers(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    constexpr int kPeers = 50;
    constexpr auto kPeriod = 5s;
    constexpr auto kWindow = 30s;
    TestNet& net = TestNet::Get();
    if (!net.AddPeerAddresses(kPeers)) {
        state.SkipWithError("cannot add the peers' addresses to the second host");
        return;
    }
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    for (auto _ : state) {
        RunningProgram program(net);
        if (!program.Error().empty()) {
            state.SkipWithError(program.Error().c_str());
            break;
        }
        const pid_t pid = program.Pid();
        for (int i = 0; i < kPeers; ++i) {
            AnnounceAs(net.Socket(), PeerAddress(i), PeerName(i), PeerGroup(i));
        }
        // Settle: the first sight of each peer is not the idle state.
        std::this_thread::sleep_for(2s);

        const auto ticksBefore = CpuTicks(pid);
        const auto deliveredBefore = UdpInDatagrams(pid);
        const auto start = Clock::now();
        int sent = 0;
        int heard = 0;
        // Peer i announces at i/50 of the period, then every period.
        for (int slot = 0;; ++slot) {
            const int peer = slot % kPeers;
            const auto due = start + (kPeriod * slot) / kPeers;
            if (due >= start + kWindow) {
                break;
            }
            while (Clock::now() < due) {
                if (WaitPresence(net.Socket(), due, false)) {
                    ++heard;
                }
            }
            sent += AnnounceAs(net.Socket(), PeerAddress(peer), PeerName(peer), PeerGroup(peer))
                        ? 1
                        : 0;
        }
        while (Clock::now() < start + kWindow) {
            if (WaitPresence(net.Socket(), start + kWindow, false)) {
                ++heard;
            }
        }
        const auto ticksAfter = CpuTicks(pid);
        const double wall = Seconds(Clock::now() - start);
        state.SetIterationTime(wall);
        if (!ticksBefore || !ticksAfter) {
            state.SkipWithError("cannot read the program's /proc entries");
            break;
        }
        const double cpuSeconds =
            static_cast<double>(*ticksAfter - *ticksBefore) / static_cast<double>(ticksPerSecond);
        state.counters["cpu_percent"] = cpuSeconds / wall * 100.0;
        state.counters["cpu_ticks"] = static_cast<double>(*ticksAfter - *ticksBefore);
        state.counters["window_s"] = wall;
        state.counters["peer_datagrams"] = sent;
        state.counters["own_announcements"] = heard;
        const auto queue = ProgramSocket(pid);
        state.counters["datagrams_dropped"] = queue ? static_cast<double>(queue->drops) : -1;
        const auto deliveredAfter = UdpInDatagrams(pid);
        if (deliveredBefore && deliveredAfter) {
            state.counters["datagrams_delivered"] =
                static_cast<double>(*deliveredAfter - *deliveredBefore);
        }
        program.Stop();
    }
}
BENCHMARK(BM_IdleCpuWith50Peers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    InstallSignalTeardown();
    std::atexit(TearDownAll);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The socket holds host B; close it before the hosts go.
    if (g_hostsMade) {
        TestNet::Get().Close();
    }
    TearDownAll();
    return 0;
}
