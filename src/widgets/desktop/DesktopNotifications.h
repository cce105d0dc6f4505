// src/widgets/desktop/DesktopNotifications.h
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace platform {

// The desktop's own notifications, where the desktop has a service for them
// (org.freedesktop.Notifications on the session bus: GNOME, KDE, XFCE and
// most others). They are not modal; each has a default action, which the
// desktop runs when the user clicks it.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    // Shows a notification with the title and plain text for the given time,
    // in place of the previous one still on the screen. failed runs later
    // instead when the desktop cannot show it (no service, an error).
    virtual void Notify(const QString& title, const QString& text, int milliseconds,
                        std::function<void()> failed) = 0;

Q_SIGNALS:
    // The user clicked the newest notification (its default action).
    void Clicked();
};

// The session bus's service; null where the program has no session bus.
std::unique_ptr<DesktopNotifications> MakeDesktopNotifications();

}  // namespace platform
