// tests/ui/TestDesktopNotifications.cpp
// The desktop's notification service, served by
// tests/ui/fake_notification_service.py on a bus of the test's own (ctest runs
// it under dbus-run-session), and the main window's notifications through it.
#include <QDBusConnection>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "core/Fakes.h"
#include "core/res/Cp1250.h"
#include "ui/RecordingBoxes.h"
#include "widgets/desktop/DesktopNotifications.h"
#include "widgets/frame/MainFrame.h"

class TestDesktopNotifications : public QObject {
    Q_OBJECT

private:
    bool Serve() {
        m_fake = std::make_unique<QProcess>();
        m_fake->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_fake->start(QStringLiteral(MURMEX3_GI_PYTHON),
                      {QStringLiteral(MURMEX3_FAKE_NOTIFICATION_SERVICE)});
        return NextLine() == "ready";
    }
    QByteArray NextLine() {
        while (!m_fake->canReadLine() && m_fake->waitForReadyRead(10000)) {
        }
        return m_fake->readLine().trimmed();
    }
    // The next Notify call the service received.
    QJsonObject NextCall() { return QJsonDocument::fromJson(NextLine()).object(); }
    void Invoke(int id) { m_fake->write(QByteArray("invoke ") + QByteArray::number(id) + "\n"); }

    std::unique_ptr<QProcess> m_fake;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    }
    void cleanup() {
        if (m_fake) {
            m_fake->terminate();
            m_fake->waitForFinished(10000);
            m_fake.reset();
        }
    }

    void notifyCarriesTitleEscapedTextActionsAndTimeAndReplacesTheLast() {
        QVERIFY(Serve());
        const auto service = platform::MakeDesktopNotifications();
        QVERIFY(service != nullptr);
        bool failed = false;
        service->Notify(QStringLiteral("Murmex3 - OK"), QStringLiteral("Petr : <b>a</b> & Čau"),
                        7000, [&] { failed = true; });
        const QJsonObject first = NextCall();
        QCOMPARE(first["app"].toString(), QStringLiteral("Murmex3"));
        QCOMPARE(first["replaces"].toInt(), 0);
        QCOMPARE(first["icon"].toString(), QStringLiteral("murmex3"));
        QCOMPARE(first["summary"].toString(), QStringLiteral("Murmex3 - OK"));
        QCOMPARE(first["body"].toString(), QStringLiteral("Petr : &lt;b&gt;a&lt;/b&gt; &amp; Čau"));
        QCOMPARE(first["actions"].toArray(), (QJsonArray{"default", "Otevřít"}));
        QCOMPARE(first["timeout"].toInt(), 7000);

        // The answer's id is whose click counts (the service answers before it
        // reports a click), and what the next one replaces.
        QSignalSpy clicked(service.get(), &platform::DesktopNotifications::Clicked);
        Invoke(first["id"].toInt() + 100);
        Invoke(first["id"].toInt());
        QTRY_COMPARE(clicked.count(), 1);
        service->Notify(QStringLiteral("t"), QStringLiteral("druhá"), 1000, nullptr);
        QCOMPARE(NextCall()["replaces"].toInt(), first["id"].toInt());
        QVERIFY(!failed);
    }

    // Through the main window without a tray: the notification, its click
    // opens the conversation; without the service, the box.
    void theMainWindowNotifiesThroughTheServiceAndFallsBackToTheBox() {
        QVERIFY(Serve());
        AppState state;
        state.SetOwnStatus(Ready);
        FakeClock clock;
        RecordingBoxes boxes;
        int opened = 0;
        CMainFrame frame(state, boxes, clock, false);
        connect(&frame, &CMainFrame::OpenNotifiedRequested, this, [&] { ++opened; });
        const auto service = platform::MakeDesktopNotifications();
        frame.SetDesktopNotifications(service.get());
        Notification note;
        note.enabled = true;
        note.title = "Murmex3 - OK";
        note.text = cp1250::FromUtf8("Jana : ahoj");
        note.milliseconds = 10000;
        frame.Show(note);
        const QJsonObject call = NextCall();
        QCOMPARE(call["body"].toString(), QStringLiteral("Jana : ahoj"));
        QCOMPARE(call["timeout"].toInt(), 10000);
        Invoke(call["id"].toInt());
        QTRY_COMPARE(opened, 1);
        QVERIFY(boxes.messages.empty());

        cleanup();  // the service goes
        frame.NotificationTimer().stop();
        frame.Show(note);
        QTRY_COMPARE(boxes.Texts(), std::vector<std::string>{note.text});
    }
};

QTEST_MAIN(TestDesktopNotifications)
#include "TestDesktopNotifications.moc"
