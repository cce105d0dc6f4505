// tests/core/MemoryProfile.h
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "core/settings/Settings.h"

// The profile in memory, for tests.
class MemoryProfile final : public Profile {
public:
    std::optional<std::string> ReadString(const std::string& section,
                                          const std::string& name) const override {
        const auto it = m_strings.find({section, name});
        if (it == m_strings.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    std::optional<int32_t> ReadInt(const std::string& section,
                                   const std::string& name) const override {
        const auto it = m_ints.find({section, name});
        if (it == m_ints.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    // A value has one kind at a time, as in the registry: writing one kind drops the other.
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override {
        Key key{section, name};
        m_ints.erase(key);
        m_strings[std::move(key)] = value;
        ++m_writes;
    }
    void WriteInt(const std::string& section, const std::string& name, int32_t value) override {
        Key key{section, name};
        m_strings.erase(key);
        m_ints[std::move(key)] = value;
        ++m_writes;
    }

    int WriteCount() const { return m_writes; }
    bool Has(const std::string& section, const std::string& name) const {
        const Key key{section, name};
        return m_strings.contains(key) || m_ints.contains(key);
    }

private:
    using Key = std::pair<std::string, std::string>;
    std::map<Key, std::string> m_strings;
    std::map<Key, int32_t> m_ints;
    int m_writes = 0;
};
