// src/widgets/desktop/IdleInputDBus.cpp
#include "widgets/desktop/IdleInputDBus.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QVariant>
#include <algorithm>
#include <limits>
#include <optional>

#include "widgets/adapters/Logging.h"
#include "widgets/desktop/IdleInput.h"

namespace platform {
namespace {

struct IdleSource {
    const char* service;
    const char* path;
    const char* interface;
    const char* method;
};

// In the order they are tried. Both answer in milliseconds.
constexpr IdleSource kSources[] = {
    {"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
     "org.gnome.Mutter.IdleMonitor", "GetIdletime"},
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
     "GetSessionIdleTime"},
};

constexpr int kFirstAnswerMs = 1000;

QDBusMessage Question(const IdleSource& source) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(source.service), QLatin1String(source.path), QLatin1String(source.interface),
        QLatin1String(source.method));
    // Asking must not start a screen saver that is not running.
    message.setAutoStartService(false);
    return message;
}

// The idle time of a reply: one unsigned number (uint64 from Mutter, uint32
// from the screen saver).
std::optional<uint32_t> IdleOf(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return std::nullopt;
    }
    const QVariant value = reply.arguments().constFirst();
    if (value.typeId() != QMetaType::ULongLong && value.typeId() != QMetaType::UInt) {
        return std::nullopt;
    }
    const qulonglong idle = value.toULongLong();
    return static_cast<uint32_t>(std::min<qulonglong>(idle, std::numeric_limits<uint32_t>::max()));
}

class DBusIdleInputProbe final : public IdleInputProbe {
public:
    DBusIdleInputProbe(QDBusConnection bus, const IdleSource& source, uint32_t idle,
                       uint32_t refreshMs)
        : m_bus(std::move(bus)), m_source(source), m_refreshMs(refreshMs) {
        Note(idle);
    }

    std::optional<uint32_t> LastInputTick() const override {
        if (!m_pending && platform::TickCount() - m_askedAt >= m_refreshMs) {
            Ask();
        }
        return m_lastInput;
    }
    uint32_t TickCount() const override { return platform::TickCount(); }

private:
    void Note(uint32_t idle) const {
        m_askedAt = platform::TickCount();
        m_lastInput = m_askedAt - idle;
    }

    void Ask() const {
        m_pending = true;
        auto* watcher =
            new QDBusPendingCallWatcher(m_bus.asyncCall(Question(m_source)), &m_context);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_context,
                         [this](QDBusPendingCallWatcher* call) {
                             call->deleteLater();
                             m_pending = false;
                             if (const std::optional<uint32_t> idle = IdleOf(call->reply())) {
                                 Note(*idle);
                                 return;
                             }
                             m_askedAt = platform::TickCount();
                             if (m_lastInput) {
                                 qCWarning(lcIdle)
                                     << m_source.service
                                     << "stopped answering:" << call->error().message();
                             }
                             m_lastInput.reset();
                         });
    }

    QDBusConnection m_bus;
    const IdleSource& m_source;
    uint32_t m_refreshMs;
    mutable QObject m_context;  // the answers' receiver: none arrives after the probe is gone
    mutable bool m_pending = false;
    mutable uint32_t m_askedAt = 0;
    mutable std::optional<uint32_t> m_lastInput;
};

}  // namespace

std::unique_ptr<IdleInputProbe> MakeDBusIdleInputProbe(const QDBusConnection& bus,
                                                       uint32_t refreshMs) {
    if (!bus.isConnected()) {
        return nullptr;
    }
    for (const IdleSource& source : kSources) {
        const QDBusMessage reply = bus.call(Question(source), QDBus::Block, kFirstAnswerMs);
        if (const std::optional<uint32_t> idle = IdleOf(reply)) {
            qCDebug(lcIdle) << "Idle time from" << source.service;
            return std::make_unique<DBusIdleInputProbe>(bus, source, *idle, refreshMs);
        }
        qCDebug(lcIdle) << source.service << "does not tell the idle time:" << reply.errorMessage();
    }
    return nullptr;
}

}  // namespace platform
