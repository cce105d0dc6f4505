// src/core/settings/InactivityWatch.h
#pragma once

#include <cstdint>
#include <optional>

#include "core/settings/AppState.h"

// The system's input idle clock: tick counts in milliseconds that wrap at 2^32.
struct IdleInputProbe {
    virtual ~IdleInputProbe() = default;
    // Tick count of the last keyboard or mouse input; nothing if unknown now.
    virtual std::optional<uint32_t> LastInputTick() const = 0;
    virtual uint32_t TickCount() const = 0;
};

// Switches the own status to Away after "InactivityMinutes" whole minutes
// without input and back at the first pass that sees input less than a minute
// old. Run on the user-interface thread after a change of the status or the
// settings and every second while the watch is on. A null probe means
// the desktop cannot tell, and the watch does nothing. Minute counts below 1
// count as 1 (the stored value stays as typed).
void RunInactivityWatch(AppState& state, const IdleInputProbe* probe);
