// src/widgets/adapters/QtProfile.h
#pragma once

#include <QSettings>
#include <memory>

#include "core/settings/Settings.h"

namespace platform {

// The per-user profile in QSettings: ("Quillory", "Mrmx3") in the native
// format, or a given QSettings (tests use a file of their own). Strings are
// kept as Unicode and handed to the core as code page 1250 bytes.
class QtProfile final : public Profile {
public:
    QtProfile();
    explicit QtProfile(std::unique_ptr<QSettings> settings);

    std::optional<std::string> ReadString(const std::string& section,
                                          const std::string& name) const override;
    std::optional<int32_t> ReadInt(const std::string& section,
                                   const std::string& name) const override;
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override;
    void WriteInt(const std::string& section, const std::string& name, int32_t value) override;

    QSettings& Settings() { return *m_settings; }

private:
    std::unique_ptr<QSettings> m_settings;
};

}  // namespace platform
