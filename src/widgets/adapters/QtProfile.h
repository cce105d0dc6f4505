// src/widgets/adapters/QtProfile.h
#pragma once

#include <QSettings>
#include <memory>

#include "core/settings/Settings.h"

namespace platform {

// The per-user profile in QSettings: ("Quillory", "Mrmx3") in the native
// format, or a given QSettings (tests use a file of their own). Strings are
// kept as Unicode and handed to the core as code page 1250 bytes.
// The writes of one pass of the event loop are written to the file together
// afterwards (or when the profile goes); a file that cannot be written is
// logged as a warning in murmex3.settings, never shown.
class QtProfile final : public Profile {
public:
    QtProfile();
    explicit QtProfile(std::unique_ptr<QSettings> settings);
    ~QtProfile() override;

    std::optional<std::string> ReadString(const std::string& section,
                                          const std::string& name) const override;
    std::optional<int32_t> ReadInt(const std::string& section,
                                   const std::string& name) const override;
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override;
    void WriteInt(const std::string& section, const std::string& name, int32_t value) override;

    QSettings& Settings() { return *m_settings; }

private:
    void ScheduleSync();
    void Sync();

    std::unique_ptr<QSettings> m_settings;
    bool m_syncPending = false;
    bool m_clean = true;  // no error before the pending writes
};

}  // namespace platform
