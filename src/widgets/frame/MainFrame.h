// src/widgets/frame/MainFrame.h
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <cstdint>
#include <optional>
#include <string>

#include "core/base/AlertGate.h"
#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/peers/PeerNotifier.h"
#include "core/settings/AppState.h"
#include "widgets/adapters/MessageBoxes.h"
#include "widgets/adapters/QtUiPoster.h"

class CMrmx3View;
class QActionGroup;
class QMenu;
namespace platform {
class DesktopNotifications;
}

// The main window: menu bar, tool bar, status bar with the own status, the
// user tree as its central widget, and the tray icon with its balloons and its
// menu. Where the desktop has no tray, the window stays reachable: it is not
// hidden, minimise and close minimise, and notifications go to the desktop's
// notification service, or, without one, to a message box: one at a time and
// none for a quiet period after one closes, the next telling how many were
// missed. A tray may come or go while the program runs (SetTrayAvailable). At
// most one notification is shown per kNotificationGapMs: one that comes sooner
// waits for the end of the gap, and a newer one takes its place. As a
// MessagePresenter it shows the boxes that belong to the main window (its own,
// its tree's and the network's), owned by it and centred over it.
class CMainFrame final : public QMainWindow, public NotificationSink, public MessagePresenter {
    Q_OBJECT
public:
    // trayAvailable: whether the desktop shows a system tray at start (tests
    // pass it). clock: the time of the boxes' quiet period.
    CMainFrame(AppState& state, platform::MessageBoxes& boxes, const Clock& clock,
               bool trayAvailable);
    ~CMainFrame() override;

    void SetView(CMrmx3View* view);
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;

    static constexpr int kNotificationGapMs = 250;
    // After a notification box has closed, no other opens for this long.
    static constexpr int64_t kBoxQuietSeconds = AlertGate::kQuietSeconds;
    // The starting size; wider where the menu bar needs it.
    static constexpr int kStartWidth = 215;
    static constexpr int kStartHeight = 380;

    // The balloon with its title, text and time, or without a tray the
    // desktop's notification or the box with the whole title and text, now or
    // at the end of the gap (a box once the caller has returned); the tray tip
    // at once in any case.
    void Show(const Notification& notification) override;
    // The desktop's notification service, used where there is no tray; null:
    // none (boxes). Not owned.
    void SetDesktopNotifications(platform::DesktopNotifications* service);
    // A tray has appeared (the icon docks, balloons, close and minimise hide)
    // or gone (the window is shown again and stays reachable).
    void SetTrayAvailable(bool available);
    // Refreshes the status pane and the tray tool tip from the own status, and
    // the message pane's idle text from whether announcements no longer leave.
    void OnUpdateStatusPane(bool networkUnreachable);

    void OnAppExit();
    // Takes the icon out of the notification area (the exit path; the
    // destructor does it too).
    void RemoveTrayIcon();
    // F6 and Shift+F6: the keyboard focus to the next or previous pane.
    void FocusNextPane(bool forward) { focusNextPrevChild(forward); }
    static int AlphaForPercent(int32_t transpareny);

    bool TrayAvailable() const { return m_trayAvailable; }
    bool Exiting() const { return m_exiting; }
    QSystemTrayIcon* TrayIcon() const { return m_tray; }
    bool BalloonShown() const { return m_balloonShown; }
    // The balloon Qt draws itself (X11): while it is on the screen, also when
    // the mouse keeps it there past its time, a click on it counts.
    void WatchBalloon(QWidget* balloon);
    QMenu* TrayMenu() const { return m_trayMenu; }
    // Notifications that no box showed since the last one that did.
    int MissedNotifications() const { return static_cast<int>(m_noteBoxes.MissedSinceShown()); }
    // The last balloon, for tests: title, text and time in milliseconds.
    struct Balloon {
        QString title;
        QString text;
        int milliseconds = 0;
    };
    const Balloon& LastBalloon() const { return m_lastBalloon; }
    // Runs out with the balloon's time and clears BalloonShown unless the
    // balloon is still on the screen (tests read and fire it).
    QTimer& BalloonTimer() { return m_balloonTimer; }
    // Runs while the gap after a shown notification lasts; at its end the
    // waiting one, if any, is shown (tests read and fire it).
    QTimer& NotificationTimer() { return m_notificationTimer; }

    // Simulates the tray's reports (tests; the tray calls them too). Qt's X11
    // tray reports a press on the icon while a balloon shows as a balloon
    // click as well, just before the icon's own report: a balloon click
    // counts once the report of the press is through without one of the icon.
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void OnBalloonClicked();
    // The desktop notification was clicked: as a balloon click.
    void OnDesktopNotificationClicked();

public Q_SLOTS:
    // Opacity from "Transpareny" (alpha = p*255/100, p clamped to 100, low 8 bits).
    void ApplyTransparency();
    void ApplyTopMost();

Q_SIGNALS:
    // The commands of the menus, the tool bar and the tray's menu.
    void AboutRequested();
    void SettingsRequested();
    void StatusChosen(int status);
    // A click on the notification, where "OpenOnClickTooTip" asks for it.
    void OpenNotifiedRequested();
    // The orderly end of the program; emitted once.
    void ExitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateTray();
    void CreateTrayMenu();
    void ShowFromTray();
    QAction* Action(const char* name);
    // Opens the notified conversation where "OpenOnClickTooTip" asks for it.
    void OpenNotified();
    QAction* MakeAction(const QString& text, int promptId, const QString& iconName,
                        const char* objectName);
    void RunExitCommand();
    // The balloon, or without a tray the desktop's notification or the box.
    void Present(const Notification& notification);
    void PresentBox(const Notification& notification);
    void OnNotificationGapEnd();
    // The tip as given (code page 1250, already cut).
    void SetTrayToolTip(const std::string& tip);
    // What the message pane shows when no prompt is on show.
    QString IdleText() const;

    AppState& m_state;
    platform::MessageBoxes& m_boxes;
    const Clock& m_clock;
    bool m_trayAvailable;
    bool m_exiting = false;
    bool m_balloonShown = false;
    bool m_balloonClickPending = false;  // decided once the tray's report is through
    QPointer<QWidget> m_balloon;         // Qt's balloon widget while it is on the screen
    uint64_t m_balloonSerial = 0;        // counts the balloons shown
    platform::DesktopNotifications* m_desktop = nullptr;
    // Boxes that stand for notifications, shown from posted tasks.
    platform::QtUiPoster m_poster{this};
    AlertGate m_noteBoxes{*this, m_clock, m_poster, AlertGate::Purpose::Notifications};
    int m_superseded = 0;  // waiting ones replaced by a newer one since the last shown
    bool m_exitCommandRun = false;
    // The tray icon went for the exit: no icon, window or notification again.
    bool m_ended = false;
    bool m_networkUnreachable = false;
    Balloon m_lastBalloon;
    QToolBar* m_toolBar = nullptr;
    QAction* m_actionToolBar = nullptr;
    QAction* m_actionStatusBar = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_statusPane = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    QActionGroup* m_trayStatuses = nullptr;
    QTimer m_balloonTimer;
    QTimer m_notificationTimer;
    std::optional<Notification> m_waitingNotification;
};
