// src/widgets/desktop/IdleInput.h
#pragma once

#include <memory>

#include "core/settings/InactivityWatch.h"
#include "platform/LastInput.h"

// The time of the last keyboard or mouse input of the desktop session, in
// the tick count of platform/LastInput.h.
namespace platform {

// The probe for the inactivity watch: the first source of the desktop that
// answers (on Linux the session bus's idle monitors, GNOME's and then the
// freedesktop screen saver, then the X server), or null where none does. A
// platform without a desktop (offscreen) has none.
std::unique_ptr<IdleInputProbe> MakeIdleInputProbe();

}  // namespace platform
