// src/cli/Identity.h
#pragma once

#include <string>

#include "cli/Arguments.h"
#include "core/settings/AppState.h"

// What this peer announces: the desktop program's settings with its derived
// defaults (the logon name, "Připojeni", Ready), then --name, --group and
// --status over them, for this run only. Returns an error for an option that
// code page 1250 cannot hold or that holds a control character. A name or
// group longer than its field is cut to it on the wire, as the desktop
// program does.
std::string PrepareIdentity(AppState& state, const Profile& profile, const NameSource& names,
                            const Arguments& arguments);
