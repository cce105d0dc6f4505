// src/widgets/desktop/DesktopNotificationsDBus.cpp
// The freedesktop notification service on the session bus.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <utility>

#include "widgets/adapters/Logging.h"
#include "widgets/desktop/DesktopNotifications.h"

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");

class DBusNotifications final : public DesktopNotifications {
    Q_OBJECT
public:
    explicit DBusNotifications(QDBusConnection bus) : m_bus(std::move(bus)) {
        m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                      SLOT(OnActionInvoked(uint, QString)));
    }

    void Notify(const QString& title, const QString& text, int milliseconds,
                std::function<void()> failed) override {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
        // The body may be read as markup: the text is escaped to show as typed.
        call << QStringLiteral("Murmex3") << m_shownId << QStringLiteral("murmex3") << title
             << text.toHtmlEscaped() << QStringList{kDefaultAction, QStringLiteral("Otevřít")}
             << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("murmex3")}}
             << milliseconds;
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, failed = std::move(failed)](QDBusPendingCallWatcher* finished) {
                    const QDBusPendingReply<uint> reply = *finished;
                    finished->deleteLater();
                    if (reply.isError()) {
                        qCDebug(lcUi) << "The desktop did not take a notification:"
                                      << reply.error().message();
                        if (failed) {
                            failed();
                        }
                        return;
                    }
                    m_shownId = reply.value();
                });
    }

private Q_SLOTS:
    void OnActionInvoked(uint id, const QString& action) {
        if (id != 0 && id == m_shownId && action == kDefaultAction) {
            Q_EMIT Clicked();
        }
    }

private:
    QDBusConnection m_bus;
    uint m_shownId = 0;  // the newest notification the desktop took
};

}  // namespace

std::unique_ptr<DesktopNotifications> MakeDesktopNotifications() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return nullptr;
    }
    return std::make_unique<DBusNotifications>(bus);
}

}  // namespace platform

#include "DesktopNotificationsDBus.moc"
