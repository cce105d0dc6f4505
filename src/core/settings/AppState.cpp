// src/core/settings/AppState.cpp
#include "core/settings/AppState.h"

#include <utility>

#include "core/res/Strings.h"

namespace {
constexpr const char* kDefaultSoundFolder = "Standard";
}

void AppState::Subscription::Reset() {
    if (m_state != nullptr) {
        std::exchange(m_state, nullptr)->Unsubscribe(m_id);
    }
}

AppState::Subscription AppState::Subscribe(Listener listener) {
    std::lock_guard lock(m_listenersMutex);
    const int id = m_nextListenerId++;
    m_listeners.emplace_back(id, std::move(listener));
    return Subscription(this, id);
}

void AppState::Unsubscribe(int id) {
    std::lock_guard lock(m_listenersMutex);
    std::erase_if(m_listeners, [id](const auto& entry) { return entry.first == id; });
}

AppState::Change AppState::Compare(const SettingsRecord& before, const SettingsRecord& after) {
    Change change;
    change.settings = !(before == after);
    change.aboutMePeriod = before.aboutMePeriod != after.aboutMePeriod;
    return change;
}

void AppState::Notify(const Change& change) {
    if (!change.ownStatus && !change.settings) {
        return;
    }
    std::lock_guard lock(m_listenersMutex);
    for (const auto& [id, listener] : m_listeners) {
        listener(change);
    }
}

void AppState::SetOwnStatus(int16_t status) {
    if (m_ownStatus.exchange(status) != status) {
        Notify(Change{.ownStatus = true});
    }
}

SettingsRecord AppState::Settings() const {
    std::lock_guard lock(m_mutex);
    return m_settings;
}

void AppState::SetSettings(const SettingsRecord& settings) {
    Change change;
    {
        std::lock_guard lock(m_mutex);
        change = Compare(m_settings, settings);
        m_settings = settings;
    }
    Notify(change);
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
    SettingsRecord settings = LoadSettings(profile);
    settings.extraAddresses = profile.ReadString(kSettingsSection, kExtraAddressesKey).value_or("");
    state.SetSettings(std::move(settings));
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
    const SettingsRecord settings = state.Settings();
    SaveSettings(profile, settings);
    // Written once it has been set: a profile that never had the list stays as it was.
    if (!settings.extraAddresses.empty() ||
        profile.ReadString(kSettingsSection, kExtraAddressesKey)) {
        profile.WriteString(kSettingsSection, kExtraAddressesKey, settings.extraAddresses);
    }
}
