// src/core/settings/AppState.h
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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
// Whoever must act on a change subscribes instead of looking again and again.
class AppState {
public:
    // What a change touched.
    struct Change {
        bool ownStatus = false;
        bool settings = false;
        bool aboutMePeriod = false;  // one of the settings
    };
    using Listener = std::function<void(const Change&)>;

    // Ends its listener's calls when it goes; a call under way ends first.
    class [[nodiscard]] Subscription {
    public:
        Subscription() = default;
        Subscription(AppState* state, int id) : m_state(state), m_id(id) {}
        Subscription(Subscription&& other) noexcept
            : m_state(std::exchange(other.m_state, nullptr)), m_id(other.m_id) {}
        Subscription& operator=(Subscription&& other) noexcept {
            if (this != &other) {
                Reset();
                m_state = std::exchange(other.m_state, nullptr);
                m_id = other.m_id;
            }
            return *this;
        }
        ~Subscription() { Reset(); }
        void Reset();

    private:
        AppState* m_state = nullptr;
        int m_id = 0;
    };

    AppState() = default;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // The listener runs after every change of the own status or the settings,
    // on the thread that made it and without the settings lock. It must be
    // quick (it may run on a worker thread) and must not subscribe.
    Subscription Subscribe(Listener listener);

    SettingsRecord Settings() const;
    void SetSettings(const SettingsRecord& settings);

    template <class F>
    auto Read(F&& reader) const {
        std::lock_guard lock(m_mutex);
        return reader(static_cast<const SettingsRecord&>(m_settings));
    }
    template <class F>
    void Modify(F&& writer) {
        Change change;
        {
            std::lock_guard lock(m_mutex);
            const SettingsRecord before = m_settings;
            writer(m_settings);
            change = Compare(before, m_settings);
        }
        Notify(change);
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
    void SetOwnStatus(int16_t status);

    // Only the inactivity watch uses it, on the user-interface thread; -1 for none.
    int16_t StatusBeforeAway() const { return m_statusBeforeAway; }
    void SetStatusBeforeAway(int16_t status) { m_statusBeforeAway = status; }

    // The four status commands: each stores its status and does nothing else.
    void OnStatusReady() { SetOwnStatus(Ready); }
    void OnStatusDoNotDisturb() { SetOwnStatus(DoNotDisturb); }
    void OnStatusAway() { SetOwnStatus(Away); }
    void OnStatusAtLunch() { SetOwnStatus(AtLunch); }

private:
    static Change Compare(const SettingsRecord& before, const SettingsRecord& after);
    void Notify(const Change& change);
    void Unsubscribe(int id);

    mutable std::mutex m_mutex;
    SettingsRecord m_settings;
    std::string m_computerName;
    std::atomic<int16_t> m_ownStatus{Ready};
    int16_t m_statusBeforeAway = -1;
    // Held while a listener runs, so that an ended subscription is never called.
    std::recursive_mutex m_listenersMutex;
    std::vector<std::pair<int, Listener>> m_listeners;
    int m_nextListenerId = 1;
};

// Loads the settings from the profile into the state, "ExtraAddresses" too.
void LoadSettings(AppState& state, const Profile& profile);
// The derived values of a start: the logon name where "UserName" is empty or
// "WindowsUserName" is set, the computer name, status Ready, "Standard" for an
// empty "SoundFolder", string 139 for an empty "GroupName". Memory only.
void ApplyDerivedDefaults(AppState& state, const NameSource& names);
// Writes the settings, and "ExtraAddresses" once it has been set.
void SaveSettings(const AppState& state, Profile& profile);
