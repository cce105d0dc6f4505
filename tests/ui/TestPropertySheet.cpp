// tests/ui/TestPropertySheet.cpp
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/MemoryProfile.h"
#include "core/res/Cp1250.h"
#include "core/settings/AppState.h"
#include "ui/RecordingBoxes.h"
#include "widgets/adapters/Cp1250Input.h"
#include "widgets/settings/PropertySheet.h"

namespace {

class FixedNames final : public NameSource {
public:
    std::string LogonName() const override { return cp1250::FromUtf8("Šárka"); }
    std::string ComputerName() const override { return "PC"; }
};

std::string Cp(const char* utf8) {
    return cp1250::FromUtf8(utf8);
}

// Types the text as key presses carrying each character (QTest::keyClicks
// drops everything outside Latin-1).
void TypeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void ReplaceText(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    TypeText(edit, text);
}

// A user's click on a check box, by its keyboard equivalent.
void Toggle(QAbstractButton* button) {
    QTest::keyClick(button, Qt::Key_Space);
}

// The names of the given widgets in the order Tab visits them, from the first.
QStringList TabOrder(QWidget* first, const QStringList& names) {
    QStringList order;
    QWidget* widget = first;
    do {
        if (names.contains(widget->objectName()) && !order.contains(widget->objectName())) {
            order << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget != nullptr && widget != first);
    return order;
}

// Label texts with the object names of their buddies, in creation order.
QList<QPair<QString, QString>> LabelsWithBuddies(QWidget* page) {
    QList<QPair<QString, QString>> labels;
    for (QLabel* label : page->findChildren<QLabel*>()) {
        if (label->objectName() == QLatin1String("hint")) {
            continue;  // the edit's hint line, empty until a character is refused
        }
        labels.append(
            {label->text(), label->buddy() != nullptr ? label->buddy()->objectName() : QString()});
    }
    return labels;
}

QStringList GroupTitles(QWidget* page) {
    QStringList titles;
    for (QGroupBox* box : page->findChildren<QGroupBox*>()) {
        titles << box->title();
    }
    return titles;
}

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) {
        items << box->itemText(i);
    }
    return items;
}

}  // namespace

class TestPropertySheet : public QObject {
    Q_OBJECT

private:
    void Make(const QString& soundsFolder);
    bool Open();
    void VisitNotifications();
    void Record(const char* name);
    template <class T>
    T* Control(const char* name) const {
        auto* control = m_sheet->findChild<T*>(QString::fromLatin1(name));
        if (control == nullptr) {
            qFatal("no control %s", name);
        }
        return control;
    }
    QPushButton* Button(QDialogButtonBox::StandardButton which) const {
        return m_sheet->findChild<QDialogButtonBox*>()->button(which);
    }
    QString SoundsFolder() const { return m_dir->filePath(QStringLiteral("Sounds")); }

    std::unique_ptr<AppState> m_state;
    RecordingBoxes m_presenter;
    std::string m_logon;
    std::vector<std::string> m_calls;
    std::vector<SettingsRecord> m_seen;  // the settings as each apply call saw them
    QString m_title;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CMX3PropertySheet> m_sheet;

private Q_SLOTS:
    void init();
    void cleanup();

    void sheetHasCaptionTabsAndButtons();
    void execReturnsAcceptedOnOkAndRejectedOnCancel();
    void appearanceShowsDefaults();
    void notificationsShowDefaults();
    void pagesKeepTemplateOrderLabelsAndGroups();
    void oddStoredValuesShowAndWriteBack();
    void transparencySliderClampsAndWritesBack_data();
    void transparencySliderClampsAndWritesBack();
    void appearanceOkWritesAndAppliesInOrder();
    void windowsUserNameIgnoresTypedName();
    void clearedNameIsStoredEmpty();
    void nameEditTakesAtMost47Characters();
    void nameRefusesCharactersOutsideTheCodePage();
    void notificationsOkWritesEverySetting();
    void cancelAfterChangingEverythingChangesNothing();
    void pageNeverShownKeepsItsSettings();
    void soundFolderListHoldsSortedSubFoldersOnly();
    void soundFolderSelectsOnlyTheExactName_data();
    void soundFolderSelectsOnlyTheExactName();
    void missingSoundsFolderGivesEmptyList();
    void minutesFieldWarnsAndConverts_data();
    void minutesFieldWarnsAndConverts();
    void minutesWarningsDoNotPile();
    void withoutAnIdleProbeThePageSaysSoAndKeepsTheSetting();
    void onWaylandTopMostAndTransparencyAreOffAndKeepTheirSettings();
    void networkListIsCheckedAsTypedAndAWrongOneIsNeverStored();
};

void TestPropertySheet::Record(const char* name) {
    m_calls.emplace_back(name);
    m_seen.push_back(m_state->Settings());
}

