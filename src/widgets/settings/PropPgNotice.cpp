// src/widgets/settings/PropPgNotice.cpp
#include "widgets/settings/PropPgNotice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cstddef>
#include <iterator>
#include <limits>
#include <utility>

#include "core/res/Strings.h"
#include "widgets/adapters/TextCodec.h"

namespace {

constexpr int kBalloonTimeMin = 1;
constexpr int kBalloonTimeMax = 30;
constexpr int kSoundFolderChars = 16;

QLabel* Label(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

QCheckBox* CheckBox(const char* name, const QString& text) {
    auto* box = new QCheckBox(text);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QGridLayout* Grid(QGroupBox* box) {
    auto* grid = new QGridLayout(box);
    grid->setColumnStretch(1, 1);
    return grid;
}

bool IsCSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

}  // namespace

CMX3PropPgNotice::CMX3PropPgNotice(AppState& state, MessagePresenter& presenter,
                                   QString soundsFolder, QWidget* parent)
    : QWidget(parent),
      m_state(state),
      m_presenter(presenter),
      m_soundsFolder(std::move(soundsFolder)) {
    setObjectName(QStringLiteral("noticePage"));
    // Made at once, so that the sheet is sized for every page before it opens.
    CreateControls();
}

void CMX3PropPgNotice::showEvent(QShowEvent* event) {
    if (!m_shown) {
        OnInitDialog();
        m_shown = true;
    }
    QWidget::showEvent(event);
}

void CMX3PropPgNotice::SetActivityWatchAvailable(bool available) {
    if (available || m_activityUnavailable != nullptr) {
        return;
    }
    m_checkActivity->setEnabled(false);
    m_inactivityMinutes->setEnabled(false);
    m_activityUnavailable = new QLabel(QStringLiteral("Sledování aktivity zde není k dispozici."));
    m_activityUnavailable->setObjectName(QStringLiteral("activityUnavailable"));
    m_activityUnavailable->setWordWrap(true);
    m_activityColumn->addWidget(m_activityUnavailable);
}

void CMX3PropPgNotice::CreateControls() {
    m_soundFolder = new QComboBox;
    m_soundFolder->setObjectName(QStringLiteral("soundFolder"));
    // As wide whatever the schemes are called: the list is filled only when
    // the page is first shown.
    m_soundFolder->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_soundFolder->setMinimumContentsLength(kSoundFolderChars);
    m_playSoundsOff = CheckBox("playSoundsOff", QStringLiteral("zcela"));
    m_dndSoundsOff = CheckBox("dndSoundsOff", QStringLiteral("když je stav \"Nerušit\""));
    m_notificationsOff = CheckBox("notificationsOff", QStringLiteral("bubliny / dialogy"));
    m_connectMsgOff = CheckBox("connectMsgOff", QStringLiteral("text připojení do okna zpáv"));
    m_disconMsgOff = CheckBox("disconMsgOff", QStringLiteral("text odpojení do okna zpáv"));
    m_newUserMsgOff = CheckBox("newUserMsgOff", QStringLiteral("bublinu když je nový uživatel"));
    m_openOnClickOff = CheckBox("openOnClickOff", QStringLiteral("dialog po kliknutí na bublinu"));
    m_balloonTime = new QSlider(Qt::Horizontal);
    m_balloonTime->setObjectName(QStringLiteral("balloonTime"));
    m_balloonTime->setTickPosition(QSlider::NoTicks);
    m_checkActivity =
        CheckBox("checkActivity", QStringLiteral("zobrazit stav Pryč pokud jsem neaktivní"));
    m_inactivityMinutes = new QLineEdit;
    m_inactivityMinutes->setObjectName(QStringLiteral("inactivityMinutes"));
    m_inactivityMinutes->setMaximumWidth(m_inactivityMinutes->fontMetrics().averageCharWidth() * 9);

    auto* sounds = new QGroupBox(QStringLiteral("Zvuky"));
    QGridLayout* soundsGrid = Grid(sounds);
    soundsGrid->addWidget(Label(QStringLiteral("Složka se zvukem :"), m_soundFolder), 0, 0);
    soundsGrid->addWidget(m_soundFolder, 0, 1);
    soundsGrid->addWidget(Label(QStringLiteral("Zakazat zvuky  :"), m_playSoundsOff), 1, 0);
    soundsGrid->addWidget(m_playSoundsOff, 1, 1);
    soundsGrid->addWidget(m_dndSoundsOff, 2, 1);

    auto* notices = new QGroupBox(QStringLiteral("Upozornění"));
    QGridLayout* noticesGrid = Grid(notices);
    noticesGrid->addWidget(Label(QStringLiteral("Zakazat  :"), m_notificationsOff), 0, 0);
    noticesGrid->addWidget(m_notificationsOff, 0, 1);
    noticesGrid->addWidget(m_connectMsgOff, 1, 1);
    noticesGrid->addWidget(m_disconMsgOff, 2, 1);
    noticesGrid->addWidget(m_newUserMsgOff, 3, 1);
    noticesGrid->addWidget(Label(QStringLiteral("(2K XP)"), m_openOnClickOff), 4, 0,
                           Qt::AlignRight);
    noticesGrid->addWidget(m_openOnClickOff, 4, 1);
    noticesGrid->addWidget(Label(QStringLiteral("Trvání bubliny (2K XP)  :"), m_balloonTime), 5, 0);
    auto* balloonRow = new QHBoxLayout;
    balloonRow->addWidget(new QLabel(QStringLiteral("10s")));
    balloonRow->addWidget(m_balloonTime, 1);
    balloonRow->addWidget(new QLabel(QStringLiteral("30s")));
    noticesGrid->addLayout(balloonRow, 5, 1);

    auto* activity = new QGroupBox(QStringLiteral("Sledovat aktivitu (2K XP)"));
    m_activityColumn = new QVBoxLayout(activity);
    auto* activityRow = new QHBoxLayout;
    m_activityColumn->addLayout(activityRow);
    activityRow->addWidget(m_checkActivity);
    activityRow->addWidget(m_inactivityMinutes);
    activityRow->addWidget(Label(QStringLiteral("min."), m_inactivityMinutes));
    activityRow->addStretch(1);

    auto* column = new QVBoxLayout(this);
    column->addWidget(sounds);
    column->addWidget(notices);
    column->addWidget(activity);
    column->addStretch(1);

    // The order of the dialog template.
    QWidget* const order[] = {m_soundFolder,      m_dndSoundsOff,  m_playSoundsOff,
                              m_notificationsOff, m_checkActivity, m_inactivityMinutes,
                              m_disconMsgOff,     m_connectMsgOff, m_balloonTime,
                              m_newUserMsgOff,    m_openOnClickOff};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void CMX3PropPgNotice::OnInitDialog() {
    const SettingsRecord s = m_state.Settings();

    m_soundFolder->clear();
    const QStringList folders =
        QDir(m_soundsFolder)
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& folder : folders) {
        m_soundFolder->addItem(u'[' + folder + u']');
    }
    const QString current = u'[' + platform::FromCp1250(s.soundFolder) + u']';
    m_soundFolder->setCurrentIndex(
        m_soundFolder->findText(current, Qt::MatchExactly | Qt::MatchCaseSensitive));

    m_playSoundsOff->setChecked(!s.playSounds);
    m_dndSoundsOff->setChecked(!s.soundsInDndState);
    m_notificationsOff->setChecked(!s.notifications);
    m_checkActivity->setChecked(s.checkActivity);
    m_inactivityMinutes->setText(QString::number(s.inactivityMinutes));
    connect(m_inactivityMinutes, &QLineEdit::textChanged, this,
            &CMX3PropPgNotice::OnChangeInactivityMinutes);
    m_connectMsgOff->setChecked(!s.enableConnectMsg);
    m_disconMsgOff->setChecked(!s.enableDisconMsg);
    m_balloonTime->setRange(kBalloonTimeMin, kBalloonTimeMax);
    m_balloonTime->setValue(std::clamp(s.bTooltipTimeout, kBalloonTimeMin, kBalloonTimeMax));
    m_newUserMsgOff->setChecked(!s.onNewUserMessage);
    m_openOnClickOff->setChecked(!s.openOnClickTooTip);
}

void CMX3PropPgNotice::OnChangeInactivityMinutes(const QString& text) {
    // The box is modal, but a change that still arrives while it is open must
    // not stack a second one on it.
    if (m_warningOpen || !HasNonNumberCharacter(text)) {
        return;
    }
    const QScopedValueRollback<bool> open(m_warningOpen, true);
    m_presenter.ShowMessage(res::String(res::kStrAppTitle), res::String(res::kStrEnterNumber),
                            BoxIcon::Warning);
}

void CMX3PropPgNotice::OnOK() {
    if (!m_shown) {
        return;
    }
    const QString listed = m_soundFolder->currentText();
    const QString folder = listed.size() >= 2 ? listed.mid(1, listed.size() - 2) : QString();
    const std::string soundFolder = platform::ToCp1250(folder);
    const int32_t minutes = ParseMinutes(m_inactivityMinutes->text());

    m_state.Modify([&](SettingsRecord& s) {
        s.soundFolder = soundFolder;
        s.playSounds = !m_playSoundsOff->isChecked();
        s.soundsInDndState = !m_dndSoundsOff->isChecked();
        s.notifications = !m_notificationsOff->isChecked();
        s.checkActivity = m_checkActivity->isChecked();
        s.inactivityMinutes = minutes;
        s.enableConnectMsg = !m_connectMsgOff->isChecked();
        s.enableDisconMsg = !m_disconMsgOff->isChecked();
        s.bTooltipTimeout = m_balloonTime->value();
        s.onNewUserMessage = !m_newUserMsgOff->isChecked();
        s.openOnClickTooTip = !m_openOnClickOff->isChecked();
    });
}

int32_t CMX3PropPgNotice::ParseMinutes(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && IsCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulated as a magnitude up to one past the largest, which is enough to
    // clamp on either side.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = std::min(kLimit, magnitude * 10 + (text[i].unicode() - u'0'));
    }
    const int64_t value = negative ? -magnitude : magnitude;
    return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

bool CMX3PropPgNotice::HasNonNumberCharacter(const QString& text) {
    static const QString kNotInNumbers =
        QStringLiteral(",.abcdefghijklmnopqrstuvwxyzěščřžýáíé ABCDEFGHIJKLMNOPQRSTUVWXYZĚŠČŘŽÝÁÍÉ");
    for (const QChar c : text) {
        if (kNotInNumbers.contains(c)) {
            return true;
        }
    }
    return false;
}
