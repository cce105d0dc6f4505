// src/widgets/frame/MainFrame.cpp
#include "widgets/frame/MainFrame.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolButton>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "core/peers/NotificationBuilder.h"
#include "core/res/Strings.h"
#include "widgets/adapters/TextCodec.h"
#include "widgets/desktop/DesktopNotifications.h"
#include "widgets/peers/Mrmx3View.h"

namespace {

QString Utf8String(int id) {
    return QString::fromStdString(res::StringUtf8(id));
}

QString WithoutMnemonic(QString text) {
    return text.remove(QLatin1Char('&'));
}

// The four statuses of the "Stav" menu, the tool bar and the tray's menu.
struct StatusItem {
    const char* text;
    const char* actionName;
    const char* trayName;
    int prompt;
    const char* icon;
    int status;
};
const StatusItem kStatusItems[] = {
    {"&Připraven", "actionReady", "trayReady", res::kStrPromptReady, "tb-ready.svg", Ready},
    {"Ne&rušit", "actionDoNotDisturb", "trayDoNotDisturb", res::kStrPromptDoNotDisturb,
     "tb-dnd.svg", DoNotDisturb},
    {"&Pryč", "actionAway", "trayAway", res::kStrPromptAway, "tb-away.svg", Away},
    {"Na &obědě", "actionAtLunch", "trayAtLunch", res::kStrPromptAtLunch, "tb-lunch.svg", AtLunch},
};

}  // namespace

CMainFrame::CMainFrame(AppState& state, platform::MessageBoxes& boxes, const Clock& clock,
                       bool trayAvailable)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      m_state(state),
      m_boxes(boxes),
      m_clock(clock),
      m_trayAvailable(trayAvailable) {
    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tray.svg")));

    m_balloonTimer.setSingleShot(true);
    connect(&m_balloonTimer, &QTimer::timeout, this, [this] {
        // A balloon that the mouse keeps on the screen counts until it goes.
        if (m_balloon == nullptr || !m_balloon->isVisible()) {
            m_balloonShown = false;
        }
    });
    m_notificationTimer.setSingleShot(true);
    m_notificationTimer.setInterval(kNotificationGapMs);
    connect(&m_notificationTimer, &QTimer::timeout, this, [this] { OnNotificationGapEnd(); });

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    // Narrow, but wide enough for every menu of the bar in the system's font.
    resize(std::max(kStartWidth, menuBar()->sizeHint().width()), kStartHeight);
    if (m_trayAvailable) {
        CreateTray();
    }
}

CMainFrame::~CMainFrame() {
    m_balloonTimer.stop();
    m_notificationTimer.stop();
    RemoveTrayIcon();
}

void CMainFrame::SetView(CMrmx3View* view) {
    if (view != nullptr) {
        setCentralWidget(view);
    }
}

void CMainFrame::ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) {
    m_boxes.Show(this, caption, text, icon);
}

QAction* CMainFrame::MakeAction(const QString& text, int promptId, const QString& iconName,
                                const char* objectName) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(objectName));
    // The prompt's first line shows in the message pane, the second is the tool tip.
    const QString prompt = Utf8String(promptId);
    const qsizetype lineBreak = prompt.indexOf(QLatin1Char('\n'));
    action->setStatusTip(lineBreak < 0 ? prompt : prompt.left(lineBreak));
    action->setToolTip(lineBreak < 0 ? QString() : prompt.mid(lineBreak + 1));
    if (!iconName.isEmpty()) {
        action->setIcon(QIcon(QStringLiteral(":/icons/") + iconName));
        action->setIconVisibleInMenu(false);
    }
    return action;
}

