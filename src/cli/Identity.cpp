// src/cli/Identity.cpp
#include "cli/Identity.h"

#include <optional>

#include "cli/Text.h"
#include "core/net/Packet.h"
#include "core/res/Cp1250.h"

namespace {

// Text of a presence field, its NUL aside.
constexpr size_t kFieldText = kPresenceFieldWidth - 1;

std::optional<std::string> OptionText(const std::optional<std::string>& option,
                                      const char* optionName, std::string& error) {
    if (!option) {
        return std::nullopt;
    }
    std::string reason;
    std::optional<std::string> text = clitext::ToCp1250(*option, reason);
    if (!text) {
        error = std::string(optionName) + ": " + reason;
    }
    return text;
}

}  // namespace

std::string PrepareIdentity(AppState& state, const Profile& profile, const NameSource& names,
                            const Arguments& arguments) {
    std::string error;
    const std::optional<std::string> name = OptionText(arguments.name, "--name", error);
    const std::optional<std::string> group = OptionText(arguments.group, "--group", error);
    if (!error.empty()) {
        return error;
    }
    LoadSettings(state, profile);
    if (name) {
        // An explicit name wins over the logon name the settings may ask for.
        state.Modify([&](SettingsRecord& s) {
            s.userName = *name;
            s.windowsUserName = false;
        });
    }
    ApplyDerivedDefaults(state, names);
    if (group) {
        state.Modify([&](SettingsRecord& s) { s.groupName = *group; });
    }
    if (arguments.status) {
        state.SetOwnStatus(*arguments.status);
    }
    const AppState::Identity identity = state.PresenceIdentity();
    const size_t joined = identity.userName.size() + 1 + identity.computerName.size();
    if (name && joined > kFieldText) {
        return "--name: the name, '@' and the computer's name (" +
               clitext::OneLine(cp1250::ToUtf8(identity.computerName)) + ") take " +
               std::to_string(joined) + " bytes; a presence carries at most " +
               std::to_string(kFieldText);
    }
    if (group && identity.groupName.size() > kFieldText) {
        return "--group: the group takes " + std::to_string(identity.groupName.size()) +
               " bytes; a presence carries at most " + std::to_string(kFieldText);
    }
    return {};
}
