// src/core/settings/InactivityWatch.cpp
#include "core/settings/InactivityWatch.h"

#include <algorithm>
#include <utility>

namespace {
constexpr uint32_t kMillisecondsPerMinute = 60000;
}

void RunInactivityWatch(AppState& state, const IdleInputProbe* probe) {
    if (probe == nullptr) {
        return;
    }
    const auto [checkActivity, inactivityMinutes] = state.Read([](const SettingsRecord& s) {
        return std::pair{s.checkActivity, s.inactivityMinutes};
    });
    if (!checkActivity) {
        return;
    }
    const std::optional<uint32_t> lastInput = probe->LastInputTick();
    if (!lastInput) {
        return;
    }
    const uint32_t now = probe->TickCount();
    // Unsigned 32-bit, so the difference stays right across the wrap of the tick counter.
    const uint32_t idleMs = static_cast<uint32_t>(now - *lastInput);
    const int64_t idleMinutes = idleMs / kMillisecondsPerMinute;

    const int16_t saved = state.StatusBeforeAway();
    if (idleMinutes == 0 && saved != -1) {
        state.SetOwnStatus(saved);
        state.SetStatusBeforeAway(-1);
        return;
    }
    // Zero or negative counts would switch back and forth at every pass.
    const int64_t threshold = std::max<int32_t>(inactivityMinutes, 1);
    const int16_t own = state.OwnStatus();
    if (own != AtLunch && idleMinutes >= threshold && saved == -1) {
        state.SetStatusBeforeAway(own);
        state.SetOwnStatus(Away);
    }
}
