// src/platform/ProfileStore.h
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Where a Qt program keeps its per-user settings in the native format: the
// registry on Windows, an INI file elsewhere. Read only.
namespace platform {

struct StoredValue {
    std::optional<std::string> text;  // a string value, as UTF-8
    std::optional<int64_t> number;    // a number value
};

// Windows: the value `name` of the key
// HKEY_CURRENT_USER\Software\<organisation>\<application>\<section>:
// REG_SZ and REG_EXPAND_SZ as text, REG_DWORD and
// REG_QWORD as a number. Nothing when it is missing or of another type, and
// always nothing elsewhere.
std::optional<StoredValue> ReadUserRegistryValue(const std::string& organisation,
                                                 const std::string& application,
                                                 const std::string& section,
                                                 const std::string& name);

// POSIX: <config>/<organisation>/<application>.conf, where <config> is
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config. Empty on
// Windows, which keeps the settings in the registry, and without a home.
std::string UserSettingsFile(const std::string& organisation, const std::string& application);

}  // namespace platform
