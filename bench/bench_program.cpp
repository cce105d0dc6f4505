// bench/bench_program.cpp
// Footprint of the desktop program, measured from outside: the real program
// runs as a separate process on a host of its own (network namespace A),
// joined by a veth pair to a second host (namespace B) where this benchmark
// listens and plays the peers, each from an address of its own. Needs root;
// both hosts, the program, the Xvfb, the tray, the bare receivers and the
// temporary homes are removed on every exit, also on SIGINT/SIGTERM.
//
// Build it in release (make bench does) and run it as root, all of it or some:
//   build/release/bench/bench_program --benchmark_filter='BM_Idle|BM_Flood'
// BM_Idle and BM_Flood print the program's figures beside those of a bare
// receiver measured in the same run, on the same host: the machine may be
// shared, so the ratio is what compares.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PeerFlood.h"

#ifndef MURMEX3_PROGRAM
#error "MURMEX3_PROGRAM must name the program under test"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace peerflood;

constexpr const char* kAddrA = "10.213.77.1";
constexpr const char* kAddrB = "10.213.77.2";
constexpr int16_t kDisconnected = 4;
// Where the bare receiver of the idle benchmark listens on host A, beside the
// program, so both get the same announcements in the same minutes.
constexpr uint16_t kBarePort = kPort + 1;

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
std::atomic<pid_t> g_busPid{0};
std::atomic<pid_t> g_trayPid{0};
std::atomic<pid_t> g_barePid{0};
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
    for (auto* child : {&g_programPid, &g_barePid, &g_trayPid, &g_busPid}) {
        const pid_t pid = child->exchange(0);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
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

// ---------------------------------------------------------------------------
// Processes on host A: the program, its X server and tray, bare receivers.

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

// Runs a command on host A ("ip netns exec" execs in place, so the pid is the
// command's own), in `dir`, with its output in `log`, and notes it in `slot`
// for the teardown. The command inherits `keepFd`.
pid_t SpawnInHostA(std::vector<std::string> command, std::atomic<pid_t>& slot,
                   const std::string& dir, const std::string& log, int keepFd = -1) {
    std::vector<std::string> args = {"ip", "netns", "exec", g_hostA};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    // No quit signal between the fork and noting the child, so none escapes.
    sigset_t old;
    BlockQuitSignals(&old);
    const pid_t pid = fork();
    if (pid == 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
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
        if (keepFd >= 0) {
            fcntl(keepFd, F_SETFD, 0);
        }
        execv(g_ipPath, argv.data());
        _exit(127);
    }
    if (pid > 0) {
        slot = pid;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return pid;
}

// A desktop session's display and bus.
struct Display {
    int number = 0;
    std::string bus;
};

// One Xvfb and one session bus on host A for the whole run, started on first
// use. Xvfb picks a free display number itself and writes it to a pipe once it
// is ready. (Without a bus, the program's D-Bus calls would start one of their
// own through the X server, and leave it behind.)
std::optional<Display> XServer() {
    static const std::optional<Display> display = []() -> std::optional<Display> {
        const std::string bus = std::string(g_tmpRoot) + "/bus";
        SpawnInHostA(
            {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus},
            g_busPid, "/", "/dev/null");
        int fds[2];
        if (access("/usr/bin/Xvfb", X_OK) != 0 || pipe2(fds, O_CLOEXEC) != 0) {
            return std::nullopt;
        }
        SpawnInHostA({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                      "1024x768x24", "-nolisten", "tcp", "-noreset"},
                     g_xvfbPid, "/", std::string(g_tmpRoot) + "/xvfb.log", fds[1]);
        close(fds[1]);
        // The whole line: Xvfb ends when the pipe closes before it has written
        // the newline after the number.
        std::string text;
        pollfd ready{fds[0], POLLIN, 0};
        for (char c = 0; c != '\n' && poll(&ready, 1, 10000) == 1 && read(fds[0], &c, 1) == 1;) {
            text += c;
        }
        close(fds[0]);
        if (text.empty() || text.back() != '\n') {
            return std::nullopt;
        }
        const int number = std::atoi(text.c_str());
        std::snprintf(g_xvfbLock, sizeof g_xvfbLock, "/tmp/.X%d-lock", number);
        std::snprintf(g_xvfbSocket, sizeof g_xvfbSocket, "/tmp/.X11-unix/X%d", number);
        for (int waited = 0; access(bus.c_str(), F_OK) != 0; waited += 10) {
            if (waited > 5000) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(10ms);
        }
        return Display{number, "unix:path=" + bus};
    }();
    return display;
}

// The display's window tree as xwininfo prints it: a window a line, children
// indented below their parent, with their class names as ("name" "Class").
std::string WindowTree(Display display) {
    const std::string command =
        "DISPLAY=:" + std::to_string(display.number) + " xwininfo -root -tree 2>/dev/null";
    std::string text;
    if (std::FILE* out = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, out)) > 0;) {
            text.append(buffer, got);
        }
        pclose(out);
    }
    return text;
}

constexpr const char* kTrayPanel = "(\"panel\" \"trayer\")";

