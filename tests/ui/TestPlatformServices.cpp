// tests/ui/TestPlatformServices.cpp
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDataStream>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "core/Fakes.h"
#include "core/base/AlertGate.h"
#include "core/base/Log.h"
#include "core/res/Strings.h"
#include "core/settings/Settings.h"
#include "ui/RecordingBoxes.h"
#include "widgets/adapters/Logging.h"
#include "widgets/adapters/MessageBoxes.h"
#include "widgets/adapters/QtProfile.h"
#include "widgets/adapters/QtSoundPlayer.h"
#include "widgets/adapters/QtUiPoster.h"
#include "widgets/adapters/TextCodec.h"
#include "widgets/app/AppLook.h"
#include "widgets/desktop/IdleInput.h"
#include "widgets/desktop/QuitSignals.h"
#include "widgets/desktop/SingleInstance.h"

namespace {

const std::string kJiriCp1250 = "Ji\xF8\xED";
const QString kJiri = QStringLiteral(u"Ji\u0159\u00ED");
const QString kPripojeni = QStringLiteral(u"P\u0159ipojeni");

// Every value differs from its first-run default, so a value that is not
// stored or not read back shows.
SettingsRecord NonDefaultSettings() {
    SettingsRecord s;
    s.userName = kJiriCp1250;
    s.soundFolder = "Zvuky";
    s.showMySelf = true;
    s.soundsInDndState = false;
    s.iconsType = 1;
    s.iconsSize = 1;
    s.groupName = res::String(res::kStrDefaultGroup);
    s.playSounds = false;
    s.notifications = false;
    s.windowsUserName = false;
    s.topMost = true;
    s.transpareny = 77;
    s.aboutMePeriod = 9;
    s.checkActivity = true;
    s.inactivityMinutes = -4;
    s.enableConnectMsg = false;
    s.enableDisconMsg = false;
    s.bTooltipTimeout = 30;
    s.onNewUserMessage = true;
    s.openOnClickTooTip = false;
    return s;
}

std::unique_ptr<platform::QtProfile> IniProfile(const QString& path) {
    return std::make_unique<platform::QtProfile>(
        std::make_unique<QSettings>(path, QSettings::IniFormat));
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A short, silent, valid wave file: 16-bit mono PCM at 8 kHz.
QByteArray SilentWave() {
    const quint32 samples = 800;
    const quint32 dataBytes = samples * 2;
    QByteArray wave;
    QDataStream out(&wave, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    wave.append(QByteArray(static_cast<qsizetype>(dataBytes), '\0'));
    return wave;
}

struct SeenBox {
    QString title;
    QString text;
    QString accessibleName;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    Qt::TextFormat format = Qt::AutoText;
};

// Shows one box over the parent, records it as it appears and presses
// its OK button. Gives nothing if no box came up within five seconds.
std::optional<SeenBox> ShowAndAnswer(QWidget& parent, const std::string& caption,
                                     const std::string& text, BoxIcon icon) {
    std::optional<SeenBox> seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = parent.findChild<QMessageBox*>(QStringLiteral("messageBox"));
        if (box == nullptr || !box->isVisible() || seen) {
            return;
        }
        seen = SeenBox{box->windowTitle(),         box->text(),
                       box->accessibleName(),      box->icon(),
                       int(box->buttons().size()), box->textFormat()};
        box->button(QMessageBox::Ok)->click();
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
    });
    poll.start();
    giveUp.start(5000);
    platform::MessageBoxes boxes;
    boxes.Show(&parent, caption, text, icon);
    return seen;
}

bool HasDefaultDisposition(int signalNumber) {
    struct sigaction current {};
    sigaction(signalNumber, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

}  // namespace

class TestPlatformServices : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void settingsRoundTripKeepsAllValuesAndCzechTextAsUnicode();
    void hostileStoredValuesGiveDefaultsOrTheirNumber();
    void typedStoredValuesOutsideInt32CountAsMissing();

    void posterRunsTasksInOrderOnlyWhenTheEventLoopRuns();
    void posterDropsTasksWhenTheContextIsGone();
    void posterKnowsItsThread();

    void resolvePathPrefersCurrentDirectoryOverDataDirectory();
    void playingFilesAndMissingFilesReturnsAtOnce();

    void textCodecRoundTripsCzechAndRejectsOtherScripts();
    void messageBoxShowsConvertedTextsIconAndOneButton();
    void boxesOpenOverTheOwnersWindowAndAfterTheCloseAreLogged();
    void idleInputHasNoProbeOffscreen();

    void laterCopyShowsTheRunningOneAndEnds();
    void socketLeftByAnEndedCopyDoesNotStopTheNext();
    void copiesOfOtherSettingsFilesRunSideBySide();

    void qtTextsAreCzechAndEveryWindowCarriesTheIcon();

    void quitSignalCallsTheHandlerOnceOnTheUiThread();
    void installingAgainReplacesTheHandler();
    void destroyedContextGivesSignalsBackToTheSystem();

    void coreLogReachesQtCategoriesWarningsByDefault();
    void unwritableSettingsFileIsLoggedAtEachSaveWithoutABox();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir;
};

void TestPlatformServices::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_startDir = QDir::currentPath();
}

