// tests/cli/CommandsTest.cpp
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli/CliMain.h"
#include "cli/Commands.h"
#include "core/Fakes.h"
#include "core/TestSockets.h"
#include "core/net/Packet.h"
#include "core/settings/UserStatus.h"
#include "platform/Console.h"
#include "platform/SocketReceiver.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// A file the test reads back what a command wrote to.
class Capture {
public:
    Capture() : m_file(std::tmpfile()) {}
    ~Capture() { std::fclose(m_file); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::FILE* File() const { return m_file; }
    std::vector<std::string> Lines() const {
        std::fflush(m_file);
        std::rewind(m_file);
        std::vector<std::string> lines(1);
        for (int c = std::fgetc(m_file); c != EOF; c = std::fgetc(m_file)) {
            if (c == '\n') {
                lines.emplace_back();
            } else {
                lines.back() += static_cast<char>(c);
            }
        }
        EXPECT_EQ(lines.back(), "") << "the last line is not ended";
        lines.pop_back();
        return lines;
    }

private:
    std::FILE* m_file;
};

struct SentDatagram {
    std::string to;
    int16_t type = 0;
    int16_t subtype = 0;
    int16_t status = -1;  // a presence's
    bool operator==(const SentDatagram&) const = default;
};

SentDatagram Presence(const std::string& to, int16_t status) {
    return {to, kTypeChat, kSubPresence, status};
}

// A clock that calls `onRead` whenever it is read.
class HookedClock final : public Clock {
public:
    int64_t NowSeconds() const override {
        if (onRead) {
            onRead();
        }
        return 1000;
    }
    std::function<void()> onRead;
};

// A command on a made-up network: its endpoint on a free port of the loopback,
// its interfaces the test's, its sends recorded and refused where the test
// says; a datagram to 127.0.0.1 really goes there.
class CommandTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(platform::InitSocketLibrary(), 0); }

    CommandContext Context(Output* output = nullptr, const Clock* clock = nullptr) {
        CommandContext context{m_state, clock != nullptr ? *clock : m_clock,
                               output != nullptr ? *output : m_output, m_errors, m_presenter};
        context.socket.port = 0;
        context.socket.interfaces = [this] { return m_interfaces; };
        context.socket.send = [this](platform::SocketHandle socket, uint32_t address, uint16_t port,
                                     const void* data, size_t size) {
            m_boundPort = platform::BoundPort(socket);
            const DatagramView datagram(static_cast<const uint8_t*>(data), size);
            const bool presence = datagram.Type() == kTypeChat &&
                                  datagram.Subtype() == kSubPresence &&
                                  datagram.IsCompletePresenceStatus();
            m_sent.push_back({platform::FormatDottedAddress(address), datagram.Type(),
                              datagram.Subtype(),
                              presence ? datagram.PresenceStatus() : int16_t{-1}});
            const auto refused = m_refused.find(m_sent.back().to);
            if (refused != m_refused.end()) {
                return refused->second;
            }
            return address == Ip("127.0.0.1")
                       ? platform::SendDatagram(socket, address, port, data, size)
                       : 0;
        };
        // Never longer than this, should the command not end by itself.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        context.quitRequested = [this, deadline] {
            if (m_onQuitAsked && m_onQuitAsked()) {
                return true;
            }
            m_timedOut = std::chrono::steady_clock::now() > deadline;
            return m_timedOut;
        };
        return context;
    }

    static platform::InterfaceAddress Interface(const char* address, const char* broadcast,
                                                bool carriesLimitedBroadcast) {
        platform::InterfaceAddress entry;
        entry.address = Ip(address);
        entry.broadcast = Ip(broadcast);
        entry.up = true;
        entry.broadcastCapable = true;
        entry.carriesLimitedBroadcast = carriesLimitedBroadcast;
        return entry;
    }

    AppState m_state;
    FakeClock m_clock{1000};
    Capture m_out;
    Capture m_err;
    Output m_output{m_out.File()};
    ErrorStream m_errors{m_err.File()};
    ErrorPresenter m_presenter{m_errors};
    std::vector<platform::InterfaceAddress> m_interfaces = {
        Interface("10.0.0.7", "10.0.0.255", true)};
    std::map<std::string, int> m_refused;
    std::vector<SentDatagram> m_sent;
    uint16_t m_boundPort = 0;  // the command's, once it has sent
    // Asked first whenever the command asks whether to quit.
    std::function<bool()> m_onQuitAsked;
    bool m_timedOut = false;
};