void TestPropertySheet::Make(const QString& soundsFolder) {
    m_sheet.reset();
    m_sheet = std::make_unique<CMX3PropertySheet>(
        *m_state, m_presenter, [this] { return m_logon; }, soundsFolder, nullptr,
        [] {
            return std::vector<std::pair<std::string, std::string>>{{"10.1.2.7", Cp("Jiří@PC7")}};
        });
    CMX3PropPgVisage* visage = m_sheet->VisagePage();
    connect(visage, &CMX3PropPgVisage::CaptionChanged, this, [this](const QString& caption) {
        Record("setMainTitle");
        m_title = caption;
    });
    connect(visage, &CMX3PropPgVisage::IconsChanged, this, [this] { Record("loadIcons"); });
    connect(visage, &CMX3PropPgVisage::TransparencyChanged, this,
            [this] { Record("applyTransparency"); });
    connect(visage, &CMX3PropPgVisage::TopMostChanged, this, [this] { Record("applyTopMost"); });
}

bool TestPropertySheet::Open() {
    m_sheet->show();
    return QTest::qWaitForWindowExposed(m_sheet.get());
}

void TestPropertySheet::VisitNotifications() {
    m_sheet->findChild<QTabWidget*>(QStringLiteral("pages"))->setCurrentIndex(1);
}

void TestPropertySheet::init() {
    // A first run: defaults, then the derived values of a start.
    m_state = std::make_unique<AppState>();
    ApplyDerivedDefaults(*m_state, FixedNames{});
    m_logon = Cp("Šárka");
    m_presenter.messages.clear();
    m_presenter.whileOpen = nullptr;
    m_calls.clear();
    m_seen.clear();
    m_title.clear();

    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QDir root(m_dir->path());
    QVERIFY(root.mkpath(QStringLiteral("Sounds/Standard")));
    QVERIFY(root.mkpath(QStringLiteral("Sounds/Tiché")));
    QFile file(root.filePath(QStringLiteral("Sounds/readme.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a scheme");
    file.close();

    Make(SoundsFolder());
}

void TestPropertySheet::cleanup() {
    m_sheet.reset();
    m_dir.reset();
    m_state.reset();
}

void TestPropertySheet::sheetHasCaptionTabsAndButtons() {
    QVERIFY(Open());
    QCOMPARE(m_sheet->windowTitle(), QStringLiteral("Nastavení parametrů"));
    auto* tabs = m_sheet->findChild<QTabWidget*>(QStringLiteral("pages"));
    QVERIFY(tabs != nullptr);
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Vzhled"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Upozornění"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("Síť"));
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->widget(0), static_cast<QWidget*>(m_sheet->VisagePage()));
    QCOMPARE(tabs->widget(1), static_cast<QWidget*>(m_sheet->NoticePage()));

    // The second page is filled only when its tab is first shown, but the
    // sheet is sized for it from the start.
    QVERIFY(m_sheet->VisagePage()->WasShown());
    QVERIFY(!m_sheet->NoticePage()->WasShown());
    QCOMPARE(Control<QComboBox>("soundFolder")->count(), 0);
    const QSize opened = m_sheet->size();
    QVERIFY(opened.width() >= m_sheet->NoticePage()->sizeHint().width());

    QVERIFY(Button(QDialogButtonBox::Ok) != nullptr);
    QVERIFY(Button(QDialogButtonBox::Cancel) != nullptr);
    QPushButton* apply = Button(QDialogButtonBox::Apply);
    QVERIFY(apply != nullptr);
    QVERIFY(!apply->isEnabled());

    Toggle(Control<QCheckBox>("topMost"));
    VisitNotifications();
    QVERIFY(m_sheet->NoticePage()->WasShown());
    QCOMPARE(Control<QComboBox>("soundFolder")->count(), 2);
    QCoreApplication::processEvents();
    QCOMPARE(m_sheet->size(), opened);
    Toggle(Control<QCheckBox>("playSoundsOff"));
    QVERIFY(!apply->isEnabled());
}

void TestPropertySheet::execReturnsAcceptedOnOkAndRejectedOnCancel() {
    QTimer::singleShot(0, this, [this] { Button(QDialogButtonBox::Ok)->click(); });
    QCOMPARE(m_sheet->exec(), int(QDialog::Accepted));
    QCOMPARE(m_calls.size(), std::size_t{4});

    m_calls.clear();
    Make(SoundsFolder());
    QTimer::singleShot(0, this, [this] {
        Toggle(Control<QCheckBox>("topMost"));
        Button(QDialogButtonBox::Cancel)->click();
    });
    QCOMPARE(m_sheet->exec(), int(QDialog::Rejected));
    QVERIFY(m_calls.empty());
    QVERIFY(!m_state->Settings().topMost);
}

