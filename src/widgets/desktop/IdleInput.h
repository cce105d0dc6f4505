// src/widgets/desktop/IdleInput.h
#pragma once

#include <cstdint>
#include <memory>

#include "core/settings/InactivityWatch.h"

// The time of the last keyboard or mouse input of the desktop session.
namespace platform {

// A steady tick count in milliseconds, wrapping at 2^32.
uint32_t TickCount();

// The probe for the inactivity watch: the first source of the desktop that
// answers (on Linux the session bus's idle monitors, GNOME's and then the
// freedesktop screen saver, then the X server), or null where none does. A
// platform without a desktop (offscreen) has none.
std::unique_ptr<IdleInputProbe> MakeIdleInputProbe();

}  // namespace platform
