// src/core/settings/AppState.cpp
#include "core/settings/AppState.h"

#include "core/res/Strings.h"

namespace {
constexpr const char* kDefaultSoundFolder = "Standard";
}

SettingsRecord AppState::Settings() const {
    std::lock_guard lock(m_mutex);
    return m_settings;
}

void AppState::SetSettings(const SettingsRecord& settings) {
    std::lock_guard lock(m_mutex);
    m_settings = settings;
}

std::string AppState::ComputerName() const {
    std::lock_guard lock(m_mutex);
    return m_computerName;
}

void AppState::SetHostComputerName(const std::string& name) {
    std::lock_guard lock(m_mutex);
    m_computerName = name;
}

AppState::Identity AppState::PresenceIdentity() const {
    std::lock_guard lock(m_mutex);
    Identity identity;
    identity.status = m_ownStatus.load();
    identity.userName = m_settings.userName;
    identity.computerName = m_computerName;
    identity.groupName = m_settings.groupName;
    return identity;
}

void LoadSettings(AppState& state, const Profile& profile) {
    state.SetSettings(LoadSettings(profile));
}

void ApplyDerivedDefaults(AppState& state, const NameSource& names) {
    // The system is asked outside the lock; only this thread writes the settings.
    const bool wantLogonName =
        state.Read([](const SettingsRecord& s) { return s.userName.empty() || s.windowsUserName; });
    if (wantLogonName) {
        const std::string logonName = names.LogonName();
        state.Modify([&](SettingsRecord& s) { s.userName = logonName; });
    }
    state.SetHostComputerName(names.ComputerName());
    state.SetOwnStatus(Ready);
    state.Modify([](SettingsRecord& s) {
        if (s.soundFolder.empty()) {
            s.soundFolder = kDefaultSoundFolder;
        }
        if (s.groupName.empty()) {
            s.groupName = res::String(res::kStrDefaultGroup);
        }
    });
    state.SetStatusBeforeAway(-1);
}

void SaveSettings(const AppState& state, Profile& profile) {
    SaveSettings(profile, state.Settings());
}
