// src/platform/posix/LastInputPosix.cpp
#include <chrono>

#include "platform/LastInput.h"

// The system tells no input time: a desktop's services do (the session bus,
// the X server), which the widgets ask.
namespace platform {

uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

bool SystemTellsLastInput() {
    return false;
}

std::optional<uint32_t> LastInputTick() {
    return std::nullopt;
}

}  // namespace platform