QAction* CMainFrame::Action(const char* name) {
    return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

void CMainFrame::CreateActions() {
    connect(MakeAction(QStringLiteral("&Konec"), res::kStrPromptExit, {}, "actionExit"),
            &QAction::triggered, this, &CMainFrame::OnAppExit);
    for (const StatusItem& item : kStatusItems) {
        QAction* action = MakeAction(QString::fromUtf8(item.text), item.prompt,
                                     QString::fromLatin1(item.icon), item.actionName);
        connect(action, &QAction::triggered, this,
                [this, status = item.status] { Q_EMIT StatusChosen(status); });
    }
    connect(MakeAction(QStringLiteral("&Nastavení"), res::kStrSettingsPrompt,
                       QStringLiteral("tb-settings.svg"), "actionSettings"),
            &QAction::triggered, this, &CMainFrame::SettingsRequested);
    m_actionToolBar =
        MakeAction(QStringLiteral("&Toolbar"), res::kStrPromptToolBar, {}, "actionToolBar");
    m_actionStatusBar =
        MakeAction(QStringLiteral("Status &Bar"), res::kStrPromptStatusBar, {}, "actionStatusBar");
    connect(MakeAction(QStringLiteral("&O Murmex3"), res::kStrPromptAbout,
                       QStringLiteral("tb-about.svg"), "actionAbout"),
            &QAction::triggered, this, &CMainFrame::AboutRequested);

    m_actionToolBar->setCheckable(true);
    m_actionToolBar->setChecked(true);
    m_actionStatusBar->setCheckable(true);
    m_actionStatusBar->setChecked(true);
    connect(m_actionToolBar, &QAction::triggered, this,
            [this](bool on) { m_toolBar->setVisible(on); });
    connect(m_actionStatusBar, &QAction::triggered, this,
            [this](bool on) { statusBar()->setVisible(on); });
}

void CMainFrame::CreateMenus() {
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(QStringLiteral("&Soubor"));
    file->setObjectName(QStringLiteral("menuFile"));
    file->addAction(Action("actionExit"));

    QMenu* status = bar->addMenu(QStringLiteral("&Stav"));
    status->setObjectName(QStringLiteral("menuStatus"));
    for (const StatusItem& item : kStatusItems) {
        status->addAction(Action(item.actionName));
    }

    QMenu* view = bar->addMenu(QStringLiteral("&Zobrazit"));
    view->setObjectName(QStringLiteral("menuView"));
    view->addAction(Action("actionSettings"));
    view->addSeparator();
    view->addAction(m_actionToolBar);
    view->addAction(m_actionStatusBar);
    // The check marks follow the bars, also after a restored layout.
    connect(view, &QMenu::aboutToShow, this, [this] {
        m_actionToolBar->setChecked(!m_toolBar->isHidden());
        m_actionStatusBar->setChecked(!statusBar()->isHidden());
    });

    QMenu* help = bar->addMenu(QStringLiteral("&Pomoc"));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addAction(Action("actionAbout"));
}

void CMainFrame::CreateToolBar() {
    m_toolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setMovable(true);
    m_toolBar->setFloatable(true);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->addAction(Action("actionSettings"));
    m_toolBar->addSeparator();
    m_toolBar->addAction(Action("actionReady"));
    m_toolBar->addAction(Action("actionDoNotDisturb"));
    m_toolBar->addAction(Action("actionAtLunch"));
    m_toolBar->addAction(Action("actionAway"));
    m_toolBar->addSeparator();
    m_toolBar->addAction(Action("actionAbout"));
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    for (QAction* item : m_toolBar->actions()) {
        if (QWidget* button = m_toolBar->widgetForAction(item); button && !item->isSeparator()) {
            button->setAccessibleName(WithoutMnemonic(item->text()));
        }
    }
    connect(m_toolBar, &QToolBar::visibilityChanged, m_actionToolBar, &QAction::setChecked);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));

    m_messagePane = new QLabel(Utf8String(res::kStrIdlePrompt), bar);
    m_messagePane->setObjectName(QStringLiteral("messagePane"));
    m_messagePane->setAccessibleName(QStringLiteral("Zpráva"));
    bar->addWidget(m_messagePane, 1);

    m_statusPane = new QLabel(Utf8String(res::kStrStatusPaneUnknown), bar);
    m_statusPane->setObjectName(QStringLiteral("statusPane"));
    m_statusPane->setAccessibleName(QStringLiteral("Stav"));
    bar->addWidget(m_statusPane);
}

void CMainFrame::CreateTray() {
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/tray.svg")), this);
    m_tray->setObjectName(QStringLiteral("trayIcon"));
    SetTrayToolTip(TrayToolTip({}));
    connect(m_tray, &QSystemTrayIcon::activated, this, &CMainFrame::OnTrayActivated);
    connect(m_tray, &QSystemTrayIcon::messageClicked, this, &CMainFrame::OnBalloonClicked);
    CreateTrayMenu();
    m_tray->setContextMenu(m_trayMenu);
    m_tray->show();
}