TEST_F(CommandTest, WithJsonEveryErrorIsOneJsonObjectWithTheSystemsCode) {
    m_errors.UseJson(m_clock);
    m_refused = {{"255.255.255.255", testsock::kAccessDenied}};
    m_onQuitAsked = [] { return true; };
    Arguments watch;
    watch.command = Command::Watch;
    watch.json = true;
    CommandContext context = Context();
    EXPECT_EQ(RunWatch(watch, context), kExitNetwork);  // the goodbye left nowhere
    ErrorLogSink(m_errors).Write(LogLevel::Warning, "net", "No announcement has left");

    // Windows ends its texts with a line break, which goes.
    std::string systemText = testsock::SystemErrorText(testsock::kAccessDenied);
    while (systemText.ends_with('\n') || systemText.ends_with('\r')) {
        systemText.pop_back();
    }
    const std::string failure = "SendTo errorcode: " + std::to_string(testsock::kAccessDenied) +
                                ": " + systemText +
                                "\",\"code\":" + std::to_string(testsock::kAccessDenied) +
                                ",\"systemText\":\"" + systemText + "\"}";
    EXPECT_EQ(
        m_err.Lines(),
        (std::vector<std::string>{
            "{\"time\":1000,\"event\":\"error\",\"text\":\"cannot announce this peer: " + failure,
            "{\"time\":1000,\"event\":\"error\",\"text\":\"cannot say goodbye: " + failure,
            "{\"time\":1000,\"event\":\"warning\",\"category\":\"net\",\"text\":\"No "
            "announcement has left\"}"}));

    // The whole program: a usage error after --json is JSON as well.
    Capture out;
    Capture err;
    EXPECT_EQ(CliMain({"watch", "--json", "--name", "Ωmega"}, out.File(), err.File()), kExitUsage);
    const std::vector<std::string> lines = err.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("{\"time\":", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(",\"event\":\"error\",\"text\":\"--name: the character 'Ω'"),
              std::string::npos)
        << lines[0];
    EXPECT_TRUE(out.Lines().empty());
}

#ifndef _WIN32
// As `murmex3-cli watch | head -1`: the reader goes after the first line.
TEST_F(CommandTest, WatchEndsQuietlyAfterItsGoodbyeWhenTheOutputIsClosed) {
    platform::PrepareStandardStreams();  // a write to the closed pipe fails, no SIGPIPE
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[0]);
    std::FILE* closed = ::fdopen(pipeEnds[1], "w");
    ASSERT_NE(closed, nullptr);
    Output output(closed);
    CommandContext context = Context(&output);
    context.socket.broadcastAddress = "127.0.0.1";  // it hears its own announcement

    Arguments watch;
    watch.command = Command::Watch;
    watch.json = true;
    EXPECT_EQ(RunWatch(watch, context), kExitDone);
    std::fclose(closed);
    EXPECT_FALSE(m_timedOut);
    EXPECT_TRUE(output.Closed());
    EXPECT_EQ(m_sent, (std::vector<SentDatagram>{Presence("127.0.0.1", Ready),
                                                 Presence("127.0.0.1", Disconnected)}));
    EXPECT_TRUE(m_err.Lines().empty());
}
#endif