void TestPropertySheet::appearanceShowsDefaults() {
    QVERIFY(Open());
    auto* userName = Control<QLineEdit>("userName");
    QCOMPARE(userName->text(), QStringLiteral("Šárka"));
    QVERIFY(!userName->isEnabled());
    QCOMPARE(userName->maxLength(), 47);
    auto* windowsUserName = Control<QCheckBox>("windowsUserName");
    QCOMPARE(windowsUserName->text(), QStringLiteral("načíst z Windows"));
    QVERIFY(windowsUserName->isChecked());
    auto* showMySelf = Control<QCheckBox>("showMySelf");
    QCOMPARE(showMySelf->text(), QStringLiteral("sebe v seznamu"));
    QVERIFY(!showMySelf->isChecked());

    auto* iconsType = Control<QComboBox>("iconsType");
    QCOMPARE(Items(iconsType), (QStringList{"Muz", "Zena"}));
    QCOMPARE(iconsType->currentIndex(), 0);
    QVERIFY(!iconsType->isEditable());
    auto* iconsSize = Control<QComboBox>("iconsSize");
    QCOMPARE(Items(iconsSize), (QStringList{"Velké", "Malé"}));
    QCOMPARE(iconsSize->currentIndex(), 0);
    QVERIFY(!iconsSize->isEditable());

    auto* topMost = Control<QCheckBox>("topMost");
    QCOMPARE(topMost->text(), QStringLiteral("stále navrchu"));
    QVERIFY(!topMost->isChecked());
    auto* transparency = Control<QSlider>("transparency");
    QCOMPARE(transparency->orientation(), Qt::Horizontal);
    QCOMPARE(transparency->minimum(), 0);
    QCOMPARE(transparency->maximum(), 90);
    QCOMPARE(transparency->tickPosition(), QSlider::NoTicks);
    QCOMPARE(transparency->value(), 50);

    // The check box switches the edit; the text stays.
    Toggle(windowsUserName);
    QVERIFY(userName->isEnabled());
    Toggle(windowsUserName);
    QVERIFY(!userName->isEnabled());
    QCOMPARE(userName->text(), QStringLiteral("Šárka"));
}

void TestPropertySheet::notificationsShowDefaults() {
    QVERIFY(Open());
    VisitNotifications();

    auto* soundFolder = Control<QComboBox>("soundFolder");
    QCOMPARE(soundFolder->currentText(), QStringLiteral("[Standard]"));
    QVERIFY(!soundFolder->isEditable());

    const std::vector<std::pair<const char*, QString>> boxes = {
        {"playSoundsOff", "zcela"},
        {"dndSoundsOff", "když je stav \"Nerušit\""},
        {"notificationsOff", "bubliny / dialogy"},
        {"connectMsgOff", "text připojení do okna zpáv"},
        {"disconMsgOff", "text odpojení do okna zpáv"},
        {"openOnClickOff", "dialog po kliknutí na bublinu"},
        {"checkActivity", "zobrazit stav Pryč pokud jsem neaktivní"},
    };
    for (const auto& [name, text] : boxes) {
        auto* box = Control<QCheckBox>(name);
        QCOMPARE(box->text(), text);
        QVERIFY2(!box->isChecked(), name);
    }
    auto* newUser = Control<QCheckBox>("newUserMsgOff");
    QCOMPARE(newUser->text(), QStringLiteral("bublinu když je nový uživatel"));
    QVERIFY(newUser->isChecked());

    auto* balloonTime = Control<QSlider>("balloonTime");
    QCOMPARE(balloonTime->orientation(), Qt::Horizontal);
    QCOMPARE(balloonTime->minimum(), 1);
    QCOMPARE(balloonTime->maximum(), 30);
    QCOMPARE(balloonTime->tickPosition(), QSlider::NoTicks);
    QCOMPARE(balloonTime->value(), 15);
    QCOMPARE(Control<QLineEdit>("inactivityMinutes")->text(), QStringLiteral("10"));
    QVERIFY(m_presenter.messages.empty());
}

void TestPropertySheet::pagesKeepTemplateOrderLabelsAndGroups() {
    QVERIFY(Open());
    const QStringList visage = {"userName",        "showMySelf", "iconsType",   "iconsSize",
                                "windowsUserName", "topMost",    "transparency"};
    QCOMPARE(TabOrder(Control<QLineEdit>("userName"), visage), visage);
    QCOMPARE(GroupTitles(m_sheet->VisagePage()), (QStringList{"Uživatel", "Ikony", "Okno"}));
    const QList<QPair<QString, QString>> visageLabels = {
        {"Jméno uživatele :", "userName"}, {"Zobrazit  :", "showMySelf"},
        {"Skupina ikon  :", "iconsType"},  {"Velikost ikon  :", "iconsSize"},
        {"Zobrazit  :", "topMost"},        {"Průhlednost (2K XP)", "transparency"},
    };
    QCOMPARE(LabelsWithBuddies(m_sheet->VisagePage()), visageLabels);

    VisitNotifications();
    const QStringList notice = {"soundFolder",      "dndSoundsOff",  "playSoundsOff",
                                "notificationsOff", "checkActivity", "inactivityMinutes",
                                "disconMsgOff",     "connectMsgOff", "balloonTime",
                                "newUserMsgOff",    "openOnClickOff"};
    QCOMPARE(TabOrder(Control<QComboBox>("soundFolder"), notice), notice);
    QCOMPARE(GroupTitles(m_sheet->NoticePage()),
             (QStringList{"Zvuky", "Upozornění", "Sledovat aktivitu (2K XP)"}));
    const QList<QPair<QString, QString>> noticeLabels = {
        {"Složka se zvukem :", "soundFolder"},
        {"Zakazat zvuky  :", "playSoundsOff"},
        {"Zakazat  :", "notificationsOff"},
        {"(2K XP)", "openOnClickOff"},
        {"Trvání bubliny (2K XP)  :", "balloonTime"},
        {"10s", ""},
        {"30s", ""},
        {"min.", "inactivityMinutes"},
    };
    QCOMPARE(LabelsWithBuddies(m_sheet->NoticePage()), noticeLabels);
}

