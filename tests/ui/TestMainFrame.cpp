// tests/ui/TestMainFrame.cpp
#include <QDialog>
#include <QEnterEvent>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Fakes.h"
#include "core/res/Cp1250.h"
#include "ui/RecordingBoxes.h"
#include "widgets/adapters/TextCodec.h"
#include "widgets/desktop/DesktopNotifications.h"
#include "widgets/frame/MainFrame.h"

namespace {

// A code page 1250 text of the given length with Czech letters throughout.
std::string CzechText(std::size_t bytes) {
    const std::string sentence = cp1250::FromUtf8("Žluťoučký kůň úpěl ďábelské ódy. ");
    std::string text;
    while (text.size() < bytes) {
        text += sentence;
    }
    text.resize(bytes);
    return text;
}

// A notification whose cut fields differ from the whole ones, so each use
// shows which of them it took.
Notification Note(const std::string& text) {
    Notification n;
    n.peer = 2;
    n.enabled = true;
    n.title = cp1250::FromUtf8("Murmex3 - Neruš, celý titulek");
    n.text = text;
    n.toolTip = cp1250::FromUtf8("Murmex3 - Neruš, tip");
    n.balloonTitle = cp1250::FromUtf8("Murmex3 - Neruš");
    n.balloonText = text.substr(0, 255);
    n.milliseconds = 3000;
    return n;
}

// Records what would go to the desktop's notification service.
class FakeDesktop final : public platform::DesktopNotifications {
public:
    struct Call {
        QString title;
        QString text;
        int milliseconds;
    };
    void Notify(const QString& title, const QString& text, int milliseconds,
                std::function<void()> failed) override {
        calls.push_back({title, text, milliseconds});
        fail = std::move(failed);
    }
    std::vector<Call> calls;
    std::function<void()> fail;
};

}  // namespace

class TestMainFrame : public QObject {
    Q_OBJECT

private:
    void Make(bool trayAvailable);
    template <class F>
    void Set(F&& change) {
        m_state.Modify(std::forward<F>(change));
    }
    QAction* Action(const char* name) const {
        return m_frame->findChild<QAction*>(QString::fromLatin1(name));
    }
    QLabel* Pane(const char* name) const {
        return m_frame->findChild<QLabel*>(QString::fromLatin1(name));
    }
    // The balloon's time runs out.
    void EndBalloonTime() {
        m_frame->BalloonTimer().stop();
        QVERIFY(QMetaObject::invokeMethod(&m_frame->BalloonTimer(), "timeout"));
    }
    // A box's text with the line that tells how many were missed.
    static std::string Missed(const std::string& text, int count) {
        return text + cp1250::FromUtf8("\r\n\r\nNezobrazených upozornění mezitím: ") +
               std::to_string(count);
    }
    // The gap after a shown notification runs out.
    void EndGap() {
        m_frame->NotificationTimer().stop();
        QVERIFY(QMetaObject::invokeMethod(&m_frame->NotificationTimer(), "timeout"));
    }

    AppState m_state;
    FakeClock m_clock;
    RecordingBoxes m_presenter;
    std::vector<std::string> m_calls;
    std::unique_ptr<CMainFrame> m_frame;

private Q_SLOTS:
    void init();
    void cleanup();

    void menusHaveTextsPromptsAndTips();
    void menuAndToolCommandsReachTheApplication();
    void toolBarOrderLayoutAndAccessibility();
    void toolBarIconsHaveTransparentBackgrounds();
    void barTogglesShowAndHideTheBars();
    void messagePaneShowsIdleTextAndPrompts();
    void messagePaneSaysWhenTheNetworkIsUnreachable();
    void statusPaneAndTrayTipFollowOwnStatus();
    void windowHasNoMinMaxAndStartsSmall();
    void startWidthFitsTheMenuBar();
    void alphaForPercentClampsAndKeepsLowByte();
    void transparencyAndTopMostApplySettings();
    void closeAndMinimiseHideWithTray();
    void closeMinimisesWithoutTray();
    void exitRunsTheOrderlyEndOnce();
    void exitWhileDisabledEndsOnTheNextClose();
    void balloonShowsTheGivenTitleTextAndTime();
    void notificationsComeOncePerGapAndTheNewestWaits();
    void notificationsOffShowNothingButRefreshTip();
    void balloonClickOpensConversationOnlyWhileShown();
    void aPressOnTheIconWhileABalloonShowsOpensNoConversation();
    void aBalloonOnTheScreenStaysClickablePastItsTime();
    void aTrayThatComesAndGoesIsFollowed();
    void trayMenuHasTheStatusesTheWindowTheSettingsAndTheEnd();
    void withoutATrayTheDesktopShowsNotifications();
    void noTrayFallsBackToOneMessageBoxAtATime();
};