void TestPlatformServices::cleanup() {
    QDir::setCurrent(m_startDir);
    platform::InstallQuitHandler(nullptr, {});
    m_dir.reset();
}

void TestPlatformServices::settingsRoundTripKeepsAllValuesAndCzechTextAsUnicode() {
    const QString path = m_dir->filePath(QStringLiteral("Mrmx3.ini"));
    const SettingsRecord written = NonDefaultSettings();
    {
        auto profile = IniProfile(path);
        SaveSettings(*profile, written);
    }

    QSettings file(path, QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Settings"));
    QCOMPARE(file.childKeys().size(), 20);
    QCOMPARE(file.value(QStringLiteral("UserName")).toString(), kJiri);
    QCOMPARE(file.value(QStringLiteral("GroupName")).toString(), kPripojeni);
    QCOMPARE(file.value(QStringLiteral("Transpareny")).toInt(), 77);
    QCOMPARE(file.value(QStringLiteral("InactivityMinutes")).toInt(), -4);
    QCOMPARE(file.value(QStringLiteral("TopMost")).toInt(), 1);
    file.endGroup();

    const SettingsRecord read = LoadSettings(*IniProfile(path));
    QVERIFY(read == written);
    QCOMPARE(read.userName, kJiriCp1250);
    QCOMPARE(read.groupName, std::string("P\xF8ipojeni"));
}

void TestPlatformServices::hostileStoredValuesGiveDefaultsOrTheirNumber() {
    const QString path = m_dir->filePath(QStringLiteral("Mrmx3.ini"));
    WriteFile(path,
              "[Settings]\n"
              "UserName=Ji\xC5\x99\xC3\xAD\n"
              "SoundFolder=\n"
              "ShowMySelf=yes\n"
              "SoundsInDNDState=0x0\n"
              "IconsType=-2147483648\n"
              "IconsSize=2147483648\n"
              "GroupName=Jedna, dva\n"
              "PlaySounds=\n"
              "Notifications=\" 0 \"\n"
              "WindowsUserName=@Rect(1 2 3 4)\n"
              "TopMost=7\n"
              "Transpareny=abc\n"
              "AboutMePeriod=99999999999\n"
              "CheckActivity=-1\n"
              "InactivityMinutes=-3\n"
              "EnableConnectMsg=@ByteArray(0)\n"
              "EnableDisconMsg=1e3\n"
              "BTooltipTimeout=  42  \n"
              "OnNewUserMessage=99999999999999999999999999\n"
              "OpenOnClickTooTip=\xFF\xFE\x80\n");
    auto profile = IniProfile(path);

    SettingsRecord expected;  // first-run defaults where a value is unusable
    expected.userName = kJiriCp1250;
    expected.iconsType = std::numeric_limits<int32_t>::min();
    expected.groupName = "Jedna, dva";
    expected.notifications = false;
    expected.topMost = true;
    expected.checkActivity = true;
    expected.inactivityMinutes = -3;
    expected.enableConnectMsg = false;
    expected.bTooltipTimeout = 42;
    const SettingsRecord read = LoadSettings(*profile);
    QCOMPARE(read.userName, expected.userName);
    QCOMPARE(read.soundFolder, std::string());
    QCOMPARE(read.groupName, expected.groupName);
    QCOMPARE(read.iconsType, expected.iconsType);
    QCOMPARE(read.iconsSize, expected.iconsSize);
    QCOMPARE(read.transpareny, expected.transpareny);
    QCOMPARE(read.aboutMePeriod, expected.aboutMePeriod);
    QCOMPARE(read.inactivityMinutes, expected.inactivityMinutes);
    QCOMPARE(read.bTooltipTimeout, expected.bTooltipTimeout);
    QVERIFY(read == expected);

    QCOMPARE(profile->ReadInt("Settings", "Missing"), std::nullopt);
    QCOMPARE(profile->ReadString("Settings", "Missing"), std::nullopt);
    QCOMPARE(profile->ReadString("Settings", "WindowsUserName"), std::nullopt);
    QCOMPARE(profile->ReadString("Settings", "AboutMePeriod"), std::string("99999999999"));
    QCOMPARE(profile->ReadInt("Other", "IconsType"), std::nullopt);

    profile->WriteInt("Settings", "UserName", 12345);
    QCOMPARE(profile->ReadString("Settings", "UserName"), std::string("12345"));
    profile->WriteString("Settings", "Transpareny", "-80");
    QCOMPARE(profile->ReadInt("Settings", "Transpareny"), std::optional<int32_t>(-80));
}

// The registry and other native stores hand back typed numbers, not text.
void TestPlatformServices::typedStoredValuesOutsideInt32CountAsMissing() {
    auto profile = IniProfile(m_dir->filePath(QStringLiteral("Typed.ini")));
    QSettings& settings = profile->Settings();
    settings.setValue(QStringLiteral("Settings/Big"), qlonglong(99999999999));
    settings.setValue(QStringLiteral("Settings/Unsigned"), uint(4000000000u));
    settings.setValue(QStringLiteral("Settings/SmallUnsigned"), uint(12));
    settings.setValue(QStringLiteral("Settings/Negative"), -7);
    settings.setValue(QStringLiteral("Settings/Flag"), true);
    settings.setValue(QStringLiteral("Settings/Real"), 2.5);

    QCOMPARE(profile->ReadInt("Settings", "Big"), std::nullopt);
    QCOMPARE(profile->ReadInt("Settings", "Unsigned"), std::nullopt);
    QCOMPARE(profile->ReadInt("Settings", "SmallUnsigned"), std::optional<int32_t>(12));
    QCOMPARE(profile->ReadInt("Settings", "Negative"), std::optional<int32_t>(-7));
    QCOMPARE(profile->ReadInt("Settings", "Flag"), std::optional<int32_t>(1));
    QCOMPARE(profile->ReadInt("Settings", "Real"), std::nullopt);
    QCOMPARE(profile->ReadString("Settings", "Negative"), std::string("-7"));
}

void TestPlatformServices::posterRunsTasksInOrderOnlyWhenTheEventLoopRuns() {
    QObject context;
    platform::QtUiPoster poster(&context);
    std::vector<int> ran;
    std::vector<QThread*> threads;
    poster.Post([&] { ran.push_back(1); });
    poster.Post([&] { ran.push_back(2); });
    std::thread worker([&] {
        poster.Post([&] {
            ran.push_back(3);
            threads.push_back(QThread::currentThread());
        });
    });
    worker.join();
    QVERIFY(ran.empty());

    QCoreApplication::processEvents();
    QCOMPARE(ran, (std::vector<int>{1, 2, 3}));
    QCOMPARE(threads, (std::vector<QThread*>{QThread::currentThread()}));
    QCoreApplication::processEvents();
    QCOMPARE(ran.size(), size_t{3});
}

void TestPlatformServices::posterDropsTasksWhenTheContextIsGone() {
    auto context = std::make_unique<QObject>();
    platform::QtUiPoster poster(context.get());
    int ran = 0;
    poster.Post([&] { ++ran; });
    poster.Post([&] { ++ran; });
    context.reset();
    poster.Post([&] { ++ran; });
    QCoreApplication::processEvents();
    QCOMPARE(ran, 0);
    QVERIFY(!poster.OnUiThread());
}

void TestPlatformServices::posterKnowsItsThread() {
    QObject context;
    platform::QtUiPoster poster(&context);
    QVERIFY(poster.OnUiThread());
    bool onWorker = true;
    std::thread worker([&] { onWorker = poster.OnUiThread(); });
    worker.join();
    QVERIFY(!onWorker);
}

void TestPlatformServices::resolvePathPrefersCurrentDirectoryOverDataDirectory() {
    // The data directory is fixed beside the program; the test works in a
    // temporary folder of its own inside it.
    const QString dataDir = platform::QtSoundPlayer::DataDirectory();
    QVERIFY(QDir::isAbsolutePath(dataDir));
    QCOMPARE(dataDir, QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                      QStringLiteral("/../share/murmex3")));
    const bool madeDataDir = !QDir(dataDir).exists();
    QVERIFY(QDir().mkpath(dataDir));
    auto installed = std::make_unique<QTemporaryDir>(dataDir + QStringLiteral("/SoundsXXXXXX"));
    QVERIFY(installed->isValid());
    const QString scheme = QFileInfo(installed->path()).fileName();
    const QString both = scheme + QStringLiteral("/Standard/online.wav");
    const QString onlyInstalled = scheme + QStringLiteral("/Standard/Away.wav");
    const QString onlyLocal = scheme + QStringLiteral("/Standard/Bell.wav");
    WriteFile(installed->filePath(QStringLiteral("Standard/online.wav")), SilentWave());
    WriteFile(installed->filePath(QStringLiteral("Standard/Away.wav")), SilentWave());
    WriteFile(m_dir->filePath(both), SilentWave());
    WriteFile(m_dir->filePath(onlyLocal), SilentWave());
    QVERIFY(QDir::setCurrent(m_dir->path()));

    using platform::QtSoundPlayer;
    QCOMPARE(QtSoundPlayer::ResolvePath(both), QFileInfo(m_dir->filePath(both)).absoluteFilePath());
    QCOMPARE(QtSoundPlayer::ResolvePath(onlyLocal),
             QFileInfo(m_dir->filePath(onlyLocal)).absoluteFilePath());
    QCOMPARE(
        QtSoundPlayer::ResolvePath(onlyInstalled),
        QFileInfo(installed->filePath(QStringLiteral("Standard/Away.wav"))).absoluteFilePath());
    QCOMPARE(QtSoundPlayer::ResolvePath(scheme + QStringLiteral("/Standard/DND.wav")), QString());
    QCOMPARE(QtSoundPlayer::ResolvePath(scheme + QStringLiteral("/Standard")), QString());
    QCOMPARE(QtSoundPlayer::ResolvePath(QString()), QString());

    installed.reset();
    if (madeDataDir) {
        QDir().rmdir(dataDir);
        QDir().rmdir(QFileInfo(dataDir).absolutePath());
    }
}

