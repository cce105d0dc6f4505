// src/widgets/app/Mrmx3App.cpp
#include "widgets/app/Mrmx3App.h"

#include <QApplication>
#include <QGuiApplication>
#include <QShortcut>
#include <QSystemTrayIcon>

#include "core/res/Strings.h"
#include "platform/Socket.h"
#include "widgets/adapters/QtProfile.h"
#include "widgets/adapters/QtSoundPlayer.h"
#include "widgets/adapters/QtUiPoster.h"
#include "widgets/adapters/TextCodec.h"
#include "widgets/app/AboutDialog.h"
#include "widgets/chat/RichChatDialog.h"
#include "widgets/desktop/IdleInput.h"
#include "widgets/desktop/QuitSignals.h"
#include "widgets/settings/PropertySheet.h"

namespace {

constexpr const char* kBarLayoutValue = "State";

}  // namespace

CMrmx3App::CMrmx3App(Services services) : m_s(std::move(services)) {
    if (!m_s.profile) {
        m_s.profile = std::make_unique<platform::QtProfile>();
    }
    if (!m_s.player) {
        m_s.player = std::make_unique<platform::QtSoundPlayer>();
    }
    if (!m_s.makeIdleProbe) {
        m_s.makeIdleProbe = [] { return platform::MakeIdleInputProbe(); };
    }
    if (!m_s.boxes) {
        m_s.boxes = std::make_unique<platform::MessageBoxes>();
    }
    if (!m_s.names) {
        m_s.names = std::make_unique<SystemNameSource>();
    }
    if (!m_s.clock) {
        m_s.clock = std::make_unique<SystemClock>();
    }
    if (!m_s.wait) {
        m_s.wait = std::make_unique<RealStopWait>();
    }
    if (!m_s.conversations) {
        m_s.conversations = std::make_unique<RichChatFactory>(m_state, *m_s.boxes);
    }
    if (!m_s.makeDesktopNotifications) {
        m_s.makeDesktopNotifications = [] { return platform::MakeDesktopNotifications(); };
    }
    if (!m_s.trayAvailable) {
        m_trayWatch = platform::TrayWatch::Make();
        // One look, so that a change after it is told.
        m_s.trayAvailable =
            m_trayWatch ? m_trayWatch->Available() : QSystemTrayIcon::isSystemTrayAvailable();
    }
    m_poster = std::make_unique<platform::QtUiPoster>(this);
    m_sounds = std::make_unique<SoundEvents>(m_state, *m_s.clock, *m_s.player);
    m_activityTimer.setInterval(kActivityCheckMs);
    connect(&m_activityTimer, &QTimer::timeout, this, [this] { RefreshStatus(); });
}

CMrmx3App::~CMrmx3App() {
    // The network first: goodbye, threads stopped and its conversation windows
    // deleted while the tree and the frame it reports to are still there.
    m_network.reset();
    m_stateWatch.Reset();
    m_activityTimer.stop();
    m_idle.reset();
    m_frame.reset();
    m_trayWatch.reset();
    m_desktopNotifications.reset();
}

