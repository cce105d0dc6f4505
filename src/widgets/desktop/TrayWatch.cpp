// src/widgets/desktop/TrayWatch.cpp
#include "widgets/desktop/TrayWatch.h"

#include <QGuiApplication>
#include <QSystemTrayIcon>

#include "widgets/adapters/Logging.h"

namespace platform {

TrayWatch::TrayWatch() : m_available(QSystemTrayIcon::isSystemTrayAvailable()) {}

std::unique_ptr<TrayWatch> TrayWatch::Make() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    // Qt's X11 platform reports a change of the tray's selection owner with
    // this signal of its native interface (QSystemTrayIcon docks by it too).
    // The interface is a QObject by its only base class; its class is not
    // among Qt's public headers.
    auto* platformInterface =
        reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
    std::unique_ptr<TrayWatch> watch(new TrayWatch);
    if (platformInterface == nullptr ||
        !QObject::connect(platformInterface, SIGNAL(systemTrayWindowChanged(QScreen*)), watch.get(),
                          SLOT(Recheck()))) {
        qCWarning(lcUi) << "The system tray cannot be followed: the tray found at start is kept";
        return nullptr;
    }
    return watch;
}

void TrayWatch::Recheck() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available == m_available) {
        return;
    }
    m_available = available;
    qCInfo(lcUi) << (available ? "A system tray has appeared" : "The system tray has gone");
    Q_EMIT Changed(available);
}

}  // namespace platform