void TestPropertySheet::oddStoredValuesShowAndWriteBack() {
    MemoryProfile profile;
    const auto put = [&](const char* name, int32_t value) {
        profile.WriteInt(kSettingsSection, name, value);
    };
    put("TopMost", 7);
    put("ShowMySelf", 7);
    put("WindowsUserName", 0);
    put("IconsType", -1);
    put("IconsSize", 5);
    put("Transpareny", 300);
    put("PlaySounds", 0);
    put("SoundsInDNDState", 7);
    put("Notifications", 0);
    put("CheckActivity", 7);
    put("InactivityMinutes", -3);
    put("EnableConnectMsg", 7);
    put("EnableDisconMsg", 0);
    put("BTooltipTimeout", 0);
    put("OnNewUserMessage", 7);
    put("OpenOnClickTooTip", 0);
    profile.WriteString(kSettingsSection, "UserName", Cp("Petr"));
    profile.WriteString(kSettingsSection, "SoundFolder", Cp("Tiché"));
    LoadSettings(*m_state, profile);
    const SettingsRecord before = m_state->Settings();

    QVERIFY(Open());
    QVERIFY(Control<QCheckBox>("topMost")->isChecked());
    QVERIFY(Control<QCheckBox>("showMySelf")->isChecked());
    QVERIFY(!Control<QCheckBox>("windowsUserName")->isChecked());
    QVERIFY(Control<QLineEdit>("userName")->isEnabled());
    QCOMPARE(Control<QLineEdit>("userName")->text(), QStringLiteral("Petr"));
    QCOMPARE(Control<QComboBox>("iconsType")->currentIndex(), -1);
    QCOMPARE(Control<QComboBox>("iconsSize")->currentIndex(), -1);
    QCOMPARE(Control<QSlider>("transparency")->value(), 0);

    VisitNotifications();
    QCOMPARE(Control<QComboBox>("soundFolder")->currentText(), QStringLiteral("[Tiché]"));
    QVERIFY(Control<QCheckBox>("playSoundsOff")->isChecked());
    QVERIFY(!Control<QCheckBox>("dndSoundsOff")->isChecked());
    QVERIFY(Control<QCheckBox>("notificationsOff")->isChecked());
    QVERIFY(Control<QCheckBox>("checkActivity")->isChecked());
    QCOMPARE(Control<QLineEdit>("inactivityMinutes")->text(), QStringLiteral("-3"));
    QVERIFY(!Control<QCheckBox>("connectMsgOff")->isChecked());
    QVERIFY(Control<QCheckBox>("disconMsgOff")->isChecked());
    QCOMPARE(Control<QSlider>("balloonTime")->value(), 1);
    QVERIFY(!Control<QCheckBox>("newUserMsgOff")->isChecked());
    QVERIFY(Control<QCheckBox>("openOnClickOff")->isChecked());
    QVERIFY(m_presenter.messages.empty());

    QTest::mouseClick(Button(QDialogButtonBox::Ok), Qt::LeftButton);
    QCOMPARE(m_sheet->result(), int(QDialog::Accepted));
    SettingsRecord expected = before;
    expected.iconsType = 0;
    expected.iconsSize = 0;
    expected.transpareny = 100;
    expected.bTooltipTimeout = 1;
    const SettingsRecord after = m_state->Settings();
    QCOMPARE(after.iconsType, 0);
    QCOMPARE(after.iconsSize, 0);
    QCOMPARE(after.transpareny, 100);
    QCOMPARE(after.bTooltipTimeout, 1);
    QCOMPARE(after.userName, Cp("Petr"));
    QCOMPARE(after.soundFolder, Cp("Tiché"));
    QVERIFY(after == expected);

    // Flags that read as set go back to the profile as 1.
    MemoryProfile saved;
    SaveSettings(*m_state, saved);
    QCOMPARE(saved.ReadInt(kSettingsSection, "TopMost").value_or(-1), 1);
    QCOMPARE(saved.ReadInt(kSettingsSection, "CheckActivity").value_or(-1), 1);
}

void TestPropertySheet::transparencySliderClampsAndWritesBack_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("written");
    QTest::newRow("default") << 50 << 50 << 50;
    QTest::newRow("opaque") << 100 << 0 << 100;
    QTest::newRow("faintest") << 10 << 90 << 10;
    QTest::newRow("above 100") << 300 << 0 << 100;
    QTest::newRow("zero") << 0 << 90 << 10;
    QTest::newRow("negative") << -300 << 90 << 10;
    QTest::newRow("int max") << std::numeric_limits<int32_t>::max() << 0 << 100;
    QTest::newRow("int min") << std::numeric_limits<int32_t>::min() << 90 << 10;
}

