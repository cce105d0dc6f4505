// tests/ui/TestDesktopProfile.cpp
// The desktop program's settings file, written by the program's own profile
// (QSettings), read by murmex3-cli's reader: both must find the same file and
// the same values in it.
#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QPoint>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <QtTest>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/DesktopProfile.h"
#include "core/res/Cp1250.h"
#include "core/settings/ProfileNames.h"
#include "core/settings/Settings.h"
#include "platform/ProfileStore.h"
#include "widgets/adapters/QtProfile.h"

namespace {

std::string Cp(const char* utf8) {
    return cp1250::FromUtf8(utf8);
}

// Every value differs from its first-run default; texts the INI format has to
// quote or escape.
SettingsRecord CzechSettings() {
    SettingsRecord s;
    s.userName = Cp("Jiří Čermák");
    s.soundFolder = Cp("/home/jiří/Moje zvuky/Zvonění 2");
    s.showMySelf = true;
    s.soundsInDndState = false;
    s.iconsType = 1;
    s.iconsSize = std::numeric_limits<int32_t>::max();
    s.groupName = Cp(" Účtárna, 2. patro; \"A\" \\ #1 = @ ");
    s.playSounds = false;
    s.notifications = false;
    s.windowsUserName = false;
    s.topMost = true;
    s.transpareny = std::numeric_limits<int32_t>::min();
    s.aboutMePeriod = 9;
    s.checkActivity = true;
    s.inactivityMinutes = -4;
    s.enableConnectMsg = false;
    s.enableDisconMsg = false;
    s.bTooltipTimeout = 0;
    s.onNewUserMessage = true;
    s.openOnClickTooTip = false;
    return s;
}

struct Key {
    std::string section;
    std::string name;
};

QString Describe(const Key& key) {
    return QString::fromStdString(cp1250::ToUtf8(key.section) + "/" + cp1250::ToUtf8(key.name));
}

QByteArray FileContents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The desktop program's profile over a copy of the file, as the program reads
// it at its next start: QSettings of this process would hand back the typed
// values it wrote, not what it makes of the file.
std::unique_ptr<platform::QtProfile> DesktopAtNextStart(const QString& path) {
    static int copies = 0;
    const QString copy = path + QStringLiteral(".%1.ini").arg(++copies);
    if (!QFile::copy(path, copy)) {
        return nullptr;
    }
    return std::make_unique<platform::QtProfile>(
        std::make_unique<QSettings>(copy, QSettings::IniFormat));
}

}  // namespace

class TestDesktopProfile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void bothFrontEndsUseOneSettingsFile();
    void settingsSavedByTheProgramLoadUnchanged();
    void escapedKeysAndTextsReadAsTheProgramReadsThem();
    void valuesQtTypesReadAsTheProgramReadsThem();

private:
    QString SettingsPath() const;
};

QString TestDesktopProfile::SettingsPath() const {
    return platform::QtProfile().Settings().fileName();
}

void TestDesktopProfile::init() {
    platform::QtProfile profile;
    profile.Settings().clear();
    profile.Settings().sync();
}

