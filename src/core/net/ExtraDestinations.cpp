// src/core/net/ExtraDestinations.cpp
#include "core/net/ExtraDestinations.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "core/base/Log.h"
#include "platform/Socket.h"

namespace {

constexpr std::string_view kSeparators = " \t\r\n,;";

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Four decimal parts of 0 to 255, nothing else.
std::optional<uint32_t> Dotted(std::string_view text) {
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view digits = text.substr(0, dot);
        if (!AllDigits(digits) || digits.size() > 3) {
            return std::nullopt;
        }
        const int value = std::stoi(std::string(digits));
        if (value > 255) {
            return std::nullopt;
        }
        address = address << 8 | static_cast<uint32_t>(value);
        text = part < 3 ? text.substr(dot + 1) : std::string_view();
    }
    return address;
}

// An address another computer may have: not 0.x.x.x, loopback, multicast or above.
bool ComputerAddress(uint32_t address) {
    const uint32_t first = address >> 24;
    return first != 0 && first != 127 && first < 224;
}

bool HostName(std::string_view text) {
    if (text.empty() || text.size() > 253) {
        return false;
    }
    // Only digits and dots: a malformed address, not a name.
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return c == '.' || (c >= '0' && c <= '9'); })) {
        return false;
    }
    size_t start = 0;
    while (start <= text.size()) {
        const size_t dot = std::min(text.find('.', start), text.size());
        const std::string_view label = text.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (const char c : label) {
            const bool letterOrDigit =
                (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            if (!letterOrDigit && c != '-' && c != '_') {
                return false;
            }
        }
        start = dot + 1;
    }
    return true;
}

}  // namespace

std::optional<ExtraAddress> ParseExtraAddress(std::string_view entry) {
    ExtraAddress parsed;
    parsed.text = std::string(entry);
    if (const size_t slash = entry.find('/'); slash != std::string_view::npos) {
        const std::string_view prefixText = entry.substr(slash + 1);
        const std::optional<uint32_t> network = Dotted(entry.substr(0, slash));
        if (!network || !AllDigits(prefixText) || prefixText.size() > 2) {
            return std::nullopt;
        }
        const int prefix = std::stoi(std::string(prefixText));
        if (prefix < 8 || prefix > 32) {
            return std::nullopt;
        }
        const uint32_t host = prefix == 32 ? 0u : 0xFFFFFFFFu >> prefix;
        parsed.kind = prefix == 32 ? ExtraAddress::Kind::Address : ExtraAddress::Kind::Subnet;
        parsed.address = *network | host;
        if (!ComputerAddress(*network) || !ComputerAddress(parsed.address)) {
            return std::nullopt;
        }
        return parsed;
    }
    if (const std::optional<uint32_t> address = Dotted(entry)) {
        if (!ComputerAddress(*address)) {
            return std::nullopt;
        }
        parsed.address = *address;
        return parsed;
    }
    if (!HostName(entry)) {
        return std::nullopt;
    }
    parsed.kind = ExtraAddress::Kind::HostName;
    parsed.hostName = std::string(entry);
    return parsed;
}

ExtraAddressList ParseExtraAddresses(std::string_view text) {
    ExtraAddressList list;
    size_t start = text.find_first_not_of(kSeparators);
    while (start != std::string_view::npos) {
        const size_t end = std::min(text.find_first_of(kSeparators, start), text.size());
        const std::string_view entry = text.substr(start, end - start);
        start = text.find_first_not_of(kSeparators, end);
        std::optional<ExtraAddress> parsed = ParseExtraAddress(entry);
        if (!parsed) {
            list.refused.emplace_back(entry);
            continue;
        }
        const bool known =
            std::any_of(list.entries.begin(), list.entries.end(), [&](const ExtraAddress& other) {
                return other.kind == parsed->kind && other.address == parsed->address &&
                       other.hostName == parsed->hostName;
            });
        if (known) {
            continue;
        }
        if (list.entries.size() == ExtraAddressList::kMaxEntries) {
            list.tooMany = true;
            list.refused.emplace_back(entry);
            continue;
        }
        list.entries.push_back(std::move(*parsed));
    }
    return list;
}