void TestPropertySheet::transparencySliderClampsAndWritesBack() {
    QFETCH(int, stored);
    QFETCH(int, position);
    QFETCH(int, written);
    m_state->Modify([&](SettingsRecord& s) { s.transpareny = stored; });
    QVERIFY(Open());
    QCOMPARE(Control<QSlider>("transparency")->value(), position);
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_state->Settings().transpareny, written);
}

void TestPropertySheet::appearanceOkWritesAndAppliesInOrder() {
    const SettingsRecord before = m_state->Settings();
    QVERIFY(Open());
    Toggle(Control<QCheckBox>("windowsUserName"));
    ReplaceText(Control<QLineEdit>("userName"), QStringLiteral("Žofie"));
    Toggle(Control<QCheckBox>("showMySelf"));
    QTest::keyClick(Control<QComboBox>("iconsType"), Qt::Key_Down);
    QTest::keyClick(Control<QComboBox>("iconsSize"), Qt::Key_Down);
    Toggle(Control<QCheckBox>("topMost"));
    Control<QSlider>("transparency")->setValue(70);

    QTest::mouseClick(Button(QDialogButtonBox::Ok), Qt::LeftButton);
    QCOMPARE(m_sheet->result(), int(QDialog::Accepted));

    SettingsRecord expected = before;
    expected.topMost = true;
    expected.transpareny = 30;
    expected.showMySelf = true;
    expected.iconsType = 1;
    expected.iconsSize = 1;
    expected.windowsUserName = false;
    expected.userName = Cp("Žofie");
    const SettingsRecord after = m_state->Settings();
    QCOMPARE(after.userName, Cp("Žofie"));
    QCOMPARE(after.transpareny, 30);
    QCOMPARE(after.iconsType, 1);
    QCOMPARE(after.iconsSize, 1);
    QVERIFY(after == expected);

    QCOMPARE(m_calls, (std::vector<std::string>{"setMainTitle", "loadIcons", "applyTransparency",
                                                "applyTopMost"}));
    QCOMPARE(m_title, QStringLiteral("Žofie@PC"));
    // Everything is in the settings before the first effect is applied.
    for (const SettingsRecord& seen : m_seen) {
        QVERIFY(seen == expected);
    }
}

void TestPropertySheet::windowsUserNameIgnoresTypedName() {
    m_state->Modify([](SettingsRecord& s) {
        s.windowsUserName = false;
        s.userName = Cp("Petr");
    });
    QVERIFY(Open());
    auto* userName = Control<QLineEdit>("userName");
    auto* windowsUserName = Control<QCheckBox>("windowsUserName");
    QVERIFY(userName->isEnabled());
    QVERIFY(!windowsUserName->isChecked());
    QCOMPARE(userName->text(), QStringLiteral("Petr"));

    ReplaceText(userName, QStringLiteral("Karel"));
    Toggle(windowsUserName);
    QVERIFY(!userName->isEnabled());
    QCOMPARE(userName->text(), QStringLiteral("Karel"));
    m_logon = Cp("Jiří");  // the logon name is asked at OK
    Button(QDialogButtonBox::Ok)->click();

    QCOMPARE(m_state->Settings().userName, Cp("Jiří"));
    QVERIFY(m_state->Settings().windowsUserName);
    QCOMPARE(m_title, QStringLiteral("Jiří@PC"));
}

void TestPropertySheet::clearedNameIsStoredEmpty() {
    QVERIFY(Open());
    Toggle(Control<QCheckBox>("windowsUserName"));
    auto* userName = Control<QLineEdit>("userName");
    userName->selectAll();
    QTest::keyClick(userName, Qt::Key_Backspace);
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_state->Settings().userName, std::string());
    QCOMPARE(m_title, QStringLiteral("@PC"));
}

void TestPropertySheet::nameEditTakesAtMost47Characters() {
    QVERIFY(Open());
    Toggle(Control<QCheckBox>("windowsUserName"));
    ReplaceText(Control<QLineEdit>("userName"), QString(60, QChar(u'ž')));
    QCOMPARE(Control<QLineEdit>("userName")->text(), QString(47, QChar(u'ž')));
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_state->Settings().userName, std::string(47, Cp("ž")[0]));
}

// A character that code page 1250 cannot hold is refused in the field, with
// the conversation input's hint, and never stored as "?".
void TestPropertySheet::nameRefusesCharactersOutsideTheCodePage() {
    QVERIFY(Open());
    Toggle(Control<QCheckBox>("windowsUserName"));
    auto* userName = Control<QLineEdit>("userName");
    auto* hint = Control<QLabel>("hint");
    ReplaceText(userName, QStringLiteral("Petr"));
    QVERIFY(hint->text().isEmpty());
    TypeText(userName, QStringLiteral("€Ω"));
    QCOMPARE(userName->text(), QStringLiteral("Petr€"));
    QCOMPARE(hint->text(), platform::Cp1250Validator::CharacterHint());
    TypeText(userName, QStringLiteral("a"));  // the hint outlasts the next key
    QTRY_COMPARE(hint->text(), platform::Cp1250Validator::CharacterHint());
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_state->Settings().userName, Cp("Petr€a"));
}

