// src/core/settings/Settings.cpp
#include "core/settings/Settings.h"

#include <type_traits>
#include <variant>

#include "core/res/Cp1250.h"
#include "core/res/Strings.h"
#include "platform/SystemNames.h"

namespace {

using Member =
    std::variant<std::string SettingsRecord::*, bool SettingsRecord::*, int32_t SettingsRecord::*>;

struct Field {
    const char* name;
    Member member;
};

// Table order: the order of loading and of saving.
const Field kFields[] = {
    {"UserName", &SettingsRecord::userName},
    {"SoundFolder", &SettingsRecord::soundFolder},
    {"ShowMySelf", &SettingsRecord::showMySelf},
    {"SoundsInDNDState", &SettingsRecord::soundsInDndState},
    {"IconsType", &SettingsRecord::iconsType},
    {"IconsSize", &SettingsRecord::iconsSize},
    {"GroupName", &SettingsRecord::groupName},
    {"PlaySounds", &SettingsRecord::playSounds},
    {"Notifications", &SettingsRecord::notifications},
    {"WindowsUserName", &SettingsRecord::windowsUserName},
    {"TopMost", &SettingsRecord::topMost},
    {"Transpareny", &SettingsRecord::transpareny},
    {"AboutMePeriod", &SettingsRecord::aboutMePeriod},
    {"CheckActivity", &SettingsRecord::checkActivity},
    {"InactivityMinutes", &SettingsRecord::inactivityMinutes},
    {"EnableConnectMsg", &SettingsRecord::enableConnectMsg},
    {"EnableDisconMsg", &SettingsRecord::enableDisconMsg},
    {"BTooltipTimeout", &SettingsRecord::bTooltipTimeout},
    {"OnNewUserMessage", &SettingsRecord::onNewUserMessage},
    {"OpenOnClickTooTip", &SettingsRecord::openOnClickTooTip},
};

std::string ToCp1250OrUnknown(const std::optional<std::string>& utf8) {
    if (!utf8 || utf8->empty()) {
        return res::String(res::kStrUnknownName);
    }
    return cp1250::FromUtf8(*utf8);
}

}  // namespace

SettingsRecord LoadSettings(const Profile& profile) {
    SettingsRecord settings;  // the defaults of a first run
    for (const Field& field : kFields) {
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(settings.*member)>;
                auto& value = settings.*member;
                if constexpr (std::is_same_v<T, std::string>) {
                    value = profile.ReadString(kSettingsSection, field.name).value_or("");
                } else if constexpr (std::is_same_v<T, bool>) {
                    value =
                        profile.ReadInt(kSettingsSection, field.name).value_or(value ? 1 : 0) != 0;
                } else {
                    value = profile.ReadInt(kSettingsSection, field.name).value_or(value);
                }
            },
            field.member);
    }
    return settings;
}

void SaveSettings(Profile& profile, const SettingsRecord& settings) {
    for (const Field& field : kFields) {
        std::visit(
            [&](auto member) {
                using T = std::remove_cvref_t<decltype(settings.*member)>;
                const auto& value = settings.*member;
                if constexpr (std::is_same_v<T, std::string>) {
                    profile.WriteString(kSettingsSection, field.name, value);
                } else if constexpr (std::is_same_v<T, bool>) {
                    profile.WriteInt(kSettingsSection, field.name, value ? 1 : 0);
                } else {
                    profile.WriteInt(kSettingsSection, field.name, value);
                }
            },
            field.member);
    }
}

std::string QueryWindowsUserName() {
    return ToCp1250OrUnknown(platform::LogonName());
}

std::string QueryComputerName() {
    return ToCp1250OrUnknown(platform::ComputerName());
}
