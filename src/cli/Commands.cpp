// src/cli/Commands.cpp
#include "cli/Commands.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

#include "cli/Formats.h"
#include "cli/PeerTable.h"
#include "cli/Text.h"
#include "core/base/Log.h"
#include "core/net/PeerSocket.h"
#include "core/net/PresenceAnnouncer.h"
#include "core/peers/LivenessWatcher.h"
#include "core/res/Cp1250.h"
#include "platform/QuitRequests.h"
#include "platform/SocketReceiver.h"
#include "platform/SocketWait.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Listening for a name: one period and this much for the announcement on its way.
constexpr std::chrono::seconds kResolveMargin{1};

const std::string kPortText = std::to_string(kPeerPort);

struct Endpoint {
    std::unique_ptr<CPeerSocket> socket;
    bool shared = false;  // on another port: the peer port is taken on this computer
};

// Port 23654; where it is taken and `mayShare`, any free port, which reaches
// the peers on their port all the same. Nothing when neither opens.
std::optional<Endpoint> OpenEndpoint(CommandContext& context, bool mayShare, const char* command) {
    if (context.extras != nullptr && !context.socket.extraDestinations) {
        context.socket.extraDestinations = [extras = context.extras] {
            return extras->Destinations();
        };
    }
    Endpoint endpoint;
    endpoint.socket =
        std::make_unique<CPeerSocket>(context.state, context.presenter, context.socket);
    if (endpoint.socket->OpenEndpoint()) {
        return endpoint;
    }
    const int code = endpoint.socket->LastError();
    if (!platform::IsAddressInUseCode(code)) {
        context.errors.SystemError("cannot open UDP port " + kPortText, code);
        return std::nullopt;
    }
    if (!mayShare) {
        context.errors.SystemError(std::string("UDP port ") + kPortText +
                                       " is taken on this computer, most likely by a running "
                                       "copy of Murmex3; " +
                                       command + " needs that port to hear the peers",
                                   code);
        return std::nullopt;
    }
    CPeerSocket::Options options = context.socket;
    options.port = 0;
    options.destinationPort = kPeerPort;
    endpoint.socket = std::make_unique<CPeerSocket>(context.state, context.presenter, options);
    if (!endpoint.socket->OpenEndpoint()) {
        context.errors.SystemError("cannot open a UDP port", endpoint.socket->LastError());
        return std::nullopt;
    }
    endpoint.shared = true;
    return endpoint;
}

// The goodbye, as the desktop program says it, by the interfaces as they are
// now (a default route gone since they were read takes the limited broadcast
// with it, and the directed broadcasts carry it alone). False, after an error,
// when it left by no network.
bool SayGoodbye(CPeerSocket& socket, CommandContext& context) {
    const int sentBefore = socket.SentCount();
    const int failuresBefore = context.presenter.Failures();
    context.presenter.SetContext("cannot say goodbye");
    socket.BroadcastGoodbye();
    if (socket.SentCount() > sentBefore) {
        return true;
    }
    if (context.presenter.Failures() == failuresBefore) {
        // An unreachable network, which the endpoint passes over in silence.
        context.errors.Error(
            "cannot say goodbye: no network is reachable; the peers will mark this peer silent "
            "in 30 s");
    }
    return false;
}

enum class ListenEnd { Deadline, Quit, Failed };

using DatagramHandler =
    std::function<bool(const uint8_t* data, size_t size, const std::string& sender)>;

// Receives until the deadline or a quit request, handing every datagram that
// is not this computer's own to `handle`; a handler that returns false ends
// the listening as a failure. It reads at most one batch between two looks at
// the quit request and the deadline: a flood costs datagrams, never the
// announcement that is due or the exit.
ListenEnd Listen(CPeerSocket& socket, CommandContext& context, SteadyClock::time_point deadline,
                 const DatagramHandler& handle) {
    uint8_t buffer[kReceiveBufferSize];
    for (;;) {
        if (context.quitRequested()) {
            return ListenEnd::Quit;
        }
        const auto now = SteadyClock::now();
        if (now >= deadline) {
            return ListenEnd::Deadline;
        }
        // Until the next deadline: a datagram or a quit request ends it sooner.
        int error = 0;
        const platform::WaitResult ready = platform::WaitReadable(
            socket.Handle(), std::chrono::ceil<std::chrono::milliseconds>(deadline - now), error);
        if (ready == platform::WaitResult::Failed) {
            context.errors.SystemError("cannot wait for datagrams", error);
            return ListenEnd::Failed;
        }
        if (ready != platform::WaitResult::Readable) {
            continue;
        }
        for (size_t read = 0; read < platform::SocketReceiver::kMaxBatch; ++read) {
            const platform::ReceivedDatagram received =
                platform::ReceiveDatagram(socket.Handle(), buffer, kReceiveBufferSize);
            if (received.bytes == 0) {
                break;
            }
            if (received.bytes < 0) {
                if (received.error == platform::MessageTooLongCode()) {
                    corelog::Warning("net", "Dropped a datagram longer than " +
                                                std::to_string(kReceiveBufferSize) + " bytes.");
                    continue;
                }
                context.errors.SystemError("cannot receive a datagram", received.error);
                return ListenEnd::Failed;
            }
            if (const auto address = platform::ParseDottedAddress(received.sender);
                address && socket.IsOwnAddress(*address)) {
                continue;
            }
            if (!handle(buffer, static_cast<size_t>(received.bytes), received.sender)) {
                return ListenEnd::Failed;
            }
        }
    }
}

