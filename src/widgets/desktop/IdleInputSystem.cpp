// src/widgets/desktop/IdleInputSystem.cpp
#include "platform/LastInput.h"
#include "widgets/desktop/IdleInput.h"

// Desktops whose system tells the time of the last input (Windows); where it
// cannot, the inactivity watch stays inert.
namespace platform {
namespace {

class SystemIdleInputProbe final : public IdleInputProbe {
public:
    std::optional<uint32_t> LastInputTick() const override { return platform::LastInputTick(); }
    uint32_t TickCount() const override { return platform::TickCount(); }
};

}  // namespace

std::unique_ptr<IdleInputProbe> MakeIdleInputProbe() {
    if (!SystemTellsLastInput()) {
        return nullptr;
    }
    return std::make_unique<SystemIdleInputProbe>();
}

}  // namespace platform