void CMainFrame::CreateTrayMenu() {
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    const auto add = [this](const QString& text, const char* name, auto handler) {
        QAction* action = m_trayMenu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    m_trayStatuses = new QActionGroup(m_trayMenu);
    for (const StatusItem& item : kStatusItems) {
        QAction* action = add(QString::fromUtf8(item.text), item.trayName,
                              [this, status = item.status] { Q_EMIT StatusChosen(status); });
        action->setCheckable(true);
        action->setData(item.status);
        m_trayStatuses->addAction(action);
    }
    m_trayMenu->addSeparator();
    add(QStringLiteral("&Zobrazit"), "trayShow", &CMainFrame::ShowFromTray);
    add(QStringLiteral("&Nastavení…"), "traySettings", &CMainFrame::SettingsRequested);
    m_trayMenu->addSeparator();
    // The tray's menu works while a modal dialog holds the window; the exit
    // is safe inside its event loop.
    add(QStringLiteral("&Konec"), "trayExit", [this] {
        m_exiting = true;
        RunExitCommand();
    });
    // The current status checked, whatever set it.
    connect(m_trayMenu, &QMenu::aboutToShow, this, [this] {
        const int own = m_state.OwnStatus();
        for (QAction* action : m_trayStatuses->actions()) {
            action->setChecked(action->data().toInt() == own);
        }
    });
}

void CMainFrame::SetTrayToolTip(const std::string& tip) {
    if (m_tray == nullptr) {
        return;
    }
    const QString text = platform::FromCp1250(tip);
    if (m_tray->toolTip() != text) {
        m_tray->setToolTip(text);
    }
}

void CMainFrame::SetDesktopNotifications(platform::DesktopNotifications* service) {
    if (m_desktop != nullptr) {
        disconnect(m_desktop, nullptr, this, nullptr);
    }
    m_desktop = service;
    if (m_desktop != nullptr) {
        connect(m_desktop, &platform::DesktopNotifications::Clicked, this,
                &CMainFrame::OnDesktopNotificationClicked);
    }
}

void CMainFrame::SetTrayAvailable(bool available) {
    if (available == m_trayAvailable || m_exiting || m_ended) {
        return;
    }
    m_trayAvailable = available;
    if (available) {
        // The window stays as it is; closing or minimising it hides it now.
        if (m_tray == nullptr) {
            CreateTray();
            OnUpdateStatusPane(m_networkUnreachable);
        }
        return;
    }
    // No balloon can be clicked, and the window must be reachable without
    // the icon. Qt keeps the icon, and docks it again in the next tray.
    m_balloonShown = false;
    m_balloonTimer.stop();
    if (isHidden()) {
        showNormal();
    }
}

void CMainFrame::RemoveTrayIcon() {
    // Nothing is shown after the exit, whoever asked for it.
    m_ended = true;
    m_waitingNotification.reset();
    m_notificationTimer.stop();
    m_balloonClickPending = false;
    if (m_tray != nullptr) {
        m_tray->hide();
    }
}

void CMainFrame::Show(const Notification& notification) {
    if (m_ended) {
        return;
    }
    SetTrayToolTip(notification.toolTip);
    if (!notification.enabled) {
        return;
    }
    if (m_notificationTimer.isActive()) {
        if (m_waitingNotification) {
            ++m_superseded;
        }
        m_waitingNotification = notification;
        return;
    }
    // The gap starts with the showing (a box's event loop may deliver more).
    m_notificationTimer.start();
    Present(notification);
}

void CMainFrame::OnNotificationGapEnd() {
    if (auto waiting = std::exchange(m_waitingNotification, std::nullopt)) {
        m_notificationTimer.start();
        Present(*waiting);
    }
}

void CMainFrame::Present(const Notification& notification) {
    if (m_trayAvailable && m_tray != nullptr) {
        m_superseded = 0;
        m_lastBalloon.title = platform::FromCp1250(notification.balloonTitle);
        m_lastBalloon.text = platform::FromCp1250(notification.balloonText);
        m_lastBalloon.milliseconds = notification.milliseconds;
        m_tray->showMessage(m_lastBalloon.title, m_lastBalloon.text, QSystemTrayIcon::Information,
                            notification.milliseconds);
        m_balloonShown = true;
        ++m_balloonSerial;
        m_balloonTimer.start(notification.milliseconds);
        // Where Qt draws the balloon itself (X11), it is a top-level widget.
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->inherits("QBalloonTip") && window->isVisible()) {
                WatchBalloon(window);
            }
        }
    } else if (m_desktop != nullptr) {
        // Should the service fail, the box counts the ones this one replaced.
        m_desktop->Notify(platform::FromCp1250(notification.title),
                          platform::FromCp1250(notification.text), notification.milliseconds,
                          [frame = QPointer<CMainFrame>(this), notification,
                           replaced = std::exchange(m_superseded, 0)] {
                              if (frame) {
                                  frame->m_superseded += replaced;
                                  frame->PresentBox(notification);
                              }
                          });
    } else {
        PresentBox(notification);
    }
}

void CMainFrame::PresentBox(const Notification& notification) {
    // The ones that a newer one replaced while they waited are missed too.
    m_noteBoxes.Miss(static_cast<uint64_t>(std::exchange(m_superseded, 0)));
    m_noteBoxes.ShowMessage(notification.title, notification.text, BoxIcon::Information);
}