// watch reads the clock for every datagram it handles, and each read brings
// another: its socket is never empty until the flood is spent.
TEST_F(CommandTest, WatchSeesAQuitRequestAfterOneBatchOfAFlood) {
    int error = 0;
    const platform::SocketHandle flood = platform::OpenUdpSocket(0, error);
    ASSERT_NE(flood, platform::kInvalidSocket) << error;
    std::array<PacketBuffer, 2> presences;  // a status change in every datagram
    BuildPresence(presences[0], Ready, "flood", "pc", "G");
    BuildPresence(presences[1], Away, "flood", "pc", "G");
    constexpr int kFloodSize = 1000;
    int sent = 0;
    const auto sendOne = [&] {
        if (m_boundPort != 0 && sent < kFloodSize) {
            platform::SendDatagram(flood, Ip("127.0.0.1"), m_boundPort, presences[sent % 2].data(),
                                   kPresenceLength);
            ++sent;
        }
    };
    HookedClock clock;
    clock.onRead = sendOne;
    int asked = 0;
    int sentAtQuit = 0;
    m_onQuitAsked = [&] {
        if (++asked == 1) {
            sendOne();
            return false;
        }
        sentAtQuit = sent;
        return true;
    };
    Arguments watch;
    watch.command = Command::Watch;
    CommandContext context = Context(nullptr, &clock);
    EXPECT_EQ(RunWatch(watch, context), kExitDone);
    platform::CloseSocket(flood);

    EXPECT_EQ(asked, 2);
    EXPECT_LT(sentAtQuit, kFloodSize);            // the flood was still on
    const size_t handled = m_out.Lines().size();  // a line for each status change
    EXPECT_GT(handled, 0u);
    EXPECT_LE(handled, platform::SocketReceiver::kMaxBatch);
    EXPECT_EQ(m_sent.back(), Presence("255.255.255.255", Disconnected));
}

// The default route goes while watch runs; the interfaces were read with it.
TEST_F(CommandTest, TheGoodbyeGoesByTheDirectedBroadcastWhenTheLimitedOneHasNoRoute) {
    m_onQuitAsked = [this] {
        m_interfaces = {Interface("10.0.0.7", "10.0.0.255", false)};
        m_refused = {{"255.255.255.255", testsock::kNetworkUnreachable}};
        return true;
    };
    Arguments watch;
    watch.command = Command::Watch;
    CommandContext context = Context();
    EXPECT_EQ(RunWatch(watch, context), kExitDone);
    EXPECT_EQ(m_sent, (std::vector<SentDatagram>{Presence("255.255.255.255", Ready),
                                                 Presence("255.255.255.255", Disconnected),
                                                 Presence("10.0.0.255", Disconnected)}));
    EXPECT_TRUE(m_err.Lines().empty());

    // Where no network is left the goodbye is not lost in silence.
    m_sent.clear();
    m_onQuitAsked = [this] {
        m_interfaces.clear();
        m_refused = {{"255.255.255.255", testsock::kNetworkUnreachable}};
        return true;
    };
    CommandContext again = Context();
    EXPECT_EQ(RunWatch(watch, again), kExitNetwork);
    EXPECT_EQ(m_sent.back(), Presence("255.255.255.255", Disconnected));
    const std::vector<std::string> errors = m_err.Lines();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("murmex3-cli: cannot say goodbye: ", 0), 0u) << errors[0];
}

TEST_F(CommandTest, SendGoesToEachPeerGivenOnceWithItsTypingNotice) {
    Arguments send;
    send.command = Command::Send;
    send.to = {"10.0.0.2", "10.0.0.3", "10.0.0.2"};
    CommandContext context = Context();
    EXPECT_EQ(RunSend(send, "Ahoj", context), kExitDone);
    const SentDatagram typing2{"10.0.0.2", kTypeChat, kSubTyping};
    const SentDatagram text2{"10.0.0.2", kTypeChat, kSubText};
    const SentDatagram typing3{"10.0.0.3", kTypeChat, kSubTyping};
    const SentDatagram text3{"10.0.0.3", kTypeChat, kSubText};
    EXPECT_EQ(m_sent, (std::vector<SentDatagram>{Presence("255.255.255.255", Ready), typing2, text2,
                                                 typing3, text3}));
    EXPECT_TRUE(m_err.Lines().empty());
}

}  // namespace
