// src/cli/DesktopProfile.h
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/settings/Settings.h"

// The desktop program's settings as Qt's QSettings keeps them in an INI file,
// read as QSettings reads them: sections, "General", %-escaped keys, comments
// after ';', quoted and \-escaped values (\x and octal escapes, line
// continuations), unquoted commas making a list, and the "@@", "@String()"
// and "@ByteArray()" forms. Qt 6 writes other characters as UTF-8. Strings come
// out in code page 1250 as the desktop program's profile gives them; a list
// is joined with ", " as there. It never writes.
class IniProfile final : public Profile {
public:
    explicit IniProfile(std::string_view contents);

    std::optional<std::string> ReadString(const std::string& section,
                                          const std::string& name) const override;
    std::optional<int32_t> ReadInt(const std::string& section,
                                   const std::string& name) const override;
    void WriteString(const std::string&, const std::string&, const std::string&) override {}
    void WriteInt(const std::string&, const std::string&, int32_t) override {}

    // A value as UTF-8 text, lists joined; nothing for a missing key or a
    // value that is no text (such as "@Invalid()").
    std::optional<std::string> Text(const std::string& key) const;

private:
    std::map<std::string, std::string> m_values;  // normalised key -> raw value bytes
};

// The same settings in the registry (Windows), through the platform's store:
// strings with the "@" forms above, numbers as they are stored.
class RegistryProfile final : public Profile {
public:
    std::optional<std::string> ReadString(const std::string& section,
                                          const std::string& name) const override;
    std::optional<int32_t> ReadInt(const std::string& section,
                                   const std::string& name) const override;
    void WriteString(const std::string&, const std::string&, const std::string&) override {}
    void WriteInt(const std::string&, const std::string&, int32_t) override {}
};

// The desktop program's profile of this user, read only: its INI file where
// the system keeps settings in files (missing or unreadable: an empty
// profile), else its registry key.
std::unique_ptr<Profile> OpenDesktopProfile();