void CMainFrame::OnUpdateStatusPane(bool networkUnreachable) {
    // The message pane's idle text says when announcements no longer leave; a
    // prompt on show stays until the pointer leaves its item.
    if (networkUnreachable != m_networkUnreachable) {
        const QString previous = IdleText();
        m_networkUnreachable = networkUnreachable;
        if (m_messagePane->text() == previous) {
            m_messagePane->setText(IdleText());
        }
    }

    const std::string status = StatusShortText(m_state.OwnStatus(), *this);
    const QString text = platform::FromCp1250(status);
    if (m_statusPane->text() != text) {
        m_statusPane->setText(text);
    }
    SetTrayToolTip(TrayToolTip(status));
}

QString CMainFrame::IdleText() const {
    return Utf8String(m_networkUnreachable ? res::kStrNetworkUnreachable : res::kStrIdlePrompt);
}

void CMainFrame::OnAppExit() {
    m_exiting = true;
    if (isEnabled() && QApplication::activeModalWidget() == nullptr) {
        RunExitCommand();
    }
}

void CMainFrame::RunExitCommand() {
    if (std::exchange(m_exitCommandRun, true)) {
        return;
    }
    m_noteBoxes.Close();
    Q_EMIT ExitRequested();
}

int CMainFrame::AlphaForPercent(int32_t transpareny) {
    const int percent = std::min(static_cast<int>(static_cast<uint32_t>(transpareny) & 0xFFu), 100);
    return percent * 255 / 100;
}

void CMainFrame::ApplyTransparency() {
    const int32_t transpareny = m_state.Read([](const SettingsRecord& s) { return s.transpareny; });
    setWindowOpacity(AlphaForPercent(transpareny) / 255.0);
}

void CMainFrame::ApplyTopMost() {
    const bool topMost = m_state.Read([](const SettingsRecord& s) { return s.topMost; });
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topMost) {
        return;
    }
    // Changing a window flag hides the window; show it again where it was,
    // without taking the focus.
    const bool wasVisible = isVisible();
    const QPoint position = pos();
    const bool noActivate = testAttribute(Qt::WA_ShowWithoutActivating);
    setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    if (wasVisible) {
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        move(position);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, noActivate);
    }
}

void CMainFrame::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    // A press on the icon, not on the balloon.
    m_balloonClickPending = false;
    if (reason == QSystemTrayIcon::Trigger) {
        ShowFromTray();
    }
}

void CMainFrame::ShowFromTray() {
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::OnBalloonClicked() {
    if (!m_balloonShown || m_balloonClickPending) {
        return;
    }
    m_balloonClickPending = true;
    QTimer::singleShot(0, this, [this] {
        if (std::exchange(m_balloonClickPending, false)) {
            OpenNotified();
        }
    });
}

void CMainFrame::OnDesktopNotificationClicked() {
    OpenNotified();
}

void CMainFrame::OpenNotified() {
    const bool openOnClick =
        m_state.Read([](const SettingsRecord& s) { return s.openOnClickTooTip; });
    if (openOnClick) {
        Q_EMIT OpenNotifiedRequested();
    }
}

void CMainFrame::WatchBalloon(QWidget* balloon) {
    if (balloon != nullptr && balloon != m_balloon) {
        m_balloon = balloon;
        balloon->installEventFilter(this);
    }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_balloon && event->type() == QEvent::Hide) {
        // A click closes the balloon before Qt reports the click: the
        // balloon counts until that report is through. One hidden before its
        // time counts until then.
        m_balloon = nullptr;
        QTimer::singleShot(0, this, [this, serial = m_balloonSerial] {
            if (serial == m_balloonSerial && m_balloon == nullptr && !m_balloonTimer.isActive()) {
                m_balloonShown = false;
            }
        });
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_exiting) {
        RemoveTrayIcon();
        event->accept();
        // "Konec" chosen while a modal dialog held the window: this close ends the program.
        if (!m_exitCommandRun) {
            QTimer::singleShot(0, this, [this] { RunExitCommand(); });
        }
        return;
    }
    event->ignore();
    if (m_trayAvailable) {
        hide();
    } else {
        showMinimized();
    }
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_trayAvailable &&
        (windowState() & Qt::WindowMinimized) != 0) {
        // Minimised with a tray: off the screen and the task bar; the icon brings
        // it back. Hidden once the state change is through.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                hide();
            }
        });
    }
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        m_messagePane->setText(tip.isEmpty() ? IdleText() : tip);
        return true;
    }
    return QMainWindow::event(event);
}
