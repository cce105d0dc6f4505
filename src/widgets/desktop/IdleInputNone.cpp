// src/widgets/desktop/IdleInputNone.cpp
#include <chrono>

#include "widgets/desktop/IdleInput.h"

// Desktops that cannot tell the time of the last input: the watch stays inert.
namespace platform {

uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::unique_ptr<IdleInputProbe> MakeIdleInputProbe() {
    return nullptr;
}

}  // namespace platform
