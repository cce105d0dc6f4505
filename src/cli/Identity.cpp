// src/cli/Identity.cpp
#include "cli/Identity.h"

#include <cstdio>
#include <optional>

#include "cli/Text.h"
#include "core/res/Cp1250.h"

namespace {

// The first control character (C0, DEL or C1) of a valid UTF-8 text.
std::optional<char32_t> ControlCharacter(std::string_view utf8) {
    for (size_t at = 0; at < utf8.size();) {
        const std::optional<char32_t> next = utf8::Next(utf8, at);
        if (!next) {
            return std::nullopt;
        }
        if (*next < 0x20 || (*next >= 0x7F && *next <= 0x9F)) {
            return next;
        }
    }
    return std::nullopt;
}

std::optional<std::string> OptionText(const std::optional<std::string>& option,
                                      const char* optionName, std::string& error) {
    if (!option) {
        return std::nullopt;
    }
    std::string reason;
    std::optional<std::string> text = clitext::ToCp1250(*option, reason);
    if (!text) {
        error = std::string(optionName) + ": " + reason;
    } else if (const std::optional<char32_t> control = ControlCharacter(*option)) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(*control));
        error =
            std::string(optionName) + ": the control character " + code + " cannot be announced";
        text.reset();
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
    // A longer "user@computer" or group is cut to its field as the desktop
    // program cuts it, when the presence is built; in code page 1250 each
    // character is one byte, so no character is cut in two.
    return {};
}