// Whether a window of the class `name` is docked in the tray's panel.
bool DockedInTray(Display display, const std::string& name) {
    std::istringstream tree(WindowTree(display));
    const std::string wanted = "(\"" + name + "\" ";
    std::string line;
    size_t panelDepth = std::string::npos;
    while (std::getline(tree, line)) {
        const size_t depth = line.find_first_not_of(' ');
        if (panelDepth != std::string::npos && depth <= panelDepth) {
            panelDepth = std::string::npos;
        }
        if (line.find(kTrayPanel) != std::string::npos) {
            panelDepth = depth;
        } else if (panelDepth != std::string::npos && line.find(wanted) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// A system tray (trayer) on the display, up before the program starts: the
// program looks for a tray once, at its start. Ended when it goes out of scope.
class Tray {
public:
    explicit Tray(Display display) {
        if (access("/usr/bin/trayer", X_OK) != 0) {
            m_error = "trayer is not installed";
            return;
        }
        SpawnInHostA({"env", "-i", "DISPLAY=:" + std::to_string(display.number), "/usr/bin/trayer"},
                     g_trayPid, "/", std::string(g_tmpRoot) + "/tray.log");
        const auto deadline = Clock::now() + 5s;
        while (WindowTree(display).find(kTrayPanel) == std::string::npos) {
            if (Clock::now() > deadline) {
                m_error = "the tray's panel did not appear within 5 s" +
                          LastLine(std::string(g_tmpRoot) + "/tray.log");
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
        // The panel shows first; the tray's selection is taken just after.
        std::this_thread::sleep_for(500ms);
    }
    ~Tray() { EndChild(g_trayPid.exchange(0), 1000); }

    const std::string& Error() const { return m_error; }

private:
    std::string m_error;
};

// A receiver on host A that only blocks in recv (batch 1) or recvmmsg and
// discards what it reads. Ended when it goes out of scope.
class BareReceiver {
public:
    BareReceiver(uint16_t port, unsigned batch) {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0) {
            return;
        }
        const std::string host = std::string("/run/netns/") + g_hostA;
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
    pid_t m_pid = 0;
};

// Starts the program on host A with a fresh home, as the end-to-end tests do.
pid_t StartProgram(const std::string& home, std::optional<Display> display) {
    std::string program = MURMEX3_PROGRAM;
    const char* path = std::getenv("PATH");
    std::vector<std::string> command = {"env",
                                        "-i",
                                        std::string("PATH=") + (path ? path : "/usr/bin:/bin"),
                                        "HOME=" + home,
                                        "USER=bench",
                                        "LOGNAME=bench",
                                        "XDG_RUNTIME_DIR=" + home};
    if (display) {
        command.push_back("QT_QPA_PLATFORM=xcb");
        command.push_back("DISPLAY=:" + std::to_string(display->number));
        command.push_back("DBUS_SESSION_BUS_ADDRESS=" + display->bus);
    } else {
        command.push_back("QT_QPA_PLATFORM=offscreen");
    }
    command.push_back(program);
    // The sounds folder is found beside the program.
    return SpawnInHostA(command, g_programPid, program.substr(0, program.rfind('/')),
                        home + "/program.log");
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

// One running copy of the program, up and announcing, ended when it goes out
// of scope.
class RunningProgram {
public:
    RunningProgram(TestNet& net, std::optional<Display> display = std::nullopt) : m_net(net) {
        Drain(net.Socket());
        m_start = Clock::now();
        const std::string home = net.NewHome();
        m_pid = StartProgram(home, display);
        if (m_pid <= 0) {
            m_error = "fork failed";
            return;
        }
        const auto heard = WaitPresence(net.Socket(), m_start + 10s, false);
        if (!heard) {
            m_error = "no presence datagram from the program within 10 s" +
                      LastLine(home + "/program.log");
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
    const auto display = XServer();
    if (!display) {
        state.SkipWithError("no Xvfb and session bus: not installed, or not started in time");
        return;
    }
    StartToFirstPresence(state, display);
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
    if (!Prepare(state)) {
        return;
    }
    TestNet& net = TestNet::Get();
    const auto display = XServer();
    if (!display || !net.AddPeerAddresses(peers)) {
        state.SkipWithError("no Xvfb, or cannot add the peers' addresses to the second host");
        return;
    }
    in_addr hostA{};
    inet_pton(AF_INET, kAddrA, &hostA);
    const auto announce = [&](int peer) {
        const Datagram datagram = Announcement(peer);
        SendFrom(net.Socket(), datagram, hostA, kBarePort);
        return SendFrom(net.Socket(), datagram, Broadcast());
    };
    for (auto _ : state) {
        std::optional<Tray> tray;
        if (withTray && !tray.emplace(*display).Error().empty()) {
            state.SkipWithError(tray->Error().c_str());
            break;
        }
        BareReceiver bare(kBarePort, 1);
        RunningProgram program(net, display);
        if (!program.Error().empty() || bare.Pid() == 0) {
            state.SkipWithError(bare.Pid() == 0 ? "the bare receiver did not start"
                                                : program.Error().c_str());
            break;
        }
        if (withTray && !DockedInTray(*display, "murmex3")) {
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
    if (!Prepare(state)) {
        return;
    }
    TestNet& net = TestNet::Get();
    const auto display = XServer();
    if (!display || !net.AddPeerAddresses(kPeers)) {
        state.SkipWithError("no Xvfb, or cannot add the peers' addresses to the second host");
        return;
    }
    in_addr hostA{};
    inet_pton(AF_INET, kAddrA, &hostA);
    const std::vector<Datagram> pool = FloodPool(kind, kPeers);
    const std::atomic<bool> never{false};
    for (auto _ : state) {
        std::optional<Tray> tray;
        if (withTray && !tray.emplace(*display).Error().empty()) {
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
        RunningProgram program(net, display);
        if (!program.Error().empty()) {
            state.SkipWithError(program.Error().c_str());
            break;
        }
        if (withTray && !DockedInTray(*display, "murmex3")) {
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