// Offscreen there is no sound to hear; this guards against a player that
// blocks or crashes on the way (loading is asynchronous, a missing file beeps).
void TestPlatformServices::playingFilesAndMissingFilesReturnsAtOnce() {
    WriteFile(m_dir->filePath(QStringLiteral("Sounds/Standard/online.wav")), SilentWave());
    WriteFile(m_dir->filePath(QStringLiteral("Sounds/Standard/Bad.wav")), "not a wave file");
    QVERIFY(QDir::setCurrent(m_dir->path()));
    platform::QtSoundPlayer player;
    QElapsedTimer timer;
    timer.start();
    player.Play("Sounds/Standard/online.wav");
    player.Play("Sounds/Standard/Bad.wav");
    player.Play("Sounds/Standard/missing.wav");
    player.Play("Sounds/Standard/online.wav");
    QVERIFY2(timer.elapsed() < 2000, "Play blocked the calling thread");
    QTest::qWait(50);
}

void TestPlatformServices::textCodecRoundTripsCzechAndRejectsOtherScripts() {
    const QString czech = QStringLiteral(
        u"P\u0159\u00EDli\u0161 \u017Elu\u0165ou\u010Dk\u00FD k\u016F\u0148 \u00FAp\u011Bl "
        u"\u010F\u00E1belsk\u00E9 \u00F3dy");
    const std::string bytes = platform::ToCp1250(czech);
    QCOMPARE(bytes.size(), size_t(czech.size()));
    QCOMPARE(platform::FromCp1250(bytes), czech);
    QCOMPARE(platform::ToCp1250(kJiri), kJiriCp1250);
    QCOMPARE(platform::FromCp1250(kJiriCp1250), kJiri);

    QVERIFY(platform::FitsCp1250(QStringLiteral(u"\u017Elu\u0165ou\u010Dk\u00FD")));
    QVERIFY(platform::FitsCp1250(QString()));
    QVERIFY(!platform::FitsCp1250(QStringLiteral(u"\u65E5\u672C")));
    QVERIFY(!platform::FitsCp1250(QStringLiteral(u"ok \U0001F600")));
    QCOMPARE(platform::ToCp1250(QStringLiteral(u"a\U0001F600b")), std::string("a?b"));
}