void TestMainFrame::Make(bool trayAvailable) {
    m_frame.reset();
    m_frame = std::make_unique<CMainFrame>(m_state, m_presenter, m_clock, trayAvailable);
    const auto record = [this](const char* name) {
        return [this, name] { m_calls.emplace_back(name); };
    };
    CMainFrame* frame = m_frame.get();
    connect(frame, &CMainFrame::AboutRequested, this, record("about"));
    connect(frame, &CMainFrame::SettingsRequested, this, record("settings"));
    connect(frame, &CMainFrame::StatusChosen, this, [this](int status) {
        const std::map<int, std::string> names{
            {Ready, "ready"}, {DoNotDisturb, "dnd"}, {Away, "away"}, {AtLunch, "lunch"}};
        m_calls.push_back(names.at(status));
    });
    connect(frame, &CMainFrame::OpenNotifiedRequested, this, record("open"));
    connect(frame, &CMainFrame::ExitRequested, this, record("exit"));
}

void TestMainFrame::init() {
    m_state.SetSettings(SettingsRecord{});
    m_clock.Set(1'000'000);
    m_state.SetOwnStatus(Ready);
    m_presenter.messages.clear();
    m_presenter.whileOpen = nullptr;
    m_calls.clear();
    Make(true);
}

void TestMainFrame::cleanup() {
    m_frame.reset();
}

void TestMainFrame::menusHaveTextsPromptsAndTips() {
    struct Item {
        const char* name;
        QString text;
        QString statusTip;
        QString toolTip;
    };
    const std::vector<std::pair<QString, std::vector<Item>>> expected = {
        {"&Soubor", {{"actionExit", "&Konec", "Konec programu.", ""}}},
        {"&Stav",
         {{"actionReady", "&Připraven", "Připraven komunikovat.", "Připraven komunikovat."},
          {"actionDoNotDisturb", "Ne&rušit", "Prosím nerušit.", "Prosím nerušit."},
          {"actionAway", "&Pryč", "Mimo pracoviště.", "Mimo pracoviště."},
          {"actionAtLunch", "Na &obědě", "Teď obědvám.", "Obědvám."}}},
        {"&Zobrazit",
         {{"actionSettings", "&Nastavení", "Nastavit parametry.", "Nastavení paremtrů."},
          {nullptr, "", "", ""},
          {"actionToolBar", "&Toolbar", "Ukázat/skrýt toolbar.", "Ukaž ToolBar"},
          {"actionStatusBar", "Status &Bar", "Ukázat/skrýt status bar", "Ukaž StatusBar"}}},
        {"&Pomoc", {{"actionAbout", "&O Murmex3", "Nápověda.", "Nápověda."}}},
    };

    const QList<QAction*> menus = m_frame->menuBar()->actions();
    QCOMPARE(menus.size(), qsizetype(expected.size()));
    for (std::size_t m = 0; m < expected.size(); ++m) {
        QAction* menuAction = menus[qsizetype(m)];
        QCOMPARE(menuAction->text(), expected[m].first);
        QVERIFY(menuAction->menu() != nullptr);
        const QList<QAction*> items = menuAction->menu()->actions();
        QCOMPARE(items.size(), qsizetype(expected[m].second.size()));
        for (std::size_t i = 0; i < expected[m].second.size(); ++i) {
            const Item& want = expected[m].second[i];
            QAction* item = items[qsizetype(i)];
            if (want.name == nullptr) {
                QVERIFY(item->isSeparator());
                continue;
            }
            QCOMPARE(item->objectName(), QString::fromLatin1(want.name));
            QCOMPARE(item->text(), want.text);
            QCOMPARE(item->statusTip(), want.statusTip);
            if (!want.toolTip.isEmpty()) {
                QCOMPARE(item->toolTip(), want.toolTip);
            } else {
                // No second line: no tool tip of its own, never the prompt.
                QVERIFY(item->toolTip() != want.statusTip);
            }
        }
    }
    QVERIFY(Action("actionToolBar")->isCheckable());
    QVERIFY(Action("actionStatusBar")->isCheckable());
    QVERIFY(!Action("actionReady")->isCheckable());
}

void TestMainFrame::menuAndToolCommandsReachTheApplication() {
    Action("actionReady")->trigger();
    Action("actionDoNotDisturb")->trigger();
    Action("actionAway")->trigger();
    Action("actionAtLunch")->trigger();
    Action("actionSettings")->trigger();
    Action("actionAbout")->trigger();
    QCOMPARE(m_calls,
             (std::vector<std::string>{"ready", "dnd", "away", "lunch", "settings", "about"}));

    m_calls.clear();
    auto* toolBar = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    auto* lunch = qobject_cast<QToolButton*>(toolBar->widgetForAction(Action("actionAtLunch")));
    QVERIFY(lunch != nullptr);
    QTest::mouseClick(lunch, Qt::LeftButton);
    QCOMPARE(m_calls, (std::vector<std::string>{"lunch"}));
}

