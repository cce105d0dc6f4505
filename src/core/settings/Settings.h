// src/core/settings/Settings.h
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The 20 persistent settings, in the order of loading and saving. Strings are
// code page 1250 bytes; the defaults are those of a first run.
struct SettingsRecord {
    std::string userName;            // "UserName"
    std::string soundFolder;         // "SoundFolder"
    bool showMySelf = false;         // "ShowMySelf"
    bool soundsInDndState = true;    // "SoundsInDNDState"
    int32_t iconsType = 0;           // "IconsType"
    int32_t iconsSize = 0;           // "IconsSize"
    std::string groupName;           // "GroupName"
    bool playSounds = true;          // "PlaySounds"
    bool notifications = true;       // "Notifications"
    bool windowsUserName = true;     // "WindowsUserName"
    bool topMost = false;            // "TopMost"
    int32_t transpareny = 50;        // "Transpareny"
    int32_t aboutMePeriod = 5;       // "AboutMePeriod"
    bool checkActivity = false;      // "CheckActivity"
    int32_t inactivityMinutes = 10;  // "InactivityMinutes"
    bool enableConnectMsg = true;    // "EnableConnectMsg"
    bool enableDisconMsg = true;     // "EnableDisconMsg"
    int32_t bTooltipTimeout = 15;    // "BTooltipTimeout"
    bool onNewUserMessage = false;   // "OnNewUserMessage"
    bool openOnClickTooTip = true;   // "OpenOnClickTooTip"
    // Where broadcasts also go beyond this computer's networks: addresses,
    // subnets and host names (see ParseExtraAddresses). Kept beside the
    // table's values: LoadSettings(AppState&, ...) and SaveSettings(const
    // AppState&, ...) read and write it.
    std::string extraAddresses;  // "ExtraAddresses"

    bool operator==(const SettingsRecord&) const = default;
};

inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kExtraAddressesKey = "ExtraAddresses";
inline constexpr const char* kBarLayoutProfileName = "FrmWindowBars";

// The per-user store of named strings and 32-bit integers, by section. The
// desktop program keeps it in QSettings.
struct Profile {
    virtual ~Profile() = default;
    virtual std::optional<std::string> ReadString(const std::string& section,
                                                  const std::string& name) const = 0;
    virtual std::optional<int32_t> ReadInt(const std::string& section,
                                           const std::string& name) const = 0;
    virtual void WriteString(const std::string& section, const std::string& name,
                             const std::string& value) = 0;
    virtual void WriteInt(const std::string& section, const std::string& name, int32_t value) = 0;
};

// Reads the 20 values in table order; missing values give the defaults, flags
// are set for any number but 0, numbers are taken unchanged.
SettingsRecord LoadSettings(const Profile& profile);
// Writes the 20 values in table order; flags as 0 or 1.
void SaveSettings(Profile& profile, const SettingsRecord& settings);

// The logon name, or string 129 when the system cannot tell (code page 1250).
std::string QueryWindowsUserName();
// The computer's short name, or string 129 (code page 1250).
std::string QueryComputerName();
