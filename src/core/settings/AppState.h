// src/core/settings/AppState.h
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/settings/Settings.h"
#include "core/settings/UserStatus.h"

// Where the system's names come from; tests give fixed names.
struct NameSource {
    virtual ~NameSource() = default;
    virtual std::string LogonName() const = 0;     // code page 1250
    virtual std::string ComputerName() const = 0;  // code page 1250
};

class SystemNameSource final : public NameSource {
public:
    std::string LogonName() const override { return QueryWindowsUserName(); }
    std::string ComputerName() const override { return QueryComputerName(); }
};

// The settings and their run-time companions, owned by the application object
// and read by every part of the program. Writers (the user-interface thread)
// change the settings under the lock; readers on any thread take a consistent
// copy or read under the same lock, so nobody sees a half-written value.
class AppState {
public:
    SettingsRecord Settings() const;
    void SetSettings(const SettingsRecord& settings);

    template <class F>
    auto Read(F&& reader) const {
        std::lock_guard lock(m_mutex);
        return reader(static_cast<const SettingsRecord&>(m_settings));
    }
    template <class F>
    void Modify(F&& writer) {
        std::lock_guard lock(m_mutex);
        writer(m_settings);
    }

    std::string ComputerName() const;
    // Not SetComputerName: <windows.h> defines that name as a macro.
    void SetHostComputerName(const std::string& name);

    // What a presence announcement carries, taken in one step.
    struct Identity {
        int16_t status = Ready;
        std::string userName;
        std::string computerName;
        std::string groupName;
    };
    Identity PresenceIdentity() const;

    int16_t OwnStatus() const { return m_ownStatus.load(); }
    void SetOwnStatus(int16_t status) { m_ownStatus.store(status); }

    // Only the inactivity watch uses it, on the user-interface thread; -1 for none.
    int16_t StatusBeforeAway() const { return m_statusBeforeAway; }
    void SetStatusBeforeAway(int16_t status) { m_statusBeforeAway = status; }

    // The four status commands: each stores its status and does nothing else.
    void OnStatusReady() { SetOwnStatus(Ready); }
    void OnStatusDoNotDisturb() { SetOwnStatus(DoNotDisturb); }
    void OnStatusAway() { SetOwnStatus(Away); }
    void OnStatusAtLunch() { SetOwnStatus(AtLunch); }

private:
    mutable std::mutex m_mutex;
    SettingsRecord m_settings;
    std::string m_computerName;
    std::atomic<int16_t> m_ownStatus{Ready};
    int16_t m_statusBeforeAway = -1;
};

// Loads the settings from the profile into the state.
void LoadSettings(AppState& state, const Profile& profile);
// The derived values of a start: the logon name where "UserName" is empty or
// "WindowsUserName" is set, the computer name, status Ready, "Standard" for an
// empty "SoundFolder", string 139 for an empty "GroupName". Memory only.
void ApplyDerivedDefaults(AppState& state, const NameSource& names);
void SaveSettings(const AppState& state, Profile& profile);
