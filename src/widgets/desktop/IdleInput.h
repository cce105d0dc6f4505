// src/widgets/desktop/IdleInput.h
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "core/settings/InactivityWatch.h"

// The time of the last keyboard or mouse input of the desktop session.
namespace platform {

// Tick count (ms) of the last input, or nothing where the desktop cannot tell.
std::optional<uint32_t> LastInputTick();
uint32_t TickCount();

// The probe for the inactivity watch, or null where the desktop has none
// (X11 without the XScreenSaver extension, Wayland, offscreen).
std::unique_ptr<IdleInputProbe> MakeIdleInputProbe();

}  // namespace platform
