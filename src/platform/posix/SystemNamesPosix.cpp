// src/platform/posix/SystemNamesPosix.cpp
#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/SystemNames.h"

namespace platform {
namespace {

constexpr size_t kComputerNameMax = 15;  // a NetBIOS name without its terminator

std::optional<std::string> PasswordEntryName() {
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    for (;;) {
        const int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (size_t{1} << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_name == nullptr || found->pw_name[0] == '\0') {
            return std::nullopt;
        }
        return std::string(found->pw_name);
    }
}

std::optional<std::string> SessionLoginName() {
#ifdef LOGIN_NAME_MAX
    char name[LOGIN_NAME_MAX + 1] = {};
#else
    char name[257] = {};
#endif
    if (getlogin_r(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

// The longest prefix of at most `limit` bytes that does not end inside a UTF-8 sequence.
size_t Utf8Cut(const std::string& text, size_t limit) {
    if (text.size() <= limit) {
        return text.size();
    }
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return cut;
}

}  // namespace

std::optional<std::string> LogonName() {
    if (auto name = PasswordEntryName()) {
        return name;
    }
    return SessionLoginName();
}

std::optional<std::string> ComputerName() {
    char host[256 + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        return std::nullopt;
    }
    std::string name(host);  // terminated: the last byte is never written
    name = name.substr(0, name.find('.'));
    name.resize(Utf8Cut(name, kComputerNameMax));
    if (name.empty()) {
        return std::nullopt;
    }
    return name;
}

}  // namespace platform
