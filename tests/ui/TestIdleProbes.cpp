// tests/ui/TestIdleProbes.cpp
// The session bus's idle monitors, served by tests/ui/fake_idle_service.py on
// a bus of the test's own (ctest runs it under dbus-run-session).
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QtTest>
#include <memory>
#include <optional>

#include "widgets/desktop/IdleInputDBus.h"

namespace {

// Milliseconds since the last input, as the probe reports it.
std::optional<uint32_t> IdleFor(const IdleInputProbe& probe) {
    const std::optional<uint32_t> last = probe.LastInputTick();
    if (!last) {
        return std::nullopt;
    }
    return probe.TickCount() - *last;
}

bool Between(std::optional<uint32_t> idle, uint32_t low, uint32_t high) {
    return idle && *idle >= low && *idle < high;
}

}  // namespace

class TestIdleProbes : public QObject {
    Q_OBJECT

private:
    // Starts the fake services and waits until they are on the bus.
    bool Serve(const QStringList& arguments) {
        m_fake = std::make_unique<QProcess>();
        m_fake->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_fake->start(QStringLiteral(MURMEX3_GI_PYTHON),
                      QStringList{QStringLiteral(MURMEX3_FAKE_IDLE_SERVICE)} + arguments);
        while (!m_fake->canReadLine() && m_fake->waitForReadyRead(10000)) {
        }
        return m_fake->readLine() == "ready\n";
    }
    void EndService() {
        if (m_fake) {
            m_fake->terminate();
            m_fake->waitForFinished(10000);
            m_fake.reset();
        }
    }

    std::unique_ptr<QProcess> m_fake;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    }
    void cleanup() { EndService(); }

    void mutterComesFirstAndIsAskedAgainUntilItStops() {
        QVERIFY(Serve({"--mutter", "4242", "--screensaver", "90000"}));
        const auto probe = platform::MakeDBusIdleInputProbe(QDBusConnection::sessionBus(), 0);
        QVERIFY(probe != nullptr);
        QVERIFY2(Between(IdleFor(*probe), 4242, 9000),
                 qPrintable(QString::number(*IdleFor(*probe))));

        // Input now: the next answer, asked for in the background, says so.
        const QDBusMessage input = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall("org.gnome.Mutter.IdleMonitor",
                                           "/org/gnome/Mutter/IdleMonitor/Core",
                                           "org.gnome.Mutter.IdleMonitor", "SetIdletime")
            << QVariant::fromValue(qulonglong{0}));
        QCOMPARE(input.type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(Between(IdleFor(*probe), 0, 4242));

        EndService();
        QTRY_VERIFY(!probe->LastInputTick().has_value());
    }

    void screenSaverAnswersWhereMutterIsMissing() {
        QVERIFY(Serve({"--screensaver", "7000"}));
        const auto probe = platform::MakeDBusIdleInputProbe(QDBusConnection::sessionBus());
        QVERIFY(probe != nullptr);
        QVERIFY(Between(IdleFor(*probe), 7000, 12000));
    }

    void aScreenSaverWithoutIdleTimeGivesNoProbe() {
        QVERIFY(Serve({"--screensaver", "refuse"}));
        QVERIFY(platform::MakeDBusIdleInputProbe(QDBusConnection::sessionBus()) == nullptr);
    }
};

QTEST_GUILESS_MAIN(TestIdleProbes)
#include "TestIdleProbes.moc"