void TestPlatformServices::messageBoxShowsConvertedTextsIconAndOneButton() {
    QWidget parent;
    parent.show();
    const auto warning = ShowAndAnswer(parent, "Upozorn\xECn\xED", "First line\r\n<b>k\xF9\xF2</b>",
                                       BoxIcon::Exclamation);
    QVERIFY(warning.has_value());
    QCOMPARE(warning->title, QStringLiteral(u"Upozorn\u011Bn\u00ED"));
    QCOMPARE(warning->accessibleName, warning->title);
    QCOMPARE(warning->text, QStringLiteral(u"First line\n<b>k\u016F\u0148</b>"));
    QCOMPARE(warning->format, Qt::PlainText);
    QCOMPARE(warning->icon, QMessageBox::Warning);
    QCOMPARE(warning->buttons, 1);

    const auto information = ShowAndAnswer(parent, "Error", "x", BoxIcon::Information);
    QVERIFY(information.has_value());
    QCOMPARE(information->icon, QMessageBox::Information);
    const auto plain = ShowAndAnswer(parent, "Error", "x", BoxIcon::None);
    QVERIFY(plain.has_value());
    QCOMPARE(plain->icon, QMessageBox::NoIcon);
    const auto warned = ShowAndAnswer(parent, "Error", "x", BoxIcon::Warning);
    QVERIFY(warned.has_value());
    QCOMPARE(warned->icon, QMessageBox::Warning);
}

