// src/cli/Commands.h
#pragma once

#include <string>

#include "cli/Arguments.h"
#include "cli/Streams.h"
#include "core/base/Clock.h"
#include "core/settings/AppState.h"

inline constexpr int kExitDone = 0;
inline constexpr int kExitNetwork = 1;
inline constexpr int kExitUsage = 2;

// What the network commands share: the identity to announce, the clock of
// "last heard", where lines go and how.
struct CommandContext {
    AppState& state;
    const Clock& clock;
    Output& output;
    ErrorPresenter& presenter;
    bool colour = false;
};

// Each returns the exit status. `text` is the message in code page 1250.
int RunPeers(const Arguments& arguments, CommandContext& context);
int RunSend(const Arguments& arguments, const std::string& text, CommandContext& context);
int RunBell(const Arguments& arguments, CommandContext& context);
int RunWatch(const Arguments& arguments, CommandContext& context);
