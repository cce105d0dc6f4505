// src/cli/Commands.h
#pragma once

#include <functional>
#include <string>

#include "cli/Arguments.h"
#include "cli/Streams.h"
#include "core/base/Clock.h"
#include "core/net/ExtraDestinations.h"
#include "core/net/PeerSocket.h"
#include "core/settings/AppState.h"
#include "platform/QuitRequests.h"

inline constexpr int kExitDone = 0;
inline constexpr int kExitNetwork = 1;
inline constexpr int kExitUsage = 2;

// What the network commands share: the identity to announce, the clock of
// "last heard", where lines and errors go and how, the endpoint's options (a
// test's fake network) and what asks them to quit.
struct CommandContext {
    AppState& state;
    const Clock& clock;
    Output& output;
    ErrorStream& errors;
    ErrorPresenter& presenter;
    bool colour = false;
    CPeerSocket::Options socket = {};
    // Where broadcasts also go; null: nowhere else.
    ExtraDestinations* extras = nullptr;
    std::function<bool()> quitRequested = platform::QuitRequested;
};

// Each returns the exit status. `text` is the message in code page 1250.
int RunPeers(const Arguments& arguments, CommandContext& context);
int RunSend(const Arguments& arguments, const std::string& text, CommandContext& context);
int RunBell(const Arguments& arguments, CommandContext& context);
int RunWatch(const Arguments& arguments, CommandContext& context);