// A box opens over its owner's window while that is on the screen, else on
// its own; once the exit has begun it is one warning line in the log.
void TestPlatformServices::boxesOpenOverTheOwnersWindowAndAfterTheCloseAreLogged() {
    QWidget window;
    auto* owner = new QWidget(&window);
    RecordingBoxes boxes;
    boxes.Show(owner, "Error", "hidden", BoxIcon::Information);
    window.show();
    boxes.Show(owner, "Error", "shown", BoxIcon::Information);
    boxes.Close();
    RecordingLog log;
    boxes.Show(owner, "Error", "a\r\n\r\nb", BoxIcon::Information);
    QCOMPARE(boxes.messages.size(), size_t{2});
    QCOMPARE(boxes.messages[0].parent, static_cast<QWidget*>(nullptr));
    QCOMPARE(boxes.messages[1].parent, &window);
    QCOMPARE(log.Lines(), (std::vector<std::string>{"exit: Error: a b"}));
}

void TestPlatformServices::idleInputHasNoProbeOffscreen() {
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    QVERIFY(platform::MakeIdleInputProbe() == nullptr);
    const uint32_t before = platform::TickCount();
    QTest::qWait(20);
    const uint32_t elapsed = platform::TickCount() - before;
    QVERIFY2(elapsed >= 15 && elapsed < 10000, qPrintable(QString::number(elapsed)));
}

