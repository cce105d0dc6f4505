// src/platform/SystemNames.h
#pragma once

#include <optional>
#include <string>

// Names of the user and the computer, as UTF-8, or nothing when the system
// cannot tell.
namespace platform {

std::optional<std::string> LogonName();
// The computer's short name: NetBIOS name on Windows, the host name's first
// label cut to 15 bytes elsewhere.
std::optional<std::string> ComputerName();

}  // namespace platform