void TestMainFrame::toolBarOrderLayoutAndAccessibility() {
    auto* toolBar = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QVERIFY(toolBar != nullptr);
    const QList<QAction*> actions = toolBar->actions();
    const std::vector<const char*> order = {
        "actionSettings", nullptr,      "actionReady", "actionDoNotDisturb",
        "actionAtLunch",  "actionAway", nullptr,       "actionAbout"};
    QCOMPARE(actions.size(), qsizetype(order.size()));
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == nullptr) {
            QVERIFY(actions[qsizetype(i)]->isSeparator());
        } else {
            QCOMPARE(actions[qsizetype(i)], Action(order[i]));
            QVERIFY(!actions[qsizetype(i)]->icon().pixmap(16, 16).isNull());
        }
    }
    QVERIFY(toolBar->isMovable());
    QVERIFY(toolBar->isFloatable());
    QCOMPARE(toolBar->iconSize(), QSize(16, 16));
    QCOMPARE(m_frame->toolBarArea(toolBar), Qt::TopToolBarArea);

    QCOMPARE(toolBar->widgetForAction(Action("actionDoNotDisturb"))->accessibleName(),
             QStringLiteral("Nerušit"));
    QCOMPARE(toolBar->widgetForAction(Action("actionAtLunch"))->accessibleName(),
             QStringLiteral("Na obědě"));
    QCOMPARE(toolBar->widgetForAction(Action("actionAbout"))->accessibleName(),
             QStringLiteral("O Murmex3"));
    QVERIFY(!Pane("messagePane")->accessibleName().isEmpty());
    QVERIFY(!Pane("statusPane")->accessibleName().isEmpty());

    // The saved bar layout comes back in a new frame.
    m_frame->show();
    m_frame->addToolBar(Qt::LeftToolBarArea, toolBar);
    const QByteArray layout = m_frame->saveState();
    Make(true);
    auto* fresh = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QCOMPARE(m_frame->toolBarArea(fresh), Qt::TopToolBarArea);
    QVERIFY(m_frame->restoreState(layout));
    QCOMPARE(m_frame->toolBarArea(fresh), Qt::LeftToolBarArea);
}

// The icons sit on whatever the tool bar's style paints, a dark theme's too:
// only the round button is drawn.
void TestMainFrame::toolBarIconsHaveTransparentBackgrounds() {
    auto* toolBar = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QVERIFY(toolBar != nullptr);
    int drawn = 0;
    for (QAction* action : toolBar->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        const QImage image = action->icon().pixmap(QSize(16, 16), 1.0).toImage();
        QCOMPARE(image.size(), QSize(16, 16));
        QCOMPARE(qAlpha(image.pixel(8, 8)), 255);
        for (const QPoint corner : {QPoint(0, 0), QPoint(15, 0), QPoint(0, 15), QPoint(15, 15)}) {
            QCOMPARE(qAlpha(image.pixel(corner)), 0);
        }
        ++drawn;
    }
    QCOMPARE(drawn, 6);
}

void TestMainFrame::barTogglesShowAndHideTheBars() {
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    auto* toolBar = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QAction* toolBarToggle = Action("actionToolBar");
    QAction* statusBarToggle = Action("actionStatusBar");
    QVERIFY(toolBarToggle->isChecked());
    QVERIFY(statusBarToggle->isChecked());

    toolBarToggle->trigger();
    QVERIFY(toolBar->isHidden());
    QVERIFY(!toolBarToggle->isChecked());
    toolBarToggle->trigger();
    QVERIFY(!toolBar->isHidden());

    statusBarToggle->trigger();
    QVERIFY(m_frame->statusBar()->isHidden());
    QVERIFY(!statusBarToggle->isChecked());
    statusBarToggle->trigger();
    QVERIFY(!m_frame->statusBar()->isHidden());

    // A bar hidden by other means (a restored layout) shows no check mark.
    toolBar->hide();
    QVERIFY(!toolBarToggle->isChecked());
}

void TestMainFrame::messagePaneShowsIdleTextAndPrompts() {
    QLabel* pane = Pane("messagePane");
    QVERIFY(pane != nullptr);
    QCOMPARE(pane->text(), QStringLiteral("Připraven."));

    QStatusTipEvent tip(QStringLiteral("Mimo pracoviště."));
    QCoreApplication::sendEvent(m_frame.get(), &tip);
    QCOMPARE(pane->text(), QStringLiteral("Mimo pracoviště."));
    QStatusTipEvent none{QString()};
    QCoreApplication::sendEvent(m_frame.get(), &none);
    QCOMPARE(pane->text(), QStringLiteral("Připraven."));

    // Hovering a tool button shows its prompt; leaving it, the idle text.
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    auto* toolBar = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QWidget* settings = toolBar->widgetForAction(Action("actionSettings"));
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), settings->mapToGlobal(QPointF(2, 2)));
    QCoreApplication::sendEvent(settings, &enter);
    QCOMPARE(pane->text(), QStringLiteral("Nastavit parametry."));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(settings, &leave);
    QCOMPARE(pane->text(), QStringLiteral("Připraven."));

    // So does a highlighted menu item.
    QMenu* status = m_frame->findChild<QMenu*>(QStringLiteral("menuStatus"));
    QVERIFY(status != nullptr);
    m_frame->menuBar()->setActiveAction(status->menuAction());
    QTRY_VERIFY(status->isVisible());
    status->setActiveAction(Action("actionAtLunch"));
    QCOMPARE(pane->text(), QStringLiteral("Teď obědvám."));
    status->hide();
}

