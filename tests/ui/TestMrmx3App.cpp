// tests/ui/TestMrmx3App.cpp
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSessionManager>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidgetItem>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <utility>

#include "core/Fakes.h"
#include "core/MemoryProfile.h"
#include "core/TestPeer.h"
#include "core/base/Log.h"
#include "core/net/Packet.h"
#include "core/res/Strings.h"
#include "platform/Socket.h"
#include "ui/RecordingBoxes.h"
#include "widgets/adapters/MessageBoxes.h"
#include "widgets/app/AboutDialog.h"
#include "widgets/app/Mrmx3App.h"
#include "widgets/chat/RichChatDialog.h"

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

// Real message boxes. The first one opens with a quit signal on its way, which
// the box's own event loop delivers.
class SignalInFirstBox final : public platform::MessageBoxes {
public:
    explicit SignalInFirstBox(int signal) : m_signal(signal) {}
    std::vector<std::string> texts;

protected:
    void Open(QWidget* parent, const std::string& caption, const std::string& text,
              BoxIcon icon) override {
        texts.push_back(text);
        if (const int signal = std::exchange(m_signal, 0); signal != 0) {
            std::raise(signal);
        }
        MessageBoxes::Open(parent, caption, text, icon);
    }

private:
    int m_signal;
};

// The workers' pauses are real; the goodbye's pause, which no stop can end,
// returns at once and is written down.
class LoggingWait final : public StopWait {
public:
    explicit LoggingWait(std::vector<std::chrono::milliseconds>& ownPauses)
        : m_ownPauses(ownPauses) {}
    bool Pause(StopSignal* stop, std::chrono::milliseconds duration) override {
        if (stop == nullptr) {
            m_ownPauses.push_back(duration);
            return true;
        }
        return m_real.Pause(stop, duration);
    }

private:
    std::vector<std::chrono::milliseconds>& m_ownPauses;
    RealStopWait m_real;
};

// A probe made for the app that answers from the test's FakeIdle and counts
// how many of its kind live.
class ForwardingIdle final : public IdleInputProbe {
public:
    ForwardingIdle(const FakeIdle& inner, int& alive) : m_inner(inner), m_alive(alive) {
        ++m_alive;
    }
    ~ForwardingIdle() override { --m_alive; }
    ForwardingIdle(const ForwardingIdle&) = delete;
    ForwardingIdle& operator=(const ForwardingIdle&) = delete;
    std::optional<uint32_t> LastInputTick() const override { return m_inner.LastInputTick(); }
    uint32_t TickCount() const override { return m_inner.TickCount(); }

private:
    const FakeIdle& m_inner;
    int& m_alive;
};

}  // namespace