struct ExtraDestinations::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    Resolver resolver;
    std::string text;  // the list as last set
    std::vector<ExtraAddress> entries;
    std::unordered_map<std::string, uint32_t> resolved;  // host name -> address
    uint64_t generation = 0;                             // the list's changes
    bool stop = false;
    bool resolving = false;  // a worker runs
};

ExtraDestinations::ExtraDestinations(Resolver resolver) : m_shared(std::make_shared<Shared>()) {
    m_shared->resolver = resolver ? std::move(resolver) : Resolver(platform::ResolveHost);
}

ExtraDestinations::~ExtraDestinations() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->stop = true;
    m_shared->wake.notify_all();
}

void ExtraDestinations::SetList(std::string_view text) {
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->text == text) {
            return;
        }
        m_shared->text = std::string(text);
    }
    ExtraAddressList list = ParseExtraAddresses(text);
    for (const std::string& refused : list.refused) {
        corelog::Warning("net", "ExtraAddresses: skipped \"" + refused + "\"" +
                                    (list.tooMany ? " (more than 256 entries)" : "") + ".");
    }
    std::lock_guard lock(m_shared->mutex);
    if (list.entries == m_shared->entries) {
        return;
    }
    m_shared->entries = std::move(list.entries);
    ++m_shared->generation;
    m_shared->wake.notify_all();
}

void ExtraDestinations::StartResolving() {
    {
        std::lock_guard lock(m_shared->mutex);
        const bool names = std::any_of(
            m_shared->entries.begin(), m_shared->entries.end(),
            [](const ExtraAddress& e) { return e.kind == ExtraAddress::Kind::HostName; });
        if (m_shared->resolving || m_shared->stop || !names) {
            return;
        }
        m_shared->resolving = true;
    }
    // Detached: a lookup cannot be interrupted, and the program's end must
    // not wait for the system's answer. The worker keeps the shared state.
    std::thread([shared = m_shared] {
        std::unique_lock lock(shared->mutex);
        while (!shared->stop) {
            const uint64_t generation = shared->generation;
            lock.unlock();
            ResolveAll(*shared);
            lock.lock();
            shared->wake.wait_for(lock, kResolvePeriod,
                                  [&] { return shared->stop || shared->generation != generation; });
        }
        shared->resolving = false;
    }).detach();
}

void ExtraDestinations::ResolveNow() {
    ResolveAll(*m_shared);
}

void ExtraDestinations::ResolveAll(Shared& shared) {
    std::vector<std::string> names;
    {
        std::lock_guard lock(shared.mutex);
        for (const ExtraAddress& entry : shared.entries) {
            if (entry.kind == ExtraAddress::Kind::HostName) {
                names.push_back(entry.hostName);
            }
        }
    }
    std::unordered_map<std::string, uint32_t> resolved;
    std::vector<std::pair<std::string, int>> failed;
    for (const std::string& name : names) {
        int error = 0;
        if (const std::optional<uint32_t> address = shared.resolver(name, error)) {
            resolved.emplace(name, *address);
        } else {
            failed.emplace_back(name, error);
        }
    }
    std::lock_guard lock(shared.mutex);
    if (shared.stop) {
        return;  // the log may be gone with the program
    }
    for (const auto& [name, error] : failed) {
        corelog::Warning("net", "ExtraAddresses: " + name + " does not resolve (" +
                                    std::to_string(error) + " " +
                                    platform::SocketErrorMessage(error) + "); skipped.");
    }
    shared.resolved = std::move(resolved);
}

std::vector<uint32_t> ExtraDestinations::Destinations() {
    std::vector<uint32_t> destinations;
    std::unordered_set<uint32_t> seen;
    {
        std::lock_guard lock(m_shared->mutex);
        for (const ExtraAddress& entry : m_shared->entries) {
            std::optional<uint32_t> address = entry.address;
            if (entry.kind == ExtraAddress::Kind::HostName) {
                const auto found = m_shared->resolved.find(entry.hostName);
                address =
                    found == m_shared->resolved.end() ? std::nullopt : std::optional(found->second);
            }
            if (address && seen.insert(*address).second) {
                destinations.push_back(*address);
            }
        }
    }
    return destinations;
}
