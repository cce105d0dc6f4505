// src/cli/DesktopProfile.h
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/settings/Settings.h"
#include "platform/ProfileStore.h"

// The desktop program's settings, read only, as its profile (QtProfile) gives
// them: strings in code page 1250 (a list joined with ", "), numbers of 32
// bits from a number or a text; a value that is neither is missing.
class DesktopProfile : public Profile {
public:
    std::optional<std::string> ReadString(const std::string& section,
                                          const std::string& name) const override;
    std::optional<int32_t> ReadInt(const std::string& section,
                                   const std::string& name) const override;
    void WriteString(const std::string&, const std::string&, const std::string&) override {}
    void WriteInt(const std::string&, const std::string&, int32_t) override {}

private:
    // The stored value with its text as QSettings turns it into a value
    // (UTF-8); nothing for a missing key or a value that is neither text nor
    // a number.
    virtual std::optional<platform::StoredValue> Stored(const std::string& section,
                                                        const std::string& name) const = 0;
};

// The settings as Qt's QSettings keeps them in an INI file, read as QSettings
// reads them: sections, "General", %-escaped keys, comments after ';', quoted
// and \-escaped values (\x and octal escapes, line continuations), unquoted
// commas making a list, and the "@@", "@String()" and "@ByteArray()" forms.
// Qt 6 writes other characters as UTF-8.
class IniProfile final : public DesktopProfile {
public:
    explicit IniProfile(std::string_view contents);

private:
    std::optional<platform::StoredValue> Stored(const std::string& section,
                                                const std::string& name) const override;

    std::map<std::string, std::string> m_values;  // normalised key -> raw value bytes
};

// The same settings in the registry (Windows), through the platform's store:
// strings with the "@" forms above, numbers as they are stored.
class RegistryProfile final : public DesktopProfile {
private:
    std::optional<platform::StoredValue> Stored(const std::string& section,
                                                const std::string& name) const override;
};

// The desktop program's profile of this user, read only: its INI file where
// the system keeps settings in files (missing or unreadable: an empty
// profile), else its registry key.
std::unique_ptr<Profile> OpenDesktopProfile();
