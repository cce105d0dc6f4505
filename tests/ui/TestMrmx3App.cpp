// tests/ui/TestMrmx3App.cpp
#include <QAction>
#include <QEventLoop>
#include <QLabel>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <memory>

#include "app/AboutDialog.h"
#include "app/Mrmx3App.h"
#include "core/Fakes.h"
#include "platform/Socket.h"

namespace {

// Forwards to a profile the test keeps, so a second start sees what the first saved.
class SharedProfile final : public Profile {
public:
    explicit SharedProfile(MemoryProfile& inner) : m_inner(inner) {}
    std::optional<std::string> ReadString(const std::string& section,
                                          const std::string& name) const override {
        return m_inner.ReadString(section, name);
    }
    std::optional<int32_t> ReadInt(const std::string& section,
                                   const std::string& name) const override {
        return m_inner.ReadInt(section, name);
    }
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override {
        m_inner.WriteString(section, name, value);
    }
    void WriteInt(const std::string& section, const std::string& name, int32_t value) override {
        m_inner.WriteInt(section, name, value);
    }

private:
    MemoryProfile& m_inner;
};

class FakeIdle final : public IdleInputProbe {
public:
    std::optional<uint32_t> LastInputTick() const override { return lastInput; }
    uint32_t TickCount() const override { return now; }
    uint32_t lastInput = 0;
    uint32_t now = 0;
};

class ForwardingIdle final : public IdleInputProbe {
public:
    explicit ForwardingIdle(const FakeIdle& inner) : m_inner(inner) {}
    std::optional<uint32_t> LastInputTick() const override { return m_inner.LastInputTick(); }
    uint32_t TickCount() const override { return m_inner.TickCount(); }

private:
    const FakeIdle& m_inner;
};

}  // namespace

class TestMrmx3App : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CMrmx3App> Start(bool tray) {
        CMrmx3App::Services services;
        services.profile = std::make_unique<SharedProfile>(m_profile);
        services.player = std::make_unique<RecordingPlayer>();
        services.idle = std::make_unique<ForwardingIdle>(m_idle);
        services.presenter = std::make_unique<RecordingPresenter>();
        services.names = std::make_unique<FixedNames>("jana", "PC7");
        services.trayAvailable = tray;
        services.network.port = 0;
        services.network.broadcastAddress = "127.0.0.1";
        services.network.destinationPort = platform::BoundPort(m_listener);
        auto app = std::make_unique<CMrmx3App>(std::move(services));
        if (!app->InitInstance()) {
            return nullptr;
        }
        return app;
    }
    // The next datagram the test socket hears, or nothing within two seconds.
    std::optional<std::vector<uint8_t>> Heard() {
        std::array<uint8_t, 600> buffer{};
        for (int i = 0; i < 200; ++i) {
            const auto got = platform::ReceiveDatagram(m_listener, buffer.data(), buffer.size());
            if (got.bytes > 0) {
                return std::vector<uint8_t>(buffer.begin(), buffer.begin() + got.bytes);
            }
            QTest::qWait(10);
        }
        return std::nullopt;
    }
    template <class T>
    T* Find(CMrmx3App& app, const char* name) {
        return app.MainFrame()->findChild<T*>(QString::fromLatin1(name));
    }

    MemoryProfile m_profile;
    FakeIdle m_idle;
    platform::SocketHandle m_listener = platform::kInvalidSocket;

