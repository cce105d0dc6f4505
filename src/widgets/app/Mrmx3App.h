// src/widgets/app/Mrmx3App.h
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "core/base/Clock.h"
#include "core/base/StopWait.h"
#include "core/base/UiPoster.h"
#include "core/net/PeerSocket.h"
#include "core/peers/ConversationWindow.h"
#include "core/peers/PeerNetwork.h"
#include "core/settings/AppState.h"
#include "core/settings/InactivityWatch.h"
#include "core/settings/SoundEvents.h"
#include "widgets/adapters/MessageBoxes.h"
#include "widgets/desktop/DesktopNotifications.h"
#include "widgets/desktop/TrayWatch.h"
#include "widgets/frame/MainFrame.h"
#include "widgets/peers/Mrmx3View.h"

// The application: owns the settings and their companions, the main frame
// with its user tree, the network side (PeerNetwork), and the services they
// use. Everything runs on the user-interface thread. Nothing runs on every pass
// of the event loop: the status pane, the tray tip and the inactivity watch are
// brought up to date when the own status, the settings or the network's reach
// change, and the watch also every second while "CheckActivity" is on.
class CMrmx3App final : public QObject {
    Q_OBJECT
public:
    // Every service can be replaced by a test; null members get the desktop's.
    struct Services {
        std::unique_ptr<Profile> profile;
        std::unique_ptr<SoundPlayer> player;
        // Makes the probe of the desktop's idle time when the inactivity watch
        // is turned on (it is dropped when the watch goes off); null where the
        // desktop cannot tell. Unset: the desktop's probe.
        std::function<std::unique_ptr<IdleInputProbe>()> makeIdleProbe;
        std::unique_ptr<platform::MessageBoxes> boxes;  // every box of the program
        std::unique_ptr<NameSource> names;
        std::unique_ptr<Clock> clock;
        std::unique_ptr<StopWait> wait;
        std::unique_ptr<ConversationFactory> conversations;
        // Unset: ask the desktop at start, and follow its tray while running.
        std::optional<bool> trayAvailable;
        // Makes the desktop's notification service, used where there is no
        // tray; null: none. Unset: the desktop's.
        std::function<std::unique_ptr<platform::DesktopNotifications>()> makeDesktopNotifications;
        CPeerSocket::Options network;
    };

    explicit CMrmx3App(Services services);
    ~CMrmx3App() override;

    // Start-up: settings, frame, tree and network, caption, hiding, bar layout,
    // top-most, transparency, the tree's icons, then the network started. False ends the program: a
    // failure, or an exit asked for while a box of the start-up was open (ExitRequested()), after
    // which nothing more is started.
    bool InitInstance();
    // The inactivity watch (made or dropped as "CheckActivity" asks), then the
    // status pane and the tray tip. Runs after a change and on the watch's timer.
    void RefreshStatus();
    // Asks for RefreshStatus on the user-interface thread; safe from any
    // thread, and one request stands for all that come before it runs.
    void RequestRefresh();

    void OnAppAbout();
    void OnSettings();
    // "Konec", a quit signal or the end of the session: from then on no box is
    // shown (failures are logged), the tray icon goes, goodbye and threads
    // stopped, every window hidden, and every running event loop left, a box's
    // or a dialog's included. Runs once. The windows themselves are deleted
    // with the application object, after the main loop has returned: the
    // conversation windows with the network, then the frame and its tree.
    void ExitProgram();
    bool ExitRequested() const { return m_exiting; }

    // Brings the main window up, shown, raised and active: another copy's
    // start asks for it. Nothing once the exit has begun.
    void ShowMainWindow();
    void SaveSettings();

    AppState& State() { return m_state; }
    CMainFrame* MainFrame() const { return m_frame.get(); }
    CMrmx3View* View() const { return m_view; }
    // Null before InitInstance has made it.
    PeerNetwork* Network() const { return m_network.get(); }
    // Runs while the inactivity watch is on and has a probe (tests read and fire it).
    QTimer& ActivityTimer() { return m_activityTimer; }
    static constexpr int kActivityCheckMs = 1000;

protected:
    // The end of the session arrives as the application's quit event.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Starts the network, which reads its socket on a thread of its own.
    // Makes the idle probe when "CheckActivity" has been turned on, drops it
    // when it has been turned off.
    void FollowActivitySetting();
    // Whether the desktop can tell the idle time; keeps no probe of its own.
    bool IdleProbeAvailable();

    Services m_s;
    AppState m_state;
    std::unique_ptr<UiPoster> m_poster;
    std::unique_ptr<SoundEvents> m_sounds;
    std::unique_ptr<platform::DesktopNotifications> m_desktopNotifications;
    std::unique_ptr<platform::TrayWatch> m_trayWatch;  // only where the desktop was asked
    std::unique_ptr<CMainFrame> m_frame;
    QPointer<CMrmx3View> m_view;  // the frame's central widget
    std::unique_ptr<PeerNetwork> m_network;
    std::unique_ptr<IdleInputProbe> m_idle;  // only while the watch is on
    bool m_watchOn = false;
    QTimer m_activityTimer;
    std::atomic<bool> m_refreshRequested{false};
    AppState::Subscription m_stateWatch;
    bool m_exiting = false;
    QPointer<QDialog> m_openSheet;  // the settings sheet while it is open
};