class TestMrmx3App : public QObject {
    Q_OBJECT

private:
    // The boxes are recorded in m_recording unless the test brings its own.
    std::unique_ptr<CMrmx3App> Make(bool tray,
                                    std::unique_ptr<platform::MessageBoxes> boxes = nullptr) {
        CMrmx3App::Services services;
        services.profile = std::make_unique<SharedProfile>(m_profile);
        services.player = std::make_unique<RecordingPlayer>();
        services.makeIdleProbe = [this]() -> std::unique_ptr<IdleInputProbe> {
            ++m_probesMade;
            if (!m_withIdle) {
                return nullptr;
            }
            return std::make_unique<ForwardingIdle>(m_idle, m_probesAlive);
        };
        if (!boxes) {
            auto recording = std::make_unique<RecordingBoxes>();
            m_recording = recording.get();
            boxes = std::move(recording);
        }
        services.boxes = std::move(boxes);
        services.names = std::make_unique<FixedNames>("jana", "PC7");
        services.wait = std::make_unique<LoggingWait>(m_ownPauses);
        services.trayAvailable = tray;
        services.makeDesktopNotifications = [] { return nullptr; };
        services.network.port = m_port;
        services.network.broadcastAddress = "127.0.0.1";
        services.network.destinationPort = platform::BoundPort(m_listener);
        services.network.send = [this](platform::SocketHandle socket, uint32_t address,
                                       uint16_t port, const void* data, size_t size) {
            const int failure = m_sendFailure.load();
            return failure != 0 ? failure
                                : platform::SendDatagram(socket, address, port, data, size);
        };
        return std::make_unique<CMrmx3App>(std::move(services));
    }
    std::unique_ptr<CMrmx3App> Start(bool tray,
                                     std::unique_ptr<platform::MessageBoxes> boxes = nullptr) {
        auto app = Make(tray, std::move(boxes));
        if (!app->InitInstance()) {
            return nullptr;
        }
        return app;
    }
    // Reads what the test socket hears up to the goodbye; true if one came.
    bool HeardGoodbye() {
        while (const auto next = Heard()) {
            if ((*next)[4] == Disconnected) {
                return true;
            }
        }
        return false;
    }
    // The next datagram the test socket hears, or nothing within tries * 10 ms.
    std::optional<std::vector<uint8_t>> Heard(int tries = 200) {
        std::array<uint8_t, 600> buffer{};
        for (int i = 0; i < tries; ++i) {
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
    bool m_withIdle = true;
    int m_probesMade = 0;
    int m_probesAlive = 0;
    RecordingBoxes* m_recording = nullptr;
    platform::SocketHandle m_listener = platform::kInvalidSocket;
    uint16_t m_port = 0;                // the program's own; 0: any free one
    std::atomic<int> m_sendFailure{0};  // what every send returns; 0: the real send's
    std::vector<std::chrono::milliseconds> m_ownPauses;

private Q_SLOTS:
    void init() {
        m_profile = MemoryProfile{};
        m_idle = FakeIdle{};
        m_port = 0;
        m_sendFailure = 0;
        m_ownPauses.clear();
        m_withIdle = true;
        m_probesMade = 0;
        m_probesAlive = 0;
        int error = 0;
        m_listener = platform::OpenUdpSocket(0, error);
        QVERIFY(m_listener != platform::kInvalidSocket);
    }
    void cleanup() {
        platform::CloseSocket(m_listener);
        // An exit asked for outside the main loop leaves every later event loop
        // ending at once (the program itself then returns from main); a main
        // loop run to its end clears that for the next test.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

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

    // A command's status reaches the pane and the tray tip with the next
    // turn of the event loop, without waiting for anything else.
    void statusCommandsReachThePaneAndTheTrayTip() {
        auto app = Start(true);
        QVERIFY(app);
        auto* pane = Find<QLabel>(*app, "statusPane");
        QVERIFY(pane);
        QCOMPARE(pane->text(), QStringLiteral("OK"));
        Find<QAction>(*app, "actionAway")->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(pane->text(), QStringLiteral("Pryč"));
        QCOMPARE(app->MainFrame()->TrayIcon()->toolTip(), QStringLiteral("Murmex3 - Pryč"));
        Find<QAction>(*app, "actionDoNotDisturb")->trigger();
        QCOMPARE(app->State().OwnStatus(), int16_t{DoNotDisturb});
        Find<QAction>(*app, "actionAtLunch")->trigger();
        QCOMPARE(app->State().OwnStatus(), int16_t{AtLunch});
        Find<QAction>(*app, "actionReady")->trigger();
        QCOMPARE(app->State().OwnStatus(), int16_t{Ready});
        QCoreApplication::processEvents();
        QCOMPARE(pane->text(), QStringLiteral("OK"));
    }

    // The watch runs on a one-second timer that runs, with the probe, only
    // while "CheckActivity" is on; not on every pass of the event loop.
    void theInactivityWatchRunsOnItsTimerOnlyWhileItIsOn() {
        m_profile.WriteInt("Settings", "InactivityMinutes", 10);
        auto app = Start(true);
        QVERIFY(app);
        QCOMPARE(m_probesMade, 0);
        QVERIFY(!app->ActivityTimer().isActive());

        app->State().Modify([](SettingsRecord& s) { s.checkActivity = true; });
        QCoreApplication::processEvents();
        QCOMPARE(m_probesAlive, 1);
        QVERIFY(app->ActivityTimer().isActive());
        QCOMPARE(app->ActivityTimer().interval(), 1000);

        m_idle.lastInput = 1000;
        m_idle.now = 1000 + 10 * 60000;
        QCoreApplication::processEvents();  // passes of the loop do not run it
        QCOMPARE(app->State().OwnStatus(), int16_t{Ready});
        QVERIFY(QMetaObject::invokeMethod(&app->ActivityTimer(), "timeout"));
        QCOMPARE(app->State().OwnStatus(), int16_t{Away});
        m_idle.lastInput = m_idle.now;
        QVERIFY(QMetaObject::invokeMethod(&app->ActivityTimer(), "timeout"));
        QCOMPARE(app->State().OwnStatus(), int16_t{Ready});

        // Off: the probe goes with the timer; other settings change neither.
        app->State().Modify([](SettingsRecord& s) { s.checkActivity = false; });
        QCoreApplication::processEvents();
        QCOMPARE(m_probesAlive, 0);
        QVERIFY(!app->ActivityTimer().isActive());
        app->State().Modify([](SettingsRecord& s) { s.inactivityMinutes = 5; });
        QCoreApplication::processEvents();
        QCOMPARE(m_probesMade, 1);

        // A start with the watch on makes the probe at once.
        app.reset();
        m_profile.WriteInt("Settings", "CheckActivity", 1);
        auto again = Start(true);
        QVERIFY(again);
        QCOMPARE(m_probesAlive, 1);
        QVERIFY(again->ActivityTimer().isActive());
        again.reset();
        QCOMPARE(m_probesAlive, 0);

        // Where the desktop cannot tell, no timer runs.
        m_withIdle = false;
        auto without = Start(true);
        QVERIFY(without);
        QVERIFY(!without->ActivityTimer().isActive());
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

    // Destroyed without "Konec", the program still says goodbye, once, as the
    // last thing it sends.
    void destroyingTheAppSaysGoodbyeOnce() {
        auto app = Start(true);
        QVERIFY(app);
        QVERIFY(app->Network()->ThreadsRunning());
        app.reset();

        std::vector<std::vector<uint8_t>> received;
        while (auto next = Heard(30)) {
            received.push_back(std::move(*next));
        }
        QVERIFY(!received.empty());
        int goodbyes = 0;
        for (const auto& datagram : received) {
            const DatagramView seen(datagram.data(), datagram.size());
            QCOMPARE(datagram.size(), kPresenceLength);
            QCOMPARE(seen.PresenceName(), std::string("jana@PC7"));
            if (seen.PresenceStatus() == Disconnected) {
                ++goodbyes;
            }
        }
        QCOMPARE(goodbyes, 1);
        const DatagramView last(received.back().data(), received.back().size());
        QCOMPARE(last.PresenceStatus(), int16_t{Disconnected});
        QCOMPARE(m_ownPauses,
                 std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(333)});
    }

    // Once started, the socket is read on this thread into the tree and the balloons.
    void theStartedNetworkReadsDatagramsThroughTheSocket() {
        // The other copy sends from 127.0.0.1, one of this computer's addresses.
        m_profile.WriteInt("Settings", "ShowMySelf", 1);
        auto app = Start(true);
        QVERIFY(app);
        PeerNetwork& network = *app->Network();
        QVERIFY(network.Endpoint().IsOpen());
        QVERIFY(network.ThreadsRunning());
        QVERIFY(!app->View()->IconAt(0).isNull());

        TestPeer other;
        PacketBuffer packet;
        BuildPresence(packet, Ready, "eva", "PC9", "Sklad");
        QVERIFY(other.SendTo(network.Endpoint().BoundPort(), packet, kPresenceLength));
        QTRY_COMPARE(app->View()->topLevelItemCount(), 1);
        const QTreeWidgetItem* group = app->View()->topLevelItem(0);
        QCOMPARE(group->text(0), QStringLiteral("Sklad"));
        QCOMPARE(group->childCount(), 1);
        QCOMPARE(group->child(0)->text(0), QStringLiteral("eva@PC9"));

        PacketBuffer text;
        BuildText(text, "ahoj");
        QVERIFY(other.SendTo(network.Endpoint().BoundPort(), text,
                             static_cast<size_t>(PacketLength(text, *m_recording))));
        QTRY_COMPARE(group->child(0)->data(0, CMrmx3View::kImageRole).toInt(), 5);
        QCOMPARE(app->MainFrame()->LastBalloon().text, QStringLiteral("eva@PC9 : ahoj"));
    }

    // A port that another program holds: the socket box and a tree with its
    // icons; nothing is started, and nothing sent, not even at the end.
    void aBusyPortShowsTheCreateErrorAndStartsNothing() {
        m_port = platform::BoundPort(m_listener);
        auto app = Start(true);
        QVERIFY(app);
        QVERIFY(!app->Network()->Endpoint().IsOpen());
        QVERIFY(!app->Network()->ThreadsRunning());
        const auto shown = m_recording->messages;
        QCOMPARE(shown.size(), size_t{1});
        QCOMPARE(shown[0].caption, std::string("Error"));
        QVERIFY(shown[0].text.starts_with("Create errorcode: "));
        QVERIFY(!app->View()->IconAt(7).isNull());

        app.reset();
        QVERIFY(!Heard(20).has_value());
        QVERIFY(m_ownPauses.empty());
    }

    // The message pane says when the announcements no longer leave.
    void theMessagePaneFollowsTheNetworksReach() {
        auto app = Start(true);
        QVERIFY(app);
        auto* pane = Find<QLabel>(*app, "messagePane");
        QVERIFY(pane);
        CPeerSocket& endpoint = app->Network()->Endpoint();
        m_sendFailure = ENETUNREACH;
        for (int i = 0; i < CPeerSocket::kUnreachableAfter; ++i) {
            endpoint.BroadcastPresence();
        }
        app->RefreshStatus();
        QCOMPARE(pane->text(), QStringLiteral("Síť je nedostupná"));

        m_sendFailure = 0;
        endpoint.BroadcastPresence();
        app->RefreshStatus();
        QCOMPARE(pane->text(), QStringLiteral("Připraven."));
        QVERIFY(m_recording->messages.empty());
    }

    // A quit signal while a conversation window waits in a box: goodbye at once,
    // the box and the main loop end, and the window goes only with the program.
    void aQuitSignalInAWindowsBoxEndsAfterTheBoxHasReturned() {
        auto boxes = std::make_unique<SignalInFirstBox>(SIGTERM);
        SignalInFirstBox* shown = boxes.get();
        auto app = Start(true, std::move(boxes));
        QVERIFY(app);
        QVERIFY(Heard().has_value());
        PacketBuffer packet;
        BuildPresence(packet, Ready, "eva", "PC2", "Sklad");
        app->Network()->Dispatch().DispatchDatagram(packet.data(), kPresenceLength, Ip("10.0.0.2"));
        // A double-click in the tree opens the peer's window.
        app->View()->setCurrentItem(
            static_cast<QTreeWidgetItem*>(app->Network()->Directory().PeerAt(0).treeItem));
        app->View()->OnDoubleClick();
        QPointer<CMRichChatDialog> window =
            dynamic_cast<CMRichChatDialog*>(app->Network()->Directory().PeerAt(0).window);
        QVERIFY(window);
        // A recipient out of range: typing raises the trace box inside the window.
        auto* recipient = window->findChild<QComboBox*>(QStringLiteral("recipient"));
        recipient->addItem(QStringLiteral("?"));
        recipient->setCurrentIndex(2);
        auto* input = window->findChild<QLineEdit*>(QStringLiteral("input"));

        QTimer::singleShot(0, app.get(), [input] { QTest::keyClick(input, Qt::Key_A); });
        QCOMPARE(QApplication::exec(), 0);

        QCOMPARE(shown->texts.size(), size_t{1});
        QVERIFY(shown->texts[0].ends_with("RichD 2, val 2"));
        QVERIFY(HeardGoodbye());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(window);
        QVERIFY(!window->isVisible());
        QVERIFY(!app->MainFrame()->isVisible());
        app.reset();
        QVERIFY(!window);
    }

    // A quit signal while a box of the start-up is open ends the start-up: the
    // network is not started and the program returns as after "Konec".
    void aQuitSignalInAStartUpBoxEndsTheStartUp() {
        m_profile.WriteInt("Settings", "IconsSize", 5);  // a trace box before the network
        auto boxes = std::make_unique<SignalInFirstBox>(SIGINT);
        SignalInFirstBox* shown = boxes.get();
        auto app = Make(true, std::move(boxes));
        // Only a faulty exit needs this: it closes a box that the exit left
        // open, as the user would, so the test fails instead of hanging.
        QTimer watchdog;
        connect(&watchdog, &QTimer::timeout, &watchdog, [&app] {
            QWidget* box = QApplication::activeModalWidget();
            if (box != nullptr && !app->MainFrame()->TrayIcon()->isVisible()) {
                box->close();
            }
        });
        watchdog.start(20);
        QVERIFY(!app->InitInstance());
        watchdog.stop();

        QVERIFY(app->ExitRequested());
        QCOMPARE(shown->texts, (std::vector<std::string>{res::String(res::kStrTraceCodePrefix) +
                                                         "View 5, IcoSz 5"}));
        QVERIFY(!app->Network()->ThreadsRunning());
        QVERIFY(!app->Network()->Endpoint().IsOpen());
        QVERIFY(!app->MainFrame()->TrayIcon()->isVisible());
    }

    // Saving the session is no end (a logout may still be cancelled); the
    // session's end, a quit event, is, even with the main window on the screen.
    void savingTheSessionGoesOnAndItsEndSaysGoodbye() {
        auto app = Start(false);
        QVERIFY(app);
        QVERIFY(Heard().has_value());
        auto* session = qApp->findChild<QSessionManager*>();
        QVERIFY(session);
        Q_EMIT qApp->commitDataRequest(*session);
        QCOMPARE(app->State().OwnStatus(), int16_t{Ready});
        QVERIFY(app->Network()->ThreadsRunning());
        QVERIFY(app->MainFrame()->isVisible());

        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(qApp, &quit);
        QVERIFY(quit.isAccepted());
        QVERIFY(HeardGoodbye());
        QVERIFY(!app->Network()->ThreadsRunning());
        QVERIFY(!app->MainFrame()->isVisible());
    }

    // A goodbye that cannot be sent (broadcasts refused) holds nothing up: no
    // box once the exit has begun, only a line in the log.
    void aFailedGoodbyeIsLoggedNotShown() {
        auto app = Start(true);
        QVERIFY(app);
        RecordingLog log;
        // From now on every send fails (EPIPE).
        app->Network()->Endpoint().ShutDown();
        std::raise(SIGHUP);
        QTRY_COMPARE(app->State().OwnStatus(), int16_t{Disconnected});
        QCoreApplication::processEvents();
        QVERIFY(m_recording->messages.empty());
        QVERIFY(!log.Lines().empty());
        for (const std::string& line : log.Lines()) {
            QVERIFY2(line.starts_with("exit: Error: SendTo errorcode: "), line.c_str());
        }
        QVERIFY(!app->Network()->ThreadsRunning());
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

    // What another copy's start asks for.
    void showMainWindowBringsTheHiddenWindowUpUntilTheExit() {
        auto app = Start(true);
        QVERIFY(app);
        QVERIFY(!app->MainFrame()->isVisible());
        app->ShowMainWindow();
        QVERIFY(app->MainFrame()->isVisible());
        QVERIFY(!app->MainFrame()->isMinimized());
        app->MainFrame()->hide();
        app->ExitProgram();
        app->ShowMainWindow();
        QVERIFY(!app->MainFrame()->isVisible());
    }

    // The boxes of the main window and the settings sheet are owned by the
    // window they belong to, so a window that stays on top cannot cover them.
    void boxesAndTheSettingsSheetOpenOverTheirWindows() {
        auto app = Start(false);
        QVERIFY(app);
        CMainFrame* frame = app->MainFrame();
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        std::vector<QWidget*> owners;
        m_recording->whileOpen = [&] { owners.push_back(m_recording->messages.back().parent); };
        app->State().SetOwnStatus(9);  // the status pane's trace box
        app->RefreshStatus();
        app->State().SetOwnStatus(Ready);
        QCOMPARE(owners, std::vector<QWidget*>{frame});

        QWidget* sheet = nullptr;
        QWidget* parent = nullptr;
        bool secondSheet = false;
        QTimer::singleShot(0, this, [&] {
            sheet = QApplication::activeModalWidget();
            parent = sheet->parentWidget();
            // Asked for again, from the tray's menu: no second sheet.
            QTimer::singleShot(0, this, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                if (modal != nullptr && modal != sheet) {
                    secondSheet = true;
                    qobject_cast<QDialog*>(modal)->reject();
                }
            });
            app->OnSettings();
            sheet->findChild<QTabWidget*>(QStringLiteral("pages"))->setCurrentIndex(1);
            auto* minutes = sheet->findChild<QLineEdit*>(QStringLiteral("inactivityMinutes"));
            minutes->setText(QStringLiteral("5 min"));  // "Zadejte číslo!"
            qobject_cast<QDialog*>(sheet)->reject();
        });
        app->OnSettings();
        QCoreApplication::processEvents();
        QVERIFY(!secondSheet);
        QVERIFY(sheet != nullptr);
        QCOMPARE(parent, static_cast<QWidget*>(frame));
        QCOMPARE(owners, (std::vector<QWidget*>{frame, sheet}));
        m_recording->whileOpen = nullptr;
    }

    void settingsSheetSaysWhenTheWatchHasNoProbe() {
        for (const bool withIdle : {false, true}) {
            m_withIdle = withIdle;
            auto app = Start(false);
            QVERIFY(app);
            bool noted = withIdle;
            bool enabled = !withIdle;
            QTimer::singleShot(0, this, [&] {
                auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(sheet != nullptr);
                sheet->findChild<QTabWidget*>(QStringLiteral("pages"))->setCurrentIndex(1);
                noted = sheet->findChild<QLabel*>(QStringLiteral("activityUnavailable")) != nullptr;
                enabled =
                    sheet->findChild<QCheckBox*>(QStringLiteral("checkActivity"))->isEnabled();
                sheet->reject();
            });
            app->OnSettings();
            QCOMPARE(noted, !withIdle);
            QCOMPARE(enabled, withIdle);
            // The question keeps no probe.
            QCOMPARE(m_probesAlive, 0);
        }
    }
};

QTEST_MAIN(TestMrmx3App)
#include "TestMrmx3App.moc"