void TestDesktopProfile::bothFrontEndsUseOneSettingsFile() {
    const QString path = SettingsPath();
    QCOMPARE(path, QString::fromStdString(
                       platform::UserSettingsFile(kProfileOrganisation, kProfileApplication)));
    QVERIFY2(path.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")), qPrintable(path));
    {
        platform::QtProfile desktop;
        desktop.WriteString(kSettingsSection, "UserName", Cp("Žofie"));
    }
    QCOMPARE(OpenDesktopProfile()->ReadString(kSettingsSection, "UserName"), Cp("Žofie"));
}

void TestDesktopProfile::settingsSavedByTheProgramLoadUnchanged() {
    const SettingsRecord written = CzechSettings();
    {
        platform::QtProfile desktop;
        SaveSettings(desktop, written);
    }
    const std::unique_ptr<Profile> cli = OpenDesktopProfile();
    const SettingsRecord read = LoadSettings(*cli);
    QVERIFY2(read == written, FileContents(SettingsPath()).constData());
    QCOMPARE(read.userName, written.userName);
    QCOMPARE(read.soundFolder, written.soundFolder);
    QCOMPARE(read.groupName, written.groupName);
}

// Sections and names with characters QSettings escapes in keys, and texts it
// escapes or marks in values, stored as the program stores strings: from code
// page 1250.
void TestDesktopProfile::escapedKeysAndTextsReadAsTheProgramReadsThem() {
    const std::vector<std::pair<Key, std::string>> values = {
        {{"Okna a lišty", "Šířka levá"}, Cp("Příliš žluťoučký kůň")},
        {{"General", "UserName"}, "v sekci General"},
        {{"general", "x"}, "malá písmena"},
        {{"Settings", "a=b;c#d[e]"}, "klíč s = ; # [ ]"},
        {{"Settings", "100%"}, "%41 zůstává"},
        {{"Settings", "Ěščř"}, "€ ‚ „ … † ‡ ‰ Š ‹ Ś Ť Ž Ź ‘ ’ “ ” • – —"},
        {{"Settings", "Empty"}, ""},
        {{"Settings", "Spaces"}, "   "},
        {{"Settings", "At"}, "@zavináč"},
        {{"Settings", "AtForm"}, "@String(x)"},
        {{"Settings", "AtInvalid"}, "@Invalid()"},
        {{"Settings", "Lines"}, "řádek\nnový\r\nkonec\t\x01\x1f\x7f"},
        {{"Settings", "Quotes"}, "\"uvozovky\" a 'apostrofy' \\x41 \\\\"},
        {{"Settings", "Digits"}, " -17 "},
        {{kBarLayoutProfileName, "State"}, "AAAA/wAAAAD9AAAAAA+==="},
    };
    {
        platform::QtProfile desktop;
        for (const auto& [key, text] : values) {
            desktop.WriteString(Cp(key.section.c_str()), Cp(key.name.c_str()), Cp(text.c_str()));
        }
    }
    const std::unique_ptr<Profile> cli = OpenDesktopProfile();
    const auto desktop = DesktopAtNextStart(SettingsPath());
    QVERIFY(desktop != nullptr);
    for (const auto& [utf8Key, text] : values) {
        const Key key{Cp(utf8Key.section.c_str()), Cp(utf8Key.name.c_str())};
        const auto expected = desktop->ReadString(key.section, key.name);
        // QSettings files a section "general" under "General".
        if (utf8Key.section != "general") {
            QVERIFY2(expected == Cp(text.c_str()), qPrintable(Describe(key)));
        }
        QVERIFY2(cli->ReadString(key.section, key.name) == expected, qPrintable(Describe(key)));
        QVERIFY2(cli->ReadInt(key.section, key.name) == desktop->ReadInt(key.section, key.name),
                 qPrintable(Describe(key)));
    }
    QCOMPARE(cli->ReadInt("Settings", "Digits"), std::optional<int32_t>(-17));
}

// What QSettings stores for the other types a hand-edited file or another
// version may hold: whatever the program makes of them, the CLI makes too.
// (Dates and other "@Variant" forms, of which the program reads a text, are
// no value to the CLI.)
void TestDesktopProfile::valuesQtTypesReadAsTheProgramReadsThem() {
    const std::vector<std::pair<QString, QVariant>> values = {
        {QStringLiteral("True"), true},
        {QStringLiteral("False"), false},
        {QStringLiteral("Zero"), 0},
        {QStringLiteral("Min"), std::numeric_limits<int32_t>::min()},
        {QStringLiteral("Big"), qlonglong(99999999999)},
        {QStringLiteral("Unsigned"), uint(4000000000u)},
        {QStringLiteral("Real"), 2.5},
        {QStringLiteral("List"), QStringList{QStringLiteral("jedna"), QStringLiteral("dvě")}},
        {QStringLiteral("AtList"), QStringList{QStringLiteral("@a"), QStringLiteral("b")}},
        {QStringLiteral("OneItem"), QStringList{QStringLiteral("sám")}},
        {QStringLiteral("NoItems"), QStringList{}},
        {QStringLiteral("Bytes"), QByteArray("bajty \xC5\x99 \x01")},
        {QStringLiteral("Invalid"), QVariant()},
        {QStringLiteral("Point"), QPoint(1, 2)},
        {QStringLiteral("OtherScripts"), QStringLiteral(u"日本 \U0001F600 Ω")},
        {QStringLiteral("Surrogate"), QString(QChar(0xD800))},
    };
    {
        platform::QtProfile desktop;
        for (const auto& [name, value] : values) {
            desktop.Settings().setValue(QStringLiteral("Settings/") + name, value);
        }
    }
    const std::unique_ptr<Profile> cli = OpenDesktopProfile();
    const auto desktop = DesktopAtNextStart(SettingsPath());
    QVERIFY(desktop != nullptr);
    int texts = 0;
    for (const auto& [name, value] : values) {
        const Key key{kSettingsSection, name.toStdString()};
        const auto text = desktop->ReadString(key.section, key.name);
        texts += text.has_value() ? 1 : 0;
        QVERIFY2(cli->ReadString(key.section, key.name) == text,
                 qPrintable(Describe(key) + QStringLiteral(" in\n") +
                            QString::fromUtf8(FileContents(SettingsPath()))));
        QVERIFY2(cli->ReadInt(key.section, key.name) == desktop->ReadInt(key.section, key.name),
                 qPrintable(Describe(key)));
    }
    // Not all of them vanish for both.
    QVERIFY2(texts >= 10, qPrintable(QString::number(texts)));
    QCOMPARE(cli->ReadString(kSettingsSection, "List"), Cp("jedna, dvě"));
    QCOMPARE(cli->ReadInt(kSettingsSection, "Min"), std::numeric_limits<int32_t>::min());
}

// The settings of this test live in a folder of its own: both front ends find
// it through XDG_CONFIG_HOME, which Qt reads once, before the first QSettings.
int main(int argc, char** argv) {
    QTemporaryDir config;
    if (!config.isValid()) {
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication application(argc, argv);
    TestDesktopProfile test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestDesktopProfile.moc"