bool CMrmx3App::InitInstance() {
    if (platform::InitSocketLibrary() != 0) {
        m_s.boxes->Show(nullptr, res::String(res::kStrAppTitle),
                        res::String(res::kStrSocketsInitFailed), BoxIcon::None);
        return false;
    }
    LoadSettings(m_state, *m_s.profile);
    ApplyDerivedDefaults(m_state, *m_s.names);

    m_frame = std::make_unique<CMainFrame>(m_state, *m_s.boxes, *m_s.clock, *m_s.trayAvailable);
    connect(m_frame.get(), &CMainFrame::AboutRequested, this, &CMrmx3App::OnAppAbout);
    connect(m_frame.get(), &CMainFrame::SettingsRequested, this, &CMrmx3App::OnSettings);
    connect(m_frame.get(), &CMainFrame::StatusChosen, this,
            [this](int status) { m_state.SetOwnStatus(static_cast<int16_t>(status)); });
    connect(m_frame.get(), &CMainFrame::OpenNotifiedRequested, this, [this] {
        if (m_network) {
            m_network->OpenNotifiedConversation();
        }
    });
    connect(m_frame.get(), &CMainFrame::ExitRequested, this, &CMrmx3App::ExitProgram);
    m_desktopNotifications = m_s.makeDesktopNotifications();
    m_frame->SetDesktopNotifications(m_desktopNotifications.get());
    if (m_trayWatch) {
        connect(m_trayWatch.get(), &platform::TrayWatch::Changed, m_frame.get(),
                &CMainFrame::SetTrayAvailable);
    }

    // Only the network made next puts peers in the tree, so no double-click
    // opens a conversation before it exists.
    auto* view = new CMrmx3View(
        CMrmx3View::Services{
            .state = m_state,
            .presenter = *m_frame,
            .openConversation = [this](int index) { m_network->OpenConversation(index); }},
        m_frame.get());
    m_view = view;
    m_frame->SetView(view);
    m_network = std::make_unique<PeerNetwork>(
        PeerNetwork::Services{.state = m_state,
                              .presenter = *m_frame,
                              .poster = *m_poster,
                              .tree = *view,
                              .notifications = *m_frame,
                              .sounds = *m_sounds,
                              .conversations = *m_s.conversations,
                              .clock = *m_s.clock,
                              .wait = *m_s.wait,
                              .saveSettings = [this] { SaveSettings(); },
                              .reachChanged = [this] { RequestRefresh(); }},
        m_s.network);
    m_stateWatch = m_state.Subscribe([this](const AppState::Change&) { RequestRefresh(); });

    m_frame->setWindowTitle(
        platform::FromCp1250(m_state.Read([](const SettingsRecord& s) { return s.userName; })) +
        QLatin1Char('@') + platform::FromCp1250(m_state.ComputerName()));

    if (const auto layout = m_s.profile->ReadString(kBarLayoutProfileName, kBarLayoutValue)) {
        m_frame->restoreState(QByteArray::fromBase64(QByteArray::fromStdString(*layout)));
    }
    // The window's style before it is first shown: a flag changed on a shown
    // window would move it back to where Qt last knew it, before the window
    // manager had placed it.
    const SettingsRecord settings = m_state.Settings();
    if (settings.topMost) {
        m_frame->ApplyTopMost();
    }
    if (settings.transpareny > 0) {
        m_frame->ApplyTransparency();
    }
    // The program runs from its tray icon; without a tray the window stays.
    if (*m_s.trayAvailable) {
        m_frame->hide();
    } else {
        m_frame->show();
    }

    // F6 and Shift+F6 move the focus between the panes of the main window.
    auto* next = new QShortcut(QKeySequence(Qt::Key_F6), m_frame.get());
    connect(next, &QShortcut::activated, m_frame.get(), [this] { m_frame->FocusNextPane(true); });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), m_frame.get());
    connect(previous, &QShortcut::activated, m_frame.get(),
            [this] { m_frame->FocusNextPane(false); });

    // Every way out runs ExitProgram: the quit signals, the end of the session
    // (a quit event) and a main loop ended by anything else. Saving the
    // session's data (commitDataRequest) is not an end: a logout may still be
    // cancelled, and nothing needs saving.
    platform::InstallQuitHandler(this, [this] { ExitProgram(); });
    if (qApp != nullptr) {
        qApp->installEventFilter(this);
        connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { ExitProgram(); });
    }

    // The tree's icons before the network brings any peer. Their boxes run
    // event loops, in which an exit may be asked for; then the network, already
    // stopped, starts nothing and the start-up ends here.
    view->LoadIcons();
    // The network reads its socket on a thread of its own and posts what it
    // received to this one.
    m_network->Start();
    if (m_exiting) {
        return false;
    }
    RefreshStatus();
    // A box of the refresh may have run an exit too.
    return !m_exiting;
}

bool CMrmx3App::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        ExitProgram();
        event->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void CMrmx3App::RequestRefresh() {
    if (!m_refreshRequested.exchange(true)) {
        QMetaObject::invokeMethod(
            this, [this] { RefreshStatus(); }, Qt::QueuedConnection);
    }
}