private Q_SLOTS:
    void init() {
        m_profile = MemoryProfile{};
        m_idle = FakeIdle{};
        int error = 0;
        m_listener = platform::OpenUdpSocket(0, error);
        QVERIFY(m_listener != platform::kInvalidSocket);
    }
    void cleanup() { platform::CloseSocket(m_listener); }

    void firstStartWithATrayHidesTheLayeredWindowAndAnnounces() {
        auto app = Start(true);
        QVERIFY(app);
        CMainFrame* frame = app->MainFrame();
        QCOMPARE(frame->windowTitle(), QStringLiteral("jana@PC7"));
        QVERIFY(!frame->isVisible());
        QCOMPARE(qRound(frame->windowOpacity() * 255), 127);
        QVERIFY(!(frame->windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(frame->centralWidget() == app->View());
        // Nothing is written at start.
        QCOMPARE(m_profile.WriteCount(), 0);

        const auto hello = Heard();
        QVERIFY(hello.has_value());
        QCOMPARE(hello->size(), size_t{102});
        QCOMPARE(std::string(reinterpret_cast<const char*>(hello->data()) + 6), "jana@PC7");
    }

    void withoutATrayTheWindowStaysReachable() {
        auto app = Start(false);
        QVERIFY(app);
        QVERIFY(app->MainFrame()->isVisible());
        app->MainFrame()->close();
        QVERIFY(app->MainFrame()->isVisible() || app->MainFrame()->isMinimized());
    }

    void startLeavesTheWindowOpaqueWithTransparencyOffAndTopMostWhenAsked() {
        m_profile.WriteInt("Settings", "Transpareny", 0);
        m_profile.WriteInt("Settings", "TopMost", 7);
        auto app = Start(true);
        QVERIFY(app);
        QCOMPARE(app->MainFrame()->windowOpacity(), 1.0);
        QVERIFY(app->MainFrame()->windowFlags() & Qt::WindowStaysOnTopHint);
    }

    void statusCommandsReachThePaneAndTheTrayTip() {
        auto app = Start(true);
        QVERIFY(app);
        auto* pane = Find<QLabel>(*app, "statusPane");
        QVERIFY(pane);
        app->OnIdle();
        QCOMPARE(pane->text(), QStringLiteral("OK"));
        Find<QAction>(*app, "actionAway")->trigger();
        app->OnIdle();
        QCOMPARE(pane->text(), QStringLiteral("Pryč"));
        QCOMPARE(app->MainFrame()->TrayIcon()->toolTip(), QStringLiteral("Murmex3 - Pryč"));
        Find<QAction>(*app, "actionDoNotDisturb")->trigger();
        QCOMPARE(app->State().OwnStatus(), int16_t{DoNotDisturb});
        Find<QAction>(*app, "actionAtLunch")->trigger();
        QCOMPARE(app->State().OwnStatus(), int16_t{AtLunch});
        Find<QAction>(*app, "actionReady")->trigger();
        QCOMPARE(app->State().OwnStatus(), int16_t{Ready});
    }

    void theIdlePassRunsTheInactivityWatch() {
        m_profile.WriteInt("Settings", "CheckActivity", 1);
        m_profile.WriteInt("Settings", "InactivityMinutes", 10);
        auto app = Start(true);
        QVERIFY(app);
        m_idle.lastInput = 1000;
        m_idle.now = 1000 + 10 * 60000;
        app->OnIdle();
        QCOMPARE(app->State().OwnStatus(), int16_t{Away});
        m_idle.lastInput = m_idle.now;
        // The event loop's own idle passes run it too: let a real loop wait.
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(app->State().OwnStatus(), int16_t{Ready});
    }

    void savedBarLayoutIsRestoredAtTheNextStart() {
        {
            auto app = Start(true);
            QVERIFY(app);
            Find<QAction>(*app, "actionToolBar")->trigger();
            QVERIFY(Find<QToolBar>(*app, "toolBar")->isHidden());
            app->SaveSettings();
            QVERIFY(m_profile.Has("FrmWindowBars", "State"));
            QVERIFY(m_profile.Has("Settings", "OpenOnClickTooTip"));
        }
        auto again = Start(true);
        QVERIFY(again);
        QVERIFY(Find<QToolBar>(*again, "toolBar")->isHidden());
    }

    void exitSaysGoodbyeAndEndsOnce() {
        auto app = Start(true);
        QVERIFY(app);
        QVERIFY(Heard().has_value());  // the first announcement
        const int writes = m_profile.WriteCount();
        app->ExitProgram();
        std::optional<std::vector<uint8_t>> last;
        while (auto next = Heard()) {
            last = next;
            if ((*next)[4] == Disconnected) {
                break;
            }
        }
        QVERIFY(last.has_value());
        QCOMPARE(int((*last)[4]), int(Disconnected));
        QVERIFY(!app->MainFrame()->TrayIcon()->isVisible());
        app->ExitProgram();
        // Closing never writes the settings.
        QCOMPARE(m_profile.WriteCount(), writes);
    }

    void f6MovesBetweenPanesAndAboutShowsTheVersion() {
        auto app = Start(false);
        QVERIFY(app);
        const auto shortcuts = app->MainFrame()->findChildren<QShortcut*>();
        bool next = false;
        bool previous = false;
        for (const QShortcut* s : shortcuts) {
            next = next || s->key() == QKeySequence(Qt::Key_F6);
            previous = previous || s->key() == QKeySequence(Qt::SHIFT | Qt::Key_F6);
        }
        QVERIFY(next && previous);
        QVERIFY(AboutDialog::PageHtml().contains(QStringLiteral(MURMEX3_VERSION)));
        QVERIFY(AboutDialog::PageHtml().contains(QStringLiteral("Murmex3")));
    }
};

QTEST_MAIN(TestMrmx3App)
#include "TestMrmx3App.moc"
