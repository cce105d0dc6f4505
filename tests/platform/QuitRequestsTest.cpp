// tests/platform/QuitRequestsTest.cpp
#include <gtest/gtest.h>

#include <chrono>

#include "platform/QuitRequests.h"
#include "platform/Socket.h"
#include "platform/SocketWait.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace {

using namespace std::chrono_literals;

// What the user's Ctrl+C or a `kill` sends.
void AskToQuit() {
#ifdef _WIN32
    // Control events go to the processes of a console: the test takes one of
    // its own, which no other process shares (Wine's hidden console of a run
    // with redirected output takes none).
    static const bool ownConsole = (::FreeConsole(), ::AllocConsole() != FALSE);
    ASSERT_TRUE(ownConsole);
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
#else
    ASSERT_EQ(::raise(SIGTERM), 0);
#endif
}

class QuitRequestsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(platform::InitSocketLibrary(), 0);
        int error = 0;
        m_socket = platform::OpenUdpSocket(0, error);
        ASSERT_NE(m_socket, platform::kInvalidSocket) << error;
    }
    void TearDown() override {
        platform::StopWatchingQuitRequests();
        platform::TakeQuitRequest();
        platform::CloseSocket(m_socket);
    }

    // A wait for a datagram that never comes: a request ends it.
    platform::WaitResult WaitForDatagram() {
        int error = 0;
        return platform::WaitReadable(m_socket, 5000ms, error);
    }

    platform::SocketHandle m_socket = platform::kInvalidSocket;
};

TEST_F(QuitRequestsTest, ARequestEndsAWaitAndStaysUntilTaken) {
    EXPECT_EQ(platform::QuitWake(), platform::kNoQuitWake);
    platform::WatchQuitRequests(platform::QuitStyle::Console);
    ASSERT_NE(platform::QuitWake(), platform::kNoQuitWake);
    EXPECT_FALSE(platform::QuitRequested());

    AskToQuit();
    EXPECT_EQ(WaitForDatagram(), platform::WaitResult::Interrupted);
    EXPECT_TRUE(platform::QuitRequested());
    // Still there for every later wait, as the command-line peer's goodbye sees it.
    EXPECT_EQ(WaitForDatagram(), platform::WaitResult::Interrupted);

    EXPECT_TRUE(platform::TakeQuitRequest());
    EXPECT_FALSE(platform::QuitRequested());
    EXPECT_FALSE(platform::TakeQuitRequest());
    int error = 0;
    EXPECT_EQ(platform::WaitReadable(m_socket, 50ms, error), platform::WaitResult::TimedOut);
    platform::QuitHandled();
}

TEST_F(QuitRequestsTest, EveryRequestOfAnEventLoopCounts) {
    platform::WatchQuitRequests(platform::QuitStyle::EventLoop);
    for (int round = 0; round < 3; ++round) {
        AskToQuit();
        EXPECT_EQ(WaitForDatagram(), platform::WaitResult::Interrupted) << round;
        EXPECT_TRUE(platform::TakeQuitRequest()) << round;
    }
}

#ifndef _WIN32
bool HasDefaultDisposition(int signalNumber) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

// A second Ctrl+C ends a command-line program that hangs in its goodbye.
TEST_F(QuitRequestsTest, AConsoleGivesSigintBackAfterTheFirst) {
    platform::WatchQuitRequests(platform::QuitStyle::Console);
    ASSERT_FALSE(HasDefaultDisposition(SIGINT));
    ASSERT_EQ(::raise(SIGINT), 0);
    EXPECT_EQ(WaitForDatagram(), platform::WaitResult::Interrupted);
    EXPECT_TRUE(HasDefaultDisposition(SIGINT));
    EXPECT_FALSE(HasDefaultDisposition(SIGTERM));

    platform::StopWatchingQuitRequests();
    EXPECT_TRUE(HasDefaultDisposition(SIGTERM));
    EXPECT_TRUE(HasDefaultDisposition(SIGHUP));
    EXPECT_EQ(platform::QuitWake(), platform::kNoQuitWake);
}
#endif

}  // namespace