namespace {

// A copy started on another thread, as another process would: its blocking
// socket calls need the first copy's event loop, which the test runs.
platform::SingleInstance::Start StartLaterCopy(const QString& name) {
    std::optional<platform::SingleInstance::Start> result;
    std::thread copy([&] { result = platform::SingleInstance(name).Begin(); });
    QElapsedTimer waited;
    waited.start();
    while (!result && waited.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    copy.join();
    return *result;
}

}  // namespace

void TestPlatformServices::laterCopyShowsTheRunningOneAndEnds() {
    const QString name = m_dir->filePath(QStringLiteral("copy"));
    platform::SingleInstance first(name);
    QCOMPARE(first.Begin(), platform::SingleInstance::Start::First);
    int shown = 0;
    first.SetShowHandler([&] { ++shown; });

    QCOMPARE(StartLaterCopy(name), platform::SingleInstance::Start::HandedOver);
    QCOMPARE(shown, 1);
    QCOMPARE(StartLaterCopy(name), platform::SingleInstance::Start::HandedOver);
    QCOMPARE(shown, 2);

    // Anything but the one request is refused without a show.
    QLocalSocket stranger;
    stranger.connectToServer(name);
    QVERIFY(stranger.waitForConnected(1000));
    stranger.write(QByteArray(64, 'x'));
    QTRY_COMPARE(stranger.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(shown, 2);
}

void TestPlatformServices::socketLeftByAnEndedCopyDoesNotStopTheNext() {
    const QString name = m_dir->filePath(QStringLiteral("left"));
    {
        // A copy that ends without closing its socket leaves the file behind.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(name);
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    QVERIFY(QFileInfo::exists(name));
    platform::SingleInstance next(name);
    QCOMPARE(next.Begin(), platform::SingleInstance::Start::First);
    QCOMPARE(StartLaterCopy(name), platform::SingleInstance::Start::HandedOver);
}

void TestPlatformServices::copiesOfOtherSettingsFilesRunSideBySide() {
    const QString mine =
        platform::SingleInstance::NameFor(QStringLiteral("/home/a/.config/x.conf"));
    QCOMPARE(platform::SingleInstance::NameFor(QStringLiteral("/home/a/.config/x.conf")), mine);
    QVERIFY(mine != platform::SingleInstance::NameFor(QStringLiteral("/home/b/.config/x.conf")));

    const QString a = m_dir->filePath(QStringLiteral("a"));
    const QString b = m_dir->filePath(QStringLiteral("b"));
    platform::SingleInstance first(a);
    QCOMPARE(first.Begin(), platform::SingleInstance::Start::First);
    platform::SingleInstance other(b);
    QCOMPARE(other.Begin(), platform::SingleInstance::Start::First);
    int firstShown = 0;
    int otherShown = 0;
    first.SetShowHandler([&] { ++firstShown; });
    other.SetShowHandler([&] { ++otherShown; });
    // Each listens, for its own later copies only.
    QCOMPARE(StartLaterCopy(b), platform::SingleInstance::Start::HandedOver);
    QCOMPARE(StartLaterCopy(a), platform::SingleInstance::Start::HandedOver);
    QCOMPARE(firstShown, 1);
    QCOMPARE(otherShown, 1);
}

void TestPlatformServices::qtTextsAreCzechAndEveryWindowCarriesTheIcon() {
    std::unique_ptr<QTranslator> czech(applook::InstallCzechQtTexts(nullptr));
    QVERIFY2(czech != nullptr, "Qt's Czech catalogue is missing (qt6-translations-l10n)");
    QLineEdit edit;
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        texts << action->text();
    }
    // "&Paste", with its shortcut after a tab.
    QVERIFY2(!texts.filter(QRegularExpression(QStringLiteral("^&Vložit(\\t|$)"))).isEmpty(),
             qPrintable(texts.join(u'|')));
    QDialogButtonBox buttons(QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Zrušit"));

    applook::InstallWindowIcon();
    QWidget window;
    QVERIFY(!window.windowIcon().isNull());
    QMessageBox box;
    QVERIFY(!box.windowIcon().isNull());
    QApplication::setWindowIcon(QIcon());
}

void TestPlatformServices::quitSignalCallsTheHandlerOnceOnTheUiThread() {
    QObject context;
    int calls = 0;
    QThread* thread = nullptr;
    platform::InstallQuitHandler(&context, [&] {
        ++calls;
        thread = QThread::currentThread();
    });
    QVERIFY(!HasDefaultDisposition(SIGTERM));
    QVERIFY(!HasDefaultDisposition(SIGINT));
    QVERIFY(!HasDefaultDisposition(SIGHUP));

    raise(SIGTERM);
    QCOMPARE(calls, 0);  // only the event loop runs it
    QTRY_COMPARE(calls, 1);
    QCOMPARE(thread, QThread::currentThread());
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    QCOMPARE(calls, 1);

    // A burst that arrives before the event loop runs is one request.
    raise(SIGINT);
    raise(SIGHUP);
    QTRY_COMPARE(calls, 2);
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    QCOMPARE(calls, 2);
}

void TestPlatformServices::installingAgainReplacesTheHandler() {
    QObject first;
    QObject second;
    int firstCalls = 0;
    int secondCalls = 0;
    platform::InstallQuitHandler(&first, [&] { ++firstCalls; });
    platform::InstallQuitHandler(&second, [&] { ++secondCalls; });
    raise(SIGTERM);
    QTRY_COMPARE(secondCalls, 1);
    QCOMPARE(firstCalls, 0);

    // The replaced context going away leaves the new handler in place.
    QObject* third = new QObject;
    platform::InstallQuitHandler(third, [&] { ++firstCalls; });
    platform::InstallQuitHandler(&second, [&] { ++secondCalls; });
    delete third;
    QCoreApplication::processEvents();
    QVERIFY(!HasDefaultDisposition(SIGTERM));
    raise(SIGTERM);
    QTRY_COMPARE(secondCalls, 2);
    QCOMPARE(firstCalls, 0);
}

void TestPlatformServices::destroyedContextGivesSignalsBackToTheSystem() {
    auto context = std::make_unique<QObject>();
    platform::InstallQuitHandler(context.get(), [] {});
    QVERIFY(!HasDefaultDisposition(SIGHUP));
    context.reset();
    QVERIFY(HasDefaultDisposition(SIGTERM));
    QVERIFY(HasDefaultDisposition(SIGINT));
    QVERIFY(HasDefaultDisposition(SIGHUP));
}

namespace {

struct LogLine {
    QtMsgType type;
    QString category;
    QString text;
};
std::vector<LogLine> g_logged;

void RecordLog(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    g_logged.push_back({type, QString::fromLatin1(context.category), text});
}

struct ShownBoxes final : MessagePresenter {
    void ShowMessage(const std::string&, const std::string&, BoxIcon) override { ++shown; }
    int shown = 0;
};

struct StillClock final : Clock {
    int64_t NowSeconds() const override { return 100; }
};

}  // namespace

// A box the network gate holds back leaves a trace in murmex3.net: the first
// as a warning, a flood of further ones only when debug lines are asked for.
void TestPlatformServices::coreLogReachesQtCategoriesWarningsByDefault() {
    g_logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(RecordLog);
    platform::InstallQtLogSink();
    ShownBoxes inner;
    StillClock clock;
    QueuePoster poster;
    AlertGate gate{inner, clock, poster};
    gate.ShowMessage("Error", "first", BoxIcon::Information);
    gate.ShowMessage("Error", "druh\xe1", BoxIcon::Information);
    gate.ShowMessage("Error", "third", BoxIcon::Information);
    corelog::Warning("unknown-area", "elsewhere");
    QLoggingCategory::setFilterRules(QStringLiteral("murmex3.net.debug=true"));
    gate.ShowMessage("Error", "fourth", BoxIcon::Information);
    poster.Drain();
    QLoggingCategory::setFilterRules(QString());
    corelog::SetSink(nullptr);
    qInstallMessageHandler(previous);

    QCOMPARE(inner.shown, 1);
    QCOMPARE(g_logged.size(), size_t{3});
    QCOMPARE(g_logged[0].type, QtWarningMsg);
    QCOMPARE(g_logged[0].category, QStringLiteral("murmex3.net"));
    QVERIFY2(g_logged[0].text.contains(QStringLiteral("druhá")), qPrintable(g_logged[0].text));
    QCOMPARE(g_logged[1].category, QStringLiteral("murmex3.core"));
    QCOMPARE(g_logged[2].type, QtDebugMsg);
    QVERIFY(g_logged[2].text.contains(QStringLiteral("fourth")));
}

// The settings file's folder is a regular file: unlike a read-only mode,
// that stops root too, and the tests run as root.
void TestPlatformServices::unwritableSettingsFileIsLoggedAtEachSaveWithoutABox() {
    WriteFile(m_dir->filePath(QStringLiteral("plain")), "not a folder");
    const QString path = m_dir->filePath(QStringLiteral("plain/Mrmx3.ini"));
    auto profile = IniProfile(path);
    g_logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(RecordLog);
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    const QString reason = QString::fromLocal8Bit(std::strerror(ENOTDIR));
    const auto warnings = [&] {
        return std::count_if(g_logged.begin(), g_logged.end(), [&](const LogLine& line) {
            return line.type == QtWarningMsg &&
                   line.category == QStringLiteral("murmex3.settings") &&
                   line.text.contains(path) && line.text.contains(reason);
        });
    };

    SaveSettings(*profile, NonDefaultSettings());
    QTRY_COMPARE(warnings(), 1);
    QCOMPARE(profile->ReadInt("Settings", "Transpareny"), std::optional<int32_t>{77});

    profile->WriteInt("Settings", "Transpareny", 60);
    QTRY_COMPARE(warnings(), 2);
    QCOMPARE(profile->ReadInt("Settings", "Transpareny"), std::optional<int32_t>{60});
    const QWidgetList windows = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(windows.begin(), windows.end(),
                         [](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; }));
}

QTEST_MAIN(TestPlatformServices)
#include "TestPlatformServices.moc"