void TestPropertySheet::notificationsOkWritesEverySetting() {
    const SettingsRecord before = m_state->Settings();
    QVERIFY(Open());
    VisitNotifications();
    QTest::keyClick(Control<QComboBox>("soundFolder"), Qt::Key_Down);
    for (const char* name : {"playSoundsOff", "dndSoundsOff", "notificationsOff", "connectMsgOff",
                             "disconMsgOff", "newUserMsgOff", "openOnClickOff", "checkActivity"}) {
        Toggle(Control<QCheckBox>(name));
    }
    // Slider at the far left: one second.
    QTest::keyClick(Control<QSlider>("balloonTime"), Qt::Key_Home);
    ReplaceText(Control<QLineEdit>("inactivityMinutes"), QStringLiteral("25"));

    QTest::mouseClick(Button(QDialogButtonBox::Ok), Qt::LeftButton);
    QCOMPARE(m_sheet->result(), int(QDialog::Accepted));
    SettingsRecord expected = before;
    expected.soundFolder = Cp("Tiché");
    expected.playSounds = false;
    expected.soundsInDndState = false;
    expected.notifications = false;
    expected.checkActivity = true;
    expected.inactivityMinutes = 25;
    expected.enableConnectMsg = false;
    expected.enableDisconMsg = false;
    expected.bTooltipTimeout = 1;
    expected.onNewUserMessage = true;
    expected.openOnClickTooTip = false;
    const SettingsRecord after = m_state->Settings();
    QCOMPARE(after.soundFolder, Cp("Tiché"));
    QCOMPARE(after.inactivityMinutes, 25);
    QCOMPARE(after.bTooltipTimeout, 1);
    QVERIFY(after == expected);
    // The Appearance page was shown too, and applies at every OK.
    QCOMPARE(m_calls, (std::vector<std::string>{"setMainTitle", "loadIcons", "applyTransparency",
                                                "applyTopMost"}));
    QVERIFY(m_presenter.messages.empty());
}

void TestPropertySheet::cancelAfterChangingEverythingChangesNothing() {
    const SettingsRecord before = m_state->Settings();
    QVERIFY(Open());
    Toggle(Control<QCheckBox>("windowsUserName"));
    ReplaceText(Control<QLineEdit>("userName"), QStringLiteral("Jiný"));
    Toggle(Control<QCheckBox>("showMySelf"));
    QTest::keyClick(Control<QComboBox>("iconsType"), Qt::Key_Down);
    QTest::keyClick(Control<QComboBox>("iconsSize"), Qt::Key_Down);
    Toggle(Control<QCheckBox>("topMost"));
    QTest::keyClick(Control<QSlider>("transparency"), Qt::Key_End);
    VisitNotifications();
    QTest::keyClick(Control<QComboBox>("soundFolder"), Qt::Key_Down);
    for (const char* name : {"playSoundsOff", "dndSoundsOff", "notificationsOff", "connectMsgOff",
                             "disconMsgOff", "newUserMsgOff", "openOnClickOff", "checkActivity"}) {
        Toggle(Control<QCheckBox>(name));
    }
    QTest::keyClick(Control<QSlider>("balloonTime"), Qt::Key_End);
    ReplaceText(Control<QLineEdit>("inactivityMinutes"), QStringLiteral("3"));

    QTest::mouseClick(Button(QDialogButtonBox::Cancel), Qt::LeftButton);
    QCOMPARE(m_sheet->result(), int(QDialog::Rejected));
    QVERIFY(m_state->Settings() == before);
    QVERIFY(m_calls.empty());
    QVERIFY(m_title.isEmpty());
}

void TestPropertySheet::pageNeverShownKeepsItsSettings() {
    m_state->Modify([](SettingsRecord& s) {
        s.soundFolder = Cp("Jiná");  // not among the folders
        s.bTooltipTimeout = 99;
        s.playSounds = false;
        s.inactivityMinutes = 0;
        s.onNewUserMessage = true;
    });
    const SettingsRecord before = m_state->Settings();
    QVERIFY(Open());
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_sheet->result(), int(QDialog::Accepted));
    QVERIFY(!m_sheet->NoticePage()->WasShown());
    QCOMPARE(m_state->Settings().soundFolder, Cp("Jiná"));
    QCOMPARE(m_state->Settings().bTooltipTimeout, 99);
    QVERIFY(m_state->Settings() == before);
    QCOMPARE(m_calls.size(), std::size_t{4});

    // Shown once, the same page writes what its controls hold.
    Make(SoundsFolder());
    QVERIFY(Open());
    VisitNotifications();
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_state->Settings().soundFolder, std::string());
    QCOMPARE(m_state->Settings().bTooltipTimeout, 30);
}

