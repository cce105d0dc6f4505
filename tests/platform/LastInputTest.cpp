// tests/platform/LastInputTest.cpp
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/LastInput.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

TEST(LastInputTest, TickCountRunsInMilliseconds) {
    const uint32_t before = platform::TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const uint32_t elapsed = platform::TickCount() - before;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 10000u);
}

#ifdef _WIN32
// The last input is a moment of the tick count that has passed.
TEST(LastInputTest, WindowsTellsTheLastInput) {
    ASSERT_TRUE(platform::SystemTellsLastInput());
    const std::optional<uint32_t> last = platform::LastInputTick();
    ASSERT_TRUE(last.has_value());
    EXPECT_GE(static_cast<int32_t>(platform::TickCount() - *last), 0);
}
#else
TEST(LastInputTest, PosixLeavesTheLastInputToTheDesktop) {
    EXPECT_FALSE(platform::SystemTellsLastInput());
    EXPECT_EQ(platform::LastInputTick(), std::nullopt);
}
#endif

}  // namespace