std::chrono::seconds Period(const AppState& state) {
    return PresenceAnnouncer::Period(
        state.Read([](const SettingsRecord& s) { return s.aboutMePeriod; }));
}

std::string PeerList(const std::vector<Peer>& peers) {
    std::string list;
    for (const Peer& peer : peers) {
        list += (list.empty() ? "" : ", ") + clitext::OneLine(cp1250::ToUtf8(peer.name)) + " (" +
                peer.address + ")";
    }
    return list;
}

bool IsDottedAddress(const std::string& text) {
    return platform::ParseDottedAddress(text).has_value();
}

// "'a', 'b'" of texts in UTF-8.
std::string Quoted(const std::vector<std::string>& texts) {
    std::string list;
    for (const std::string& text : texts) {
        list += (list.empty() ? "'" : ", '") + text + "'";
    }
    return list;
}

// Where a message or bell goes: the addresses given and those of the peers
// announcing the names given, each once; one empty target for everybody.
// Names are looked up together, in one listening. Nothing after an error,
// with the exit status in `status`.
std::optional<std::vector<std::string>> Destinations(const Arguments& arguments,
                                                     CommandContext& context, Endpoint& endpoint,
                                                     int& status) {
    if (arguments.all) {
        return std::vector<std::string>{std::string()};
    }
    std::vector<std::string> names;
    for (const std::string& to : arguments.to) {
        if (!IsDottedAddress(to)) {
            names.push_back(to);
        }
    }
    PeerTable table{context.state};
    const auto listened = Period(context.state) + kResolveMargin;
    if (!names.empty()) {
        if (endpoint.shared) {
            context.errors.Error(
                "UDP port " + kPortText +
                " is taken on this computer, most likely by a running copy of Murmex3, so " +
                (names.size() == 1 ? "the name " : "the names ") + Quoted(names) +
                " cannot be looked up: names are heard only on that port. Give the peer's "
                "address instead.");
            status = kExitNetwork;
            return std::nullopt;
        }
        for (const std::string& name : names) {
            std::string error;
            if (!clitext::ToCp1250(name, error)) {
                context.errors.Error("--to: " + error);
                status = kExitUsage;
                return std::nullopt;
            }
        }
        const ListenEnd end =
            Listen(*endpoint.socket, context, SteadyClock::now() + listened,
                   [&](const uint8_t* data, size_t size, const std::string& sender) {
                       table.Receive(data, size, sender, context.clock.NowSeconds());
                       return true;
                   });
        if (end != ListenEnd::Deadline) {
            if (end == ListenEnd::Quit) {
                context.errors.Error("interrupted while looking for " + Quoted(names) +
                                     "; nothing was sent");
            }
            status = kExitNetwork;
            return std::nullopt;
        }
    }
    std::vector<std::string> targets;
    bool unknown = false;
    for (const std::string& to : arguments.to) {
        std::string address = to;
        if (!IsDottedAddress(to)) {
            std::string error;
            const std::vector<Peer> named = table.Named(*clitext::ToCp1250(to, error));
            if (named.size() != 1) {
                const std::string heard = PeerList(table.Peers());
                context.errors.Error(
                    named.empty()
                        ? "no peer named '" + to + "' was heard in " +
                              std::to_string(listened.count()) + " s; " +
                              (heard.empty() ? "none was heard at all" : "heard: " + heard)
                        : "the name '" + to +
                              "' is ambiguous; give one of the addresses: " + PeerList(named));
                unknown = true;
                continue;
            }
            address = named.front().address;
        }
        if (std::find(targets.begin(), targets.end(), address) == targets.end()) {
            targets.push_back(address);
        }
    }
    if (unknown) {
        status = kExitUsage;
        return std::nullopt;
    }
    return targets;
}

