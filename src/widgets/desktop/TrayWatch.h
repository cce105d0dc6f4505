// src/widgets/desktop/TrayWatch.h
#pragma once

#include <QObject>
#include <memory>

namespace platform {

// Tells when the desktop's system tray comes or goes while the program runs.
// Under X11 a tray is the owner of the _NET_SYSTEM_TRAY_S<screen> selection,
// which Qt's X11 platform watches (it announces a new owner and the old one's
// end): a tray icon shown before a tray exists docks by itself once one
// appears. Elsewhere the tray stays as it was at start and nothing is told.
class TrayWatch final : public QObject {
    Q_OBJECT
public:
    // Null where the platform tells no changes.
    static std::unique_ptr<TrayWatch> Make();

    bool Available() const { return m_available; }

Q_SIGNALS:
    void Changed(bool available);

private Q_SLOTS:
    void Recheck();

private:
    TrayWatch();

    bool m_available = false;
};

}  // namespace platform
