// src/platform/posix/ProfileStorePosix.cpp
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/ProfileStore.h"

namespace platform {
namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return home;
    }
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 4096);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

std::optional<StoredValue> ReadUserRegistryValue(const std::string& /*organisation*/,
                                                 const std::string& /*application*/,
                                                 const std::string& /*section*/,
                                                 const std::string& /*name*/) {
    return std::nullopt;
}

std::string UserSettingsFile(const std::string& organisation, const std::string& application) {
    std::string folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        folder = config;
    } else {
        const std::string home = HomeFolder();
        if (home.empty()) {
            return {};
        }
        folder = home + "/.config";
    }
    return folder + "/" + organisation + "/" + application + ".conf";
}

}  // namespace platform