// Sends a message (`text` set) or a bell to each destination of the arguments.
int Deliver(const Arguments& arguments, const std::optional<std::string>& text,
            CommandContext& context) {
    std::optional<Endpoint> endpoint = OpenEndpoint(context, true, text ? "send" : "bell");
    if (!endpoint) {
        return kExitNetwork;
    }
    CPeerSocket& socket = *endpoint->socket;
    if (!endpoint->shared) {
        // Peers take messages only from an address they have heard announce
        // itself; on a shared port the running copy has done that.
        context.presenter.SetContext("cannot announce this peer");
        socket.BroadcastPresence();
    }
    int status = kExitDone;
    const std::optional<std::vector<std::string>> targets =
        Destinations(arguments, context, *endpoint, status);
    if (!targets) {
        return status;
    }
    const int failuresBefore = context.presenter.Failures();
    for (const std::string& target : *targets) {
        const std::string where = target.empty() ? std::string("everybody") : target;
        if (text) {
            // As the conversation window does: the typing notice, then the message.
            context.presenter.SetContext("cannot send the typing notice to " + where);
            socket.SendTyping(target);
            context.presenter.SetContext("cannot send the message to " + where);
            socket.SendText(*text, target);
        } else {
            context.presenter.SetContext("cannot ring the bell of " + where);
            socket.SendBell(target);
        }
    }
    return context.presenter.Failures() > failuresBefore ? kExitNetwork : kExitDone;
}

}  // namespace

int RunPeers(const Arguments& arguments, CommandContext& context) {
    std::optional<Endpoint> endpoint = OpenEndpoint(context, false, "peers");
    if (!endpoint) {
        return kExitNetwork;
    }
    CPeerSocket& socket = *endpoint->socket;
    context.presenter.SetContext("cannot announce this peer");
    if (!arguments.quiet) {
        socket.BroadcastPresence();
    }
    PeerTable table{context.state};
    const ListenEnd end =
        Listen(socket, context, SteadyClock::now() + std::chrono::seconds(arguments.waitSeconds),
               [&](const uint8_t* data, size_t size, const std::string& sender) {
                   table.Receive(data, size, sender, context.clock.NowSeconds());
                   return true;
               });
    const bool saidGoodbye = arguments.quiet || SayGoodbye(socket, context);
    platform::QuitHandled();
    const int64_t now = context.clock.NowSeconds();
    const std::string text = arguments.json
                                 ? formats::PeersJson(table.Peers(), now)
                                 : formats::PeersTable(table.Peers(), now, context.colour);
    if (!context.output.Write(text) && !context.output.Closed()) {
        context.errors.SystemError("cannot write to standard output", context.output.Error());
        return kExitNetwork;
    }
    return end == ListenEnd::Failed || !saidGoodbye || context.presenter.Failures() > 0
               ? kExitNetwork
               : kExitDone;
}

int RunSend(const Arguments& arguments, const std::string& text, CommandContext& context) {
    return Deliver(arguments, text, context);
}

int RunBell(const Arguments& arguments, CommandContext& context) {
    return Deliver(arguments, std::nullopt, context);
}

int RunWatch(const Arguments& arguments, CommandContext& context) {
    std::optional<Endpoint> endpoint = OpenEndpoint(context, false, "watch");
    if (!endpoint) {
        return kExitNetwork;
    }
    CPeerSocket& socket = *endpoint->socket;
    context.presenter.SetContext("cannot announce this peer");
    PeerTable table{context.state};
    // A reader that has gone ends the watch as a quit request does.
    bool outputClosed = false;
    auto print = [&](const PeerEvent& event) {
        const int64_t now = context.clock.NowSeconds();
        const std::string line =
            arguments.json ? formats::EventJson(event, now)
                           : formats::EventLine(event, formats::LocalClock(now), context.colour);
        if (context.output.Write(line)) {
            return true;
        }
        outputClosed = context.output.Closed();
        if (!outputClosed) {
            context.errors.SystemError("cannot write to standard output", context.output.Error());
        }
        return false;
    };

    socket.BroadcastPresence();
    auto nextAnnouncement = SteadyClock::now() + Period(context.state);
    auto nextScan = SteadyClock::now() + LivenessWatcher::kScanInterval;
    ListenEnd end = ListenEnd::Deadline;
    while (end == ListenEnd::Deadline) {
        end = Listen(socket, context, std::min(nextAnnouncement, nextScan),
                     [&](const uint8_t* data, size_t size, const std::string& sender) {
                         const auto event =
                             table.Receive(data, size, sender, context.clock.NowSeconds());
                         return !event || print(*event);
                     });
        const auto now = SteadyClock::now();
        if (end == ListenEnd::Deadline && now >= nextAnnouncement) {
            socket.BroadcastPresence();
            nextAnnouncement = now + Period(context.state);
        }
        if (end == ListenEnd::Deadline && now >= nextScan) {
            for (const PeerEvent& event : table.Scan(context.clock.NowSeconds())) {
                if (!print(event)) {
                    end = ListenEnd::Failed;
                    break;
                }
            }
            nextScan = now + LivenessWatcher::kScanInterval;
        }
    }
    const bool saidGoodbye = SayGoodbye(socket, context);
    platform::QuitHandled();
    return (end == ListenEnd::Quit || outputClosed) && saidGoodbye ? kExitDone : kExitNetwork;
}