void CMrmx3App::RefreshStatus() {
    m_refreshRequested = false;
    if (m_exiting) {
        return;
    }
    FollowActivitySetting();
    // A status the watch changes asks for one more refresh, which finds
    // nothing more to change.
    RunInactivityWatch(m_state, m_idle.get());
    if (m_frame) {
        m_frame->OnUpdateStatusPane(m_network && m_network->NetworkUnreachable());
    }
}

void CMrmx3App::FollowActivitySetting() {
    const bool on = m_state.Read([](const SettingsRecord& s) { return s.checkActivity; });
    if (on == m_watchOn) {
        return;
    }
    m_watchOn = on;
    if (on) {
        m_idle = m_s.makeIdleProbe();
    } else {
        m_idle.reset();
    }
    if (m_idle) {
        m_activityTimer.start();
    } else {
        m_activityTimer.stop();
    }
}

bool CMrmx3App::IdleProbeAvailable() {
    return m_idle != nullptr || m_s.makeIdleProbe() != nullptr;
}

void CMrmx3App::OnAppAbout() {
    AboutDialog about(m_frame.get());
    about.exec();
}

void CMrmx3App::OnSettings() {
    // Asked again while open (the tray's menu works beside it): the open one
    // comes up, so that no second sheet overwrites what the first saves.
    if (m_openSheet) {
        m_openSheet->raise();
        m_openSheet->activateWindow();
        return;
    }
    CMX3PropertySheet sheet(
        m_state, *m_s.boxes, [this] { return m_s.names->LogonName(); },
        platform::QtSoundPlayer::SoundsFolder(
            platform::FromCp1250(res::String(res::kStrSoundsFolder))),
        platform::DialogParent(m_frame.get()),
        [this] {
            std::vector<std::pair<std::string, std::string>> peers;
            if (m_network) {
                for (const int index : m_network->RemotePeers()) {
                    const PeerFacts facts = m_network->Directory().Facts(index);
                    peers.emplace_back(facts.address, facts.name);
                }
            }
            return peers;
        });
    sheet.NoticePage()->SetActivityWatchAvailable(IdleProbeAvailable());
    CMX3PropPgVisage* visage = sheet.VisagePage();
    visage->SetWindowStyleAvailable(
        CMX3PropPgVisage::WindowStyleAvailable(QGuiApplication::platformName()));
    // What OK on the page applies to the running program at once.
    connect(visage, &CMX3PropPgVisage::CaptionChanged, m_frame.get(), &QWidget::setWindowTitle);
    if (m_view) {
        connect(visage, &CMX3PropPgVisage::IconsChanged, m_view, &CMrmx3View::LoadIcons);
    }
    connect(visage, &CMX3PropPgVisage::TransparencyChanged, m_frame.get(),
            &CMainFrame::ApplyTransparency);
    connect(visage, &CMX3PropPgVisage::TopMostChanged, m_frame.get(), &CMainFrame::ApplyTopMost);
    m_openSheet = &sheet;
    if (sheet.exec() == QDialog::Accepted) {
        SaveSettings();
    }
}

void CMrmx3App::ExitProgram() {
    if (m_exiting) {
        return;
    }
    m_exiting = true;
    m_activityTimer.stop();
    m_s.boxes->Close();
    if (m_frame) {
        m_frame->RemoveTrayIcon();
    }
    // Goodbye and threads; the windows stay, since one of them may be the
    // caller, waiting in a box.
    if (m_network) {
        m_network->Stop();
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            window->hide();
        }
    }
    // Leaves every running event loop, and a loop begun later returns at once
    // (quit() would do nothing outside the main loop). Before the main loop
    // runs, InitInstance ends the start-up instead.
    QCoreApplication::exit(0);
}

void CMrmx3App::ShowMainWindow() {
    if (!m_frame || m_exiting) {
        return;
    }
    m_frame->showNormal();
    m_frame->raise();
    m_frame->activateWindow();
}

void CMrmx3App::SaveSettings() {
    ::SaveSettings(m_state, *m_s.profile);
    if (m_frame) {
        m_s.profile->WriteString(kBarLayoutProfileName, kBarLayoutValue,
                                 m_frame->saveState().toBase64().toStdString());
    }
}
