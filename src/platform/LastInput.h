// src/platform/LastInput.h
#pragma once

#include <cstdint>
#include <optional>

// The time of the session's last keyboard or mouse input, where the system
// itself tells it (Windows). Elsewhere the desktop tells it
// (widgets/desktop/IdleInput.h).
namespace platform {

// A steady tick count in milliseconds, wrapping at 2^32 (GetTickCount on
// Windows).
uint32_t TickCount();

// Whether the system tells the time of the last input: Windows, where user32
// has GetLastInputInfo.
bool SystemTellsLastInput();

// The tick count of the last input; nothing where or when the system cannot tell.
std::optional<uint32_t> LastInputTick();

}  // namespace platform