void TestPropertySheet::soundFolderListHoldsSortedSubFoldersOnly() {
    QDir root(SoundsFolder());
    QVERIFY(root.mkpath(QStringLiteral("zvonky")));
    QVERIFY(root.mkpath(QStringLiteral("Alfa")));
    QVERIFY(root.mkpath(QStringLiteral("beta")));
    QVERIFY(root.mkpath(QStringLiteral("Standard/vnořená")));
    QVERIFY(Open());
    VisitNotifications();
    auto* soundFolder = Control<QComboBox>("soundFolder");
    QCOMPARE(Items(soundFolder),
             (QStringList{"[Alfa]", "[beta]", "[Standard]", "[Tiché]", "[zvonky]"}));
    QCOMPARE(soundFolder->currentText(), QStringLiteral("[Standard]"));

    QTest::keyClick(soundFolder, Qt::Key_End);
    QCOMPARE(soundFolder->currentText(), QStringLiteral("[zvonky]"));
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_state->Settings().soundFolder, std::string("zvonky"));
}

void TestPropertySheet::soundFolderSelectsOnlyTheExactName_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("listed") << QStringLiteral("Tiché") << QStringLiteral("[Tiché]");
    QTest::newRow("other case") << QStringLiteral("tiché") << QString();
    QTest::newRow("prefix") << QStringLiteral("Tich") << QString();
    QTest::newRow("with brackets") << QStringLiteral("[Tiché]") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestPropertySheet::soundFolderSelectsOnlyTheExactName() {
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    m_state->Modify(
        [&](SettingsRecord& s) { s.soundFolder = cp1250::FromUtf8(stored.toStdString()); });
    QVERIFY(Open());
    VisitNotifications();
    QCOMPARE(Control<QComboBox>("soundFolder")->currentText(), shown);
    Button(QDialogButtonBox::Ok)->click();
    const QString written = shown.isEmpty() ? QString() : stored;
    QCOMPARE(m_state->Settings().soundFolder, cp1250::FromUtf8(written.toStdString()));
}

void TestPropertySheet::missingSoundsFolderGivesEmptyList() {
    Make(m_dir->filePath(QStringLiteral("Nothing")));
    QVERIFY(Open());
    VisitNotifications();
    auto* soundFolder = Control<QComboBox>("soundFolder");
    QCOMPARE(soundFolder->count(), 0);
    QCOMPARE(soundFolder->currentIndex(), -1);
    QCOMPARE(soundFolder->currentText(), QString());
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_state->Settings().soundFolder, std::string());
}

void TestPropertySheet::minutesFieldWarnsAndConverts_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<int>("stored");
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    // Every change while a character of the set is in the text warns again.
    QTest::newRow("trailing space") << QStringLiteral("12 ") << 1 << 12;
    QTest::newRow("minus") << QStringLiteral("-5") << 0 << -5;
    QTest::newRow("plus") << QStringLiteral("+7") << 0 << 7;
    QTest::newRow("letters") << QStringLiteral("abc") << 3 << 0;
    QTest::newRow("upper case") << QStringLiteral("XY") << 2 << 0;
    QTest::newRow("comma") << QStringLiteral("1,5") << 2 << 1;
    QTest::newRow("full stop") << QStringLiteral("3.0") << 2 << 3;
    QTest::newRow("czech lower") << QStringLiteral("2ě") << 1 << 2;
    QTest::newRow("czech upper") << QStringLiteral("Ř9") << 2 << 0;
    QTest::newRow("leading space") << QStringLiteral(" 8") << 2 << 8;
    QTest::newRow("other punctuation") << QStringLiteral("4#") << 0 << 4;
    QTest::newRow("czech outside the set") << QStringLiteral("6ů") << 0 << 6;
    QTest::newRow("two signs") << QStringLiteral("--3") << 0 << 0;
    QTest::newRow("int max") << QStringLiteral("2147483647") << 0 << kMax;
    QTest::newRow("above int max") << QStringLiteral("99999999999") << 0 << kMax;
    QTest::newRow("int min") << QStringLiteral("-2147483648") << 0 << kMin;
    QTest::newRow("below int min") << QStringLiteral("-99999999999") << 0 << kMin;
    QTest::newRow("empty") << QString() << 0 << 0;
}

void TestPropertySheet::minutesFieldWarnsAndConverts() {
    QFETCH(QString, typed);
    QFETCH(int, warnings);
    QFETCH(int, stored);
    QVERIFY(Open());
    VisitNotifications();
    auto* minutes = Control<QLineEdit>("inactivityMinutes");
    ReplaceText(minutes, typed);
    QCOMPARE(minutes->text(), typed);  // never corrected
    QCOMPARE(m_presenter.messages.size(), std::size_t(warnings));
    for (const auto& message : m_presenter.messages) {
        QCOMPARE(message.caption, std::string("Mrmx3"));
        QCOMPARE(message.text, Cp("Zadejte číslo!"));
        QVERIFY(message.icon == BoxIcon::Warning);
    }
    Button(QDialogButtonBox::Ok)->click();
    QCOMPARE(m_state->Settings().inactivityMinutes, stored);
}

