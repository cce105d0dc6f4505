// src/core/net/ExtraDestinations.h
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One entry of the "ExtraAddresses" list: a computer's address, a subnet
// (reached by its directed broadcast) or a host name.
struct ExtraAddress {
    enum class Kind { Address, Subnet, HostName };
    Kind kind = Kind::Address;
    uint32_t address = 0;  // host order; a subnet's directed broadcast
    std::string hostName;  // HostName
    std::string text;      // as written

    bool operator==(const ExtraAddress&) const = default;
};

struct ExtraAddressList {
    static constexpr std::size_t kMaxEntries = 256;
    std::vector<ExtraAddress> entries;  // each destination once
    // Entries that are none of the forms, or beyond kMaxEntries, as written.
    std::vector<std::string> refused;
    bool tooMany = false;
};

// Entries separated by spaces, line breaks, commas or semicolons: a dotted
// IPv4 address ("10.1.2.7"), a subnet in CIDR form with a prefix of 8 to 32
// bits ("10.1.2.0/24"), or a host name. Addresses that are not a
// computer's (0.x.x.x, loopback, multicast and above) are refused.
ExtraAddressList ParseExtraAddresses(std::string_view text);
std::optional<ExtraAddress> ParseExtraAddress(std::string_view entry);

// Where a broadcast goes besides this computer's own networks: the entries
// of the "ExtraAddresses" list. Host names are resolved on a worker thread of
// its own, again every kResolvePeriod; one that does not resolve is skipped
// and logged. Safe from any thread.
class ExtraDestinations {
public:
    using Resolver = std::function<std::optional<uint32_t>(const std::string& name, int& error)>;

    static constexpr std::chrono::seconds kResolvePeriod{300};

    explicit ExtraDestinations(Resolver resolver = {});
    // Stops the resolver; one that waits for the system's answer is left to
    // end on its own.
    ~ExtraDestinations();
    ExtraDestinations(const ExtraDestinations&) = delete;
    ExtraDestinations& operator=(const ExtraDestinations&) = delete;

    // The list as stored; entries that are none of the forms are logged and
    // skipped. Host names are looked up by the resolver thread, at once.
    void SetList(std::string_view text);
    // Starts the resolver thread (for a list with host names; again after a
    // change of the list).
    void StartResolving();
    // Resolves every host name of the list on the caller's thread.
    void ResolveNow();

    // Every destination, each once (host names as last resolved).
    std::vector<uint32_t> Destinations();

private:
    struct Shared;
    static void ResolveAll(Shared& shared);

    std::shared_ptr<Shared> m_shared;
};
