// src/core/settings/UserStatus.h
#pragma once

#include <cstdint>
#include <string>

#include "core/base/Presenter.h"

// Presence status of the user and of every peer; 16-bit on the wire.
enum UserStatus : int16_t {
    Ready = 0,
    Away = 1,
    DoNotDisturb = 2,
    AtLunch = 3,
    Disconnected = 4,
};

// "OK", "Pryč", "Neruš", "Jím", "Odpojen" (code page 1250); empty for any
// other value.
std::string KnownStatusText(int16_t status);
// The same; any other value also shows the trace box "App 1, aSt %i".
std::string StatusShortText(int16_t status, MessagePresenter& presenter);