void TestPropertySheet::minutesWarningsDoNotPile() {
    QVERIFY(Open());
    VisitNotifications();
    auto* minutes = Control<QLineEdit>("inactivityMinutes");
    int opened = 0;
    m_presenter.whileOpen = [&] {
        if (++opened == 1) {
            minutes->insert(QStringLiteral("x"));  // a change while the box is open
        }
    };
    TypeText(minutes, QStringLiteral("a"));
    QCOMPARE(m_presenter.messages.size(), std::size_t{1});
    QCOMPARE(minutes->text(), QStringLiteral("10ax"));
    // Once closed, the next change warns again.
    TypeText(minutes, QStringLiteral("1"));
    QCOMPARE(m_presenter.messages.size(), std::size_t{2});
}

void TestPropertySheet::withoutAnIdleProbeThePageSaysSoAndKeepsTheSetting() {
    m_state->Modify([](SettingsRecord& s) { s.checkActivity = true; });
    m_sheet->NoticePage()->SetActivityWatchAvailable(false);
    QVERIFY(Open());
    VisitNotifications();
    auto* note = Control<QLabel>("activityUnavailable");
    QCOMPARE(note->text(), QStringLiteral("Sledování aktivity zde není k dispozici."));
    QVERIFY(note->isVisible());
    auto* checkActivity = Control<QCheckBox>("checkActivity");
    QVERIFY(!checkActivity->isEnabled());
    QVERIFY(checkActivity->isChecked());
    QVERIFY(!Control<QLineEdit>("inactivityMinutes")->isEnabled());
    Button(QDialogButtonBox::Ok)->click();
    QVERIFY(m_state->Settings().checkActivity);
}

// The compositor decides there: the page says so and OK keeps the settings,
// also a transparency the slider cannot show.
void TestPropertySheet::onWaylandTopMostAndTransparencyAreOffAndKeepTheirSettings() {
    QVERIFY(CMX3PropPgVisage::WindowStyleAvailable(QStringLiteral("xcb")));
    m_state->Modify([](SettingsRecord& s) {
        s.topMost = true;
        s.transpareny = 300;
    });
    m_sheet->VisagePage()->SetWindowStyleAvailable(
        CMX3PropPgVisage::WindowStyleAvailable(QStringLiteral("wayland")));
    QVERIFY(Open());
    QTRY_VERIFY(Control<QLabel>("windowStyleUnavailable")->isVisible());
    QVERIFY(!Control<QCheckBox>("topMost")->isEnabled());
    QVERIFY(!Control<QSlider>("transparency")->isEnabled());
    Button(QDialogButtonBox::Ok)->click();
    QTRY_COMPARE(m_sheet->result(), int(QDialog::Accepted));
    QVERIFY(m_state->Settings().topMost);
    QCOMPARE(m_state->Settings().transpareny, int32_t{300});
}

QTEST_MAIN(TestPropertySheet)
void TestPropertySheet::networkListIsCheckedAsTypedAndAWrongOneIsNeverStored() {
    m_state->Modify([](SettingsRecord& s) { s.extraAddresses = "10.1.2.0/24"; });
    QVERIFY(Open());
    auto* tabs = m_sheet->findChild<QTabWidget*>(QStringLiteral("pages"));
    tabs->setCurrentIndex(2);
    auto* field = Control<QPlainTextEdit>("extraAddresses");
    auto* hint = Control<QLabel>("extraAddressesHint");
    QCOMPARE(field->toPlainText(), QStringLiteral("10.1.2.0/24"));
    auto* remote = Control<QTreeWidget>("remotePeers");
    QCOMPARE(remote->topLevelItemCount(), 1);
    QCOMPARE(remote->topLevelItem(0)->text(0), QStringLiteral("10.1.2.7"));
    QCOMPARE(remote->topLevelItem(0)->text(1), QStringLiteral("Jiří@PC7"));

    // A wrong entry is pointed at while typed, and OK keeps the sheet open
    // on this page with nothing written, the other pages' changes neither.
    tabs->setCurrentIndex(0);
    Toggle(Control<QCheckBox>("topMost"));
    tabs->setCurrentIndex(2);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(field, QStringLiteral(" 10.1.3.300"));
    QTRY_VERIFY(hint->isVisible());
    QCOMPARE(hint->text(), QStringLiteral("Neplatná položka: 10.1.3.300"));
    tabs->setCurrentIndex(0);
    QTest::mouseClick(Button(QDialogButtonBox::Ok), Qt::LeftButton);
    QVERIFY(m_sheet->isVisible());
    QCOMPARE(tabs->currentIndex(), 2);
    QCOMPARE(m_state->Settings().extraAddresses, "10.1.2.0/24");
    QVERIFY(!m_state->Settings().topMost);

    QTest::keyClick(field, Qt::Key_Backspace);
    QTRY_VERIFY(!hint->isVisible());
    QTest::mouseClick(Button(QDialogButtonBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(!m_sheet->isVisible());
    QCOMPARE(m_state->Settings().extraAddresses, "10.1.2.0/24 10.1.3.30");
    QVERIFY(m_state->Settings().topMost);
}

#include "TestPropertySheet.moc"