void TestMainFrame::messagePaneSaysWhenTheNetworkIsUnreachable() {
    QLabel* pane = Pane("messagePane");
    const QString idle = QStringLiteral("Připraven.");
    const QString unreachable = QStringLiteral("Síť je nedostupná");

    m_frame->OnUpdateStatusPane(false);
    QCOMPARE(pane->text(), idle);
    m_frame->OnUpdateStatusPane(true);
    QCOMPARE(pane->text(), unreachable);

    // A prompt still shows over it, and leaving gives it back.
    QStatusTipEvent tip(QStringLiteral("Mimo pracoviště."));
    QCoreApplication::sendEvent(m_frame.get(), &tip);
    m_frame->OnUpdateStatusPane(true);
    QCOMPARE(pane->text(), QStringLiteral("Mimo pracoviště."));
    QStatusTipEvent none{QString()};
    QCoreApplication::sendEvent(m_frame.get(), &none);
    QCOMPARE(pane->text(), unreachable);

    // Reachable again, and the pane is idle again.
    m_frame->OnUpdateStatusPane(false);
    QCOMPARE(pane->text(), idle);
    QVERIFY(m_presenter.messages.empty());
}

void TestMainFrame::statusPaneAndTrayTipFollowOwnStatus() {
    QLabel* pane = Pane("statusPane");
    QVERIFY(pane != nullptr);
    QSystemTrayIcon* tray = m_frame->TrayIcon();
    QVERIFY(tray != nullptr);
    QCOMPARE(pane->text(), QStringLiteral("Neznámý"));
    QCOMPARE(tray->toolTip(), QStringLiteral("Murmex3 - "));
    QVERIFY(!tray->icon().pixmap(16, 16).isNull());

    m_frame->OnUpdateStatusPane(false);
    QCOMPARE(pane->text(), QStringLiteral("OK"));
    QCOMPARE(tray->toolTip(), QStringLiteral("Murmex3 - OK"));

    m_state.OnStatusAway();
    QCOMPARE(pane->text(), QStringLiteral("OK"));  // only at the next update
    m_frame->OnUpdateStatusPane(false);
    QCOMPARE(pane->text(), QStringLiteral("Pryč"));
    QCOMPARE(tray->toolTip(), QStringLiteral("Murmex3 - Pryč"));

    m_state.OnStatusAtLunch();
    m_frame->OnUpdateStatusPane(false);
    QCOMPARE(pane->text(), QStringLiteral("Jím"));
    QVERIFY(m_presenter.messages.empty());

    // A status out of range: the trace box and an empty text.
    m_state.SetOwnStatus(9);
    m_frame->OnUpdateStatusPane(false);
    QCOMPARE(pane->text(), QString());
    QCOMPARE(tray->toolTip(), QStringLiteral("Murmex3 - "));
    QCOMPARE(m_presenter.messages.size(), std::size_t(1));
    QCOMPARE(m_presenter.messages[0].icon, BoxIcon::Exclamation);
}

void TestMainFrame::windowHasNoMinMaxAndStartsSmall() {
    const Qt::WindowFlags flags = m_frame->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(m_frame->height(), 380);
    QCOMPARE(m_frame->objectName(), QStringLiteral("mainFrame"));
    QVERIFY(!m_frame->windowIcon().pixmap(32, 32).isNull());
    QVERIFY(!m_frame->isVisible());
}

void TestMainFrame::alphaForPercentClampsAndKeepsLowByte() {
    const std::vector<std::pair<int32_t, int>> cases = {
        {50, 127},  {10, 25}, {90, 229}, {100, 255}, {150, 255},
        {300, 112}, {0, 0},   {-1, 255}, {256, 0},   {356, 255},
    };
    for (const auto& [percent, alpha] : cases) {
        QCOMPARE(CMainFrame::AlphaForPercent(percent), alpha);
    }
}

