// tests/core/TestSockets.cpp
#include <gtest/gtest.h>

#include "platform/Socket.h"

namespace {

// Starts the socket library (WSAStartup on Windows) once, before the first test.
class SocketLibrary final : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(platform::InitSocketLibrary(), 0); }
};

[[maybe_unused]] const ::testing::Environment* const kSocketLibrary =
    ::testing::AddGlobalTestEnvironment(new SocketLibrary);

}  // namespace