void TestMainFrame::transparencyAndTopMostApplySettings() {
    m_frame->ApplyTransparency();
    QVERIFY(qFuzzyCompare(m_frame->windowOpacity(), 127.0 / 255.0));
    Set([](SettingsRecord& s) { s.transpareny = 300; });
    m_frame->ApplyTransparency();
    QVERIFY(qFuzzyCompare(m_frame->windowOpacity(), 112.0 / 255.0));
    Set([](SettingsRecord& s) { s.transpareny = 100; });
    m_frame->ApplyTransparency();
    QVERIFY(qFuzzyCompare(m_frame->windowOpacity(), 1.0));

    // Hidden stays hidden, shown stays shown.
    Set([](SettingsRecord& s) { s.topMost = true; });
    m_frame->ApplyTopMost();
    QVERIFY(m_frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!m_frame->isVisible());
    m_frame->show();
    Set([](SettingsRecord& s) { s.topMost = false; });
    m_frame->ApplyTopMost();
    QVERIFY(!m_frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_frame->isVisible());
    Set([](SettingsRecord& s) { s.topMost = true; });
    m_frame->ApplyTopMost();
    QVERIFY(m_frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_frame->isVisible());
    QVERIFY(!m_frame->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
}

// 215 pixels wide where the menu bar fits, else as wide as it needs: no menu
// hides behind the bar's overflow button.
void TestMainFrame::startWidthFitsTheMenuBar() {
    const QFont system = QApplication::font();
    for (const int pixels : {8, 20}) {
        QFont font = system;
        font.setPixelSize(pixels);
        QApplication::setFont(font);
        Make(true);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QMenuBar* bar = m_frame->menuBar();
        const QRect help = bar->actionGeometry(
            m_frame->findChild<QMenu*>(QStringLiteral("menuHelp"))->menuAction());
        QVERIFY(!help.isEmpty());
        QVERIFY2(help.right() < bar->width(), qPrintable(QString::number(bar->width())));
        auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_menubar_ext_button"));
        QVERIFY(more == nullptr || more->isHidden());
        if (pixels == 8) {
            QCOMPARE(m_frame->width(), 215);
        } else {
            QVERIFY(m_frame->width() > 215);
        }
    }
    QApplication::setFont(system);
}

void TestMainFrame::closeAndMinimiseHideWithTray() {
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    QVERIFY(!m_frame->close());
    QVERIFY(!m_frame->isVisible());
    QVERIFY(m_calls.empty());

    // The icon's click brings it back in its normal size; other clicks do nothing.
    Q_EMIT m_frame->TrayIcon()->activated(QSystemTrayIcon::Context);
    QVERIFY(!m_frame->isVisible());
    Q_EMIT m_frame->TrayIcon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(m_frame->isVisible());
    QVERIFY(!m_frame->isMinimized());

    const QSize size = m_frame->size();
    m_frame->showMinimized();
    QTRY_VERIFY(!m_frame->isVisible());
    m_frame->OnTrayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(m_frame->isVisible());
    QVERIFY(!m_frame->isMinimized());
    QCOMPARE(m_frame->size(), size);
    QVERIFY(m_calls.empty());
    QVERIFY(!m_frame->Exiting());
}

void TestMainFrame::closeMinimisesWithoutTray() {
    Make(false);
    QVERIFY(!m_frame->TrayAvailable());
    QVERIFY(m_frame->TrayIcon() == nullptr);
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    QVERIFY(!m_frame->close());
    QVERIFY(m_frame->isMinimized());
    QCoreApplication::processEvents();
    QVERIFY(m_frame->isVisible());  // still in the task bar
    QVERIFY(m_calls.empty());

    m_frame->showNormal();
    m_frame->showMinimized();
    QCoreApplication::processEvents();
    QVERIFY(m_frame->isVisible());
    QVERIFY(m_frame->isMinimized());
}

void TestMainFrame::exitRunsTheOrderlyEndOnce() {
    m_frame->show();
    QSystemTrayIcon* tray = m_frame->TrayIcon();
    tray->show();
    Action("actionExit")->trigger();
    QVERIFY(m_frame->Exiting());
    QCOMPARE(m_calls, (std::vector<std::string>{"exit"}));

    // The application's end then closes the frame: accepted, and the icon goes.
    QVERIFY(m_frame->close());
    QVERIFY(!m_frame->isVisible());
    QVERIFY(!tray->isVisible());
    QCoreApplication::processEvents();
    QCOMPARE(m_calls, (std::vector<std::string>{"exit"}));

    tray->show();
    m_frame->RemoveTrayIcon();
    QVERIFY(!tray->isVisible());
}

void TestMainFrame::exitWhileDisabledEndsOnTheNextClose() {
    m_frame->show();
    m_frame->setEnabled(false);
    m_frame->OnAppExit();
    QVERIFY(m_frame->Exiting());
    QVERIFY(m_calls.empty());

    m_frame->setEnabled(true);
    QVERIFY(m_frame->close());
    QVERIFY(!m_frame->TrayIcon()->isVisible());
    QTRY_COMPARE(m_calls, (std::vector<std::string>{"exit"}));
    m_frame->OnAppExit();
    QCOMPARE(m_calls, (std::vector<std::string>{"exit"}));
}

void TestMainFrame::balloonShowsTheGivenTitleTextAndTime() {
    const std::string text = CzechText(300);
    m_frame->Show(Note(text));
    const CMainFrame::Balloon& balloon = m_frame->LastBalloon();
    QCOMPARE(balloon.title, QStringLiteral("Murmex3 - Neruš"));
    QCOMPARE(balloon.text.size(), qsizetype(255));
    QCOMPARE(balloon.text, platform::FromCp1250(text.substr(0, 255)));
    QVERIFY(balloon.text.contains(QStringLiteral("Žluťoučký kůň")));
    QCOMPARE(balloon.milliseconds, 3000);
    QVERIFY(m_frame->BalloonShown());
    QCOMPARE(m_frame->BalloonTimer().interval(), 3000);
    QVERIFY(m_frame->BalloonTimer().isActive());
    QCOMPARE(m_frame->TrayIcon()->toolTip(), QStringLiteral("Murmex3 - Neruš, tip"));
    QVERIFY(m_presenter.messages.empty());

    Notification next = Note(cp1250::FromUtf8("Jana je ve stavu : Pryč"));
    next.milliseconds = 15000;
    EndGap();
    m_frame->Show(next);
    QCOMPARE(m_frame->LastBalloon().text, QStringLiteral("Jana je ve stavu : Pryč"));
    QCOMPARE(m_frame->LastBalloon().milliseconds, 15000);
    QCOMPARE(m_frame->BalloonTimer().interval(), 15000);
}

// A flood of notifications shows one per gap: the first at once, then the
// newest of those that came meanwhile; the tip follows each at once.
void TestMainFrame::notificationsComeOncePerGapAndTheNewestWaits() {
    QCOMPARE(m_frame->NotificationTimer().interval(), 250);
    m_frame->Show(Note("Petr"));
    QCOMPARE(m_frame->LastBalloon().text, QStringLiteral("Petr"));
    QVERIFY(m_frame->NotificationTimer().isActive());
    Notification second = Note("Jana");
    second.toolTip = "Murmex3 - Pryč";
    m_frame->Show(second);
    m_frame->Show(Note("Eva"));
    QCOMPARE(m_frame->LastBalloon().text, QStringLiteral("Petr"));
    Notification off = Note("Karel");
    off.enabled = false;
    off.toolTip = "Murmex3 - OK";
    m_frame->Show(off);  // only the tip; Eva still waits
    QCOMPARE(m_frame->TrayIcon()->toolTip(), QStringLiteral("Murmex3 - OK"));
    EndGap();
    QCOMPARE(m_frame->LastBalloon().text, QStringLiteral("Eva"));
    QVERIFY(m_frame->NotificationTimer().isActive());  // a new gap
    EndGap();
    QCOMPARE(m_frame->LastBalloon().text, QStringLiteral("Eva"));
    QVERIFY(!m_frame->NotificationTimer().isActive());

    // Without a tray the boxes come the same way: the middle one never shows.
    Make(false);
    m_frame->Show(Note("Petr"));
    m_frame->Show(Note("Jana"));
    m_frame->Show(Note("Eva"));
    QCoreApplication::processEvents();  // a box opens once the caller has returned
    m_clock.Advance(CMainFrame::kBoxQuietSeconds);
    EndGap();
    QCoreApplication::processEvents();
    EndGap();
    QCOMPARE(m_presenter.messages.size(), std::size_t(2));
    QCOMPARE(m_presenter.messages[0].text, std::string("Petr"));
    QCOMPARE(m_presenter.messages[1].text, Missed("Eva", 1));

    // The exit drops what waits.
    m_clock.Advance(CMainFrame::kBoxQuietSeconds);
    m_frame->Show(Note("Jana"));
    m_frame->Show(Note("Karel"));
    m_frame->RemoveTrayIcon();
    EndGap();
    QCoreApplication::processEvents();
    QCOMPARE(m_presenter.messages.size(), std::size_t(3));
    QCOMPARE(m_presenter.messages[2].text, std::string("Jana"));
}

void TestMainFrame::notificationsOffShowNothingButRefreshTip() {
    Notification off = Note("Petr");
    off.enabled = false;
    m_frame->Show(off);
    QCOMPARE(m_frame->LastBalloon().milliseconds, 0);
    QVERIFY(m_frame->LastBalloon().text.isEmpty());
    QVERIFY(!m_frame->BalloonShown());
    QVERIFY(!m_frame->BalloonTimer().isActive());
    QCOMPARE(m_frame->TrayIcon()->toolTip(), QStringLiteral("Murmex3 - Neruš, tip"));

    Make(false);
    m_frame->Show(off);
    QCoreApplication::processEvents();
    QVERIFY(m_presenter.messages.empty());
}

void TestMainFrame::balloonClickOpensConversationOnlyWhileShown() {
    const auto click = [this] {
        Q_EMIT m_frame->TrayIcon()->messageClicked();
        QCoreApplication::processEvents();
    };
    // No balloon yet: a click does nothing.
    click();
    QVERIFY(m_calls.empty());

    m_frame->Show(Note("Petr"));
    click();
    QCOMPARE(m_calls, (std::vector<std::string>{"open"}));
    // A click leaves the balloon shown.
    click();
    QCOMPARE(m_calls, (std::vector<std::string>{"open", "open"}));

    Set([](SettingsRecord& s) { s.openOnClickTooTip = false; });
    click();
    QCOMPARE(m_calls.size(), std::size_t(2));
    Set([](SettingsRecord& s) { s.openOnClickTooTip = true; });

    // The balloon's time runs out.
    QVERIFY(QMetaObject::invokeMethod(&m_frame->BalloonTimer(), "timeout"));
    QVERIFY(!m_frame->BalloonShown());
    click();
    QCOMPARE(m_calls.size(), std::size_t(2));

    // The next balloon makes clicks count again.
    EndGap();
    m_frame->Show(Note("Jana"));
    click();
    QCOMPARE(m_calls.size(), std::size_t(3));
}

// Qt's X11 tray reports a press on the icon while a balloon shows as a
// balloon click, then as the icon's activation: only the balloon opens.
void TestMainFrame::aPressOnTheIconWhileABalloonShowsOpensNoConversation() {
    QSystemTrayIcon* tray = m_frame->TrayIcon();
    m_frame->Show(Note("Petr"));
    Q_EMIT tray->messageClicked();
    Q_EMIT tray->activated(QSystemTrayIcon::Context);
    QCoreApplication::processEvents();
    QVERIFY(m_calls.empty());
    QVERIFY(!m_frame->isVisible());

    Q_EMIT tray->messageClicked();
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    QCoreApplication::processEvents();
    QVERIFY(m_calls.empty());
    QVERIFY(m_frame->isVisible());

    Q_EMIT tray->messageClicked();
    QCoreApplication::processEvents();
    QCOMPARE(m_calls, (std::vector<std::string>{"open"}));
}

// A balloon that the mouse keeps on the screen past its time stays
// clickable until it goes.
void TestMainFrame::aBalloonOnTheScreenStaysClickablePastItsTime() {
    m_frame->Show(Note("Petr"));
    QWidget balloon(nullptr, Qt::ToolTip);
    balloon.show();
    m_frame->WatchBalloon(&balloon);
    EndBalloonTime();
    QVERIFY(m_frame->BalloonShown());
    m_frame->OnBalloonClicked();
    QCoreApplication::processEvents();
    QCOMPARE(m_calls, (std::vector<std::string>{"open"}));

    // Qt closes the balloon before it reports the click on it.
    balloon.hide();
    m_frame->OnBalloonClicked();
    QCoreApplication::processEvents();
    QCOMPARE(m_calls.size(), std::size_t(2));
    QVERIFY(!m_frame->BalloonShown());
    m_frame->OnBalloonClicked();
    QCoreApplication::processEvents();
    QCOMPARE(m_calls.size(), std::size_t(2));

    // Hidden by a click within its time, it counts until the time is over.
    EndGap();
    m_frame->Show(Note("Jana"));
    balloon.show();
    m_frame->WatchBalloon(&balloon);
    balloon.hide();
    QCoreApplication::processEvents();
    QVERIFY(m_frame->BalloonShown());
    EndBalloonTime();
    QVERIFY(!m_frame->BalloonShown());
}

// A tray that appears is used; when it goes the window comes back.
void TestMainFrame::aTrayThatComesAndGoesIsFollowed() {
    Make(false);
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    m_frame->SetTrayAvailable(true);
    QVERIFY(m_frame->TrayAvailable());
    QVERIFY(m_frame->TrayIcon() != nullptr);
    QVERIFY(m_frame->TrayIcon()->contextMenu() == m_frame->TrayMenu());
    QVERIFY(m_frame->isVisible());
    QVERIFY(!m_frame->close());
    QVERIFY(!m_frame->isVisible());
    m_frame->Show(Note("Petr"));
    QCOMPARE(m_frame->LastBalloon().text, QStringLiteral("Petr"));
    QVERIFY(m_frame->BalloonShown());

    m_frame->SetTrayAvailable(false);
    QVERIFY(m_frame->isVisible());
    QVERIFY(!m_frame->BalloonShown());
    QVERIFY(!m_frame->close());
    QVERIFY(m_frame->isMinimized());
    EndGap();
    m_frame->Show(Note("Jana"));
    QCoreApplication::processEvents();
    QCOMPARE(m_presenter.messages.size(), std::size_t(1));
    QCOMPARE(m_presenter.messages[0].text, std::string("Jana"));
    QCOMPARE(m_frame->LastBalloon().text, QStringLiteral("Petr"));

    // Once the exit took the icon, a tray that comes or goes shows nothing.
    m_frame->RemoveTrayIcon();
    m_frame->hide();
    m_frame->SetTrayAvailable(true);
    QVERIFY(m_frame->TrayIcon() == nullptr || !m_frame->TrayIcon()->isVisible());
    m_frame->SetTrayAvailable(false);
    QVERIFY(!m_frame->isVisible());
}

// The tray's menu: the statuses with the current one checked, the window,
// the settings and the end, which needs no window.
void TestMainFrame::trayMenuHasTheStatusesTheWindowTheSettingsAndTheEnd() {
    QMenu* menu = m_frame->TrayMenu();
    QVERIFY(menu != nullptr);
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    QCOMPARE(texts, (QStringList{"&Připraven", "Ne&rušit", "&Pryč", "Na &obědě", "-", "&Zobrazit",
                                 "&Nastavení…", "-", "&Konec"}));
    const auto item = [menu](const char* name) {
        return menu->findChild<QAction*>(QString::fromLatin1(name));
    };
    m_state.SetOwnStatus(Away);
    Q_EMIT menu->aboutToShow();
    QVERIFY(item("trayAway")->isChecked());
    QVERIFY(!item("trayReady")->isChecked());
    m_state.SetOwnStatus(AtLunch);
    Q_EMIT menu->aboutToShow();
    QVERIFY(item("trayAtLunch")->isChecked());
    QVERIFY(!item("trayAway")->isChecked());

    for (const char* name :
         {"trayReady", "trayDoNotDisturb", "trayAway", "trayAtLunch", "traySettings"}) {
        item(name)->trigger();
    }
    QCOMPARE(m_calls, (std::vector<std::string>{"ready", "dnd", "away", "lunch", "settings"}));
    item("trayShow")->trigger();
    QVERIFY(m_frame->isVisible());
    m_frame->hide();
    // Also while a modal dialog holds the window.
    QDialog dialog(m_frame.get());
    dialog.setModal(true);
    dialog.show();
    QVERIFY(QApplication::activeModalWidget() == &dialog);
    item("trayExit")->trigger();
    QCOMPARE(m_calls.back(), std::string("exit"));
    QVERIFY(m_frame->Exiting());
}

// Without a tray the desktop's notification service takes the notification,
// whole; its click is a balloon click. Where it fails, the box.
void TestMainFrame::withoutATrayTheDesktopShowsNotifications() {
    Make(false);
    FakeDesktop desktop;
    m_frame->SetDesktopNotifications(&desktop);
    const std::string text = CzechText(300);
    m_frame->Show(Note(text));
    QCoreApplication::processEvents();
    QCOMPARE(desktop.calls.size(), std::size_t(1));
    QCOMPARE(desktop.calls[0].title, QStringLiteral("Murmex3 - Neruš, celý titulek"));
    QCOMPARE(desktop.calls[0].text, platform::FromCp1250(text));
    QCOMPARE(desktop.calls[0].milliseconds, 3000);
    QVERIFY(m_presenter.messages.empty());

    Q_EMIT desktop.Clicked();
    QCOMPARE(m_calls, (std::vector<std::string>{"open"}));
    Set([](SettingsRecord& s) { s.openOnClickTooTip = false; });
    Q_EMIT desktop.Clicked();
    QCOMPARE(m_calls.size(), std::size_t(1));

    desktop.fail();
    QCoreApplication::processEvents();
    QCOMPARE(m_presenter.messages.size(), std::size_t(1));
    QCOMPARE(m_presenter.messages[0].text, text);
    m_frame->SetDesktopNotifications(nullptr);
}

void TestMainFrame::noTrayFallsBackToOneMessageBoxAtATime() {
    Make(false);
    const std::string text = CzechText(300);
    int nested = 0;
    m_presenter.whileOpen = [&] {
        // Delivered by the open box's event loop, and still waiting when the
        // gap ends: not shown.
        if (nested++ == 0) {
            m_frame->Show(Note("Druhá"));
            EndGap();
            QCoreApplication::processEvents();
        }
    };
    m_frame->Show(Note(text));
    // The box opens once the caller (a datagram's dispatch) has returned; one
    // raised before it opens is dropped too.
    QVERIFY(m_presenter.messages.empty());
    m_frame->Show(Note("Třetí"));
    QCoreApplication::processEvents();
    QCOMPARE(nested, 1);
    QCOMPARE(m_presenter.messages.size(), std::size_t(1));
    QCOMPARE(m_presenter.messages[0].caption, cp1250::FromUtf8("Murmex3 - Neruš, celý titulek"));
    QCOMPARE(m_presenter.messages[0].text, text);  // whole, not cut
    QCOMPARE(m_presenter.messages[0].icon, BoxIcon::Information);
    QVERIFY(!m_frame->BalloonShown());
    QCOMPARE(m_frame->LastBalloon().milliseconds, 0);

    // For a quiet period after the box has closed, none opens; the next box
    // tells how many were missed, those while it was open included.
    m_clock.Advance(CMainFrame::kBoxQuietSeconds - 1);
    m_frame->Show(Note("Petr"));
    EndGap();
    QCoreApplication::processEvents();
    QCOMPARE(m_presenter.messages.size(), std::size_t(1));
    QCOMPARE(m_frame->MissedNotifications(), 3);
    m_clock.Advance(1);
    m_frame->Show(Note("Jana"));
    EndGap();
    QCoreApplication::processEvents();
    QCOMPARE(m_presenter.messages.size(), std::size_t(2));
    QCOMPARE(m_presenter.messages[1].text, Missed("Jana", 3));
    QCOMPARE(m_frame->MissedNotifications(), 0);

    // A clock set back keeps it quiet.
    m_clock.Advance(-100);
    m_frame->Show(Note("Eva"));
    EndGap();
    QCoreApplication::processEvents();
    QCOMPARE(m_presenter.messages.size(), std::size_t(2));
}

QTEST_MAIN(TestMainFrame)
#include "TestMainFrame.moc"
