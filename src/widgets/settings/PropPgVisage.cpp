// src/widgets/settings/PropPgVisage.cpp
#include "widgets/settings/PropPgVisage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "widgets/adapters/Cp1250Input.h"
#include "widgets/adapters/TextCodec.h"

namespace {

constexpr int kUserNameMaxLength = 47;
constexpr int kSliderMax = 90;  // 10 % opacity; the left end is 100 %

QLabel* AddRow(QGridLayout* grid, int row, const QString& label, QWidget* control) {
    QLabel* text = nullptr;
    if (!label.isEmpty()) {
        text = new QLabel(label);
        text->setBuddy(control);
        grid->addWidget(text, row, 0);
    }
    grid->addWidget(control, row, 1);
    return text;
}

QGridLayout* Grid(QGroupBox* box) {
    auto* grid = new QGridLayout(box);
    grid->setColumnStretch(1, 1);
    return grid;
}

// The index to select, or -1 (no selection) for one outside the list.
int ListIndex(const QComboBox* box, int32_t index) {
    return index >= 0 && index < box->count() ? index : -1;
}

}  // namespace

CMX3PropPgVisage::CMX3PropPgVisage(AppState& state, std::function<std::string()> logonName,
                                   QWidget* parent)
    : QWidget(parent),
      m_state(state),
      m_logonName(logonName ? std::move(logonName) : [] { return QueryWindowsUserName(); }) {
    setObjectName(QStringLiteral("visagePage"));
    // Made at once, so that the sheet is sized for every page before it opens.
    CreateControls();
}

void CMX3PropPgVisage::showEvent(QShowEvent* event) {
    if (!m_shown) {
        OnInitDialog();
        m_shown = true;
    }
    QWidget::showEvent(event);
}

bool CMX3PropPgVisage::WindowStyleAvailable(const QString& platformName) {
    return !platformName.startsWith(QLatin1String("wayland"));
}

void CMX3PropPgVisage::SetWindowStyleAvailable(bool available) {
    if (available || m_windowStyleUnavailable != nullptr) {
        return;
    }
    m_windowStyleAvailable = false;
    m_topMost->setEnabled(false);
    m_transparency->setEnabled(false);
    m_windowStyleUnavailable =
        new QLabel(QStringLiteral("Stále navrchu a průhlednost zde nejsou k dispozici."));
    m_windowStyleUnavailable->setObjectName(QStringLiteral("windowStyleUnavailable"));
    m_windowStyleUnavailable->setWordWrap(true);
    m_windowGrid->addWidget(m_windowStyleUnavailable, m_windowGrid->rowCount(), 0, 1, 2);
}

void CMX3PropPgVisage::CreateControls() {
    m_userName = new QLineEdit;
    m_userName->setObjectName(QStringLiteral("userName"));
    // The name travels in code page 1250: other characters are refused.
    auto* hint = new platform::InputHint;
    hint->Watch(m_userName);
    m_windowsUserName = new QCheckBox(QStringLiteral("načíst z Windows"));
    m_windowsUserName->setObjectName(QStringLiteral("windowsUserName"));
    m_showMySelf = new QCheckBox(QStringLiteral("sebe v seznamu"));
    m_showMySelf->setObjectName(QStringLiteral("showMySelf"));
    m_iconsType = new QComboBox;
    m_iconsType->setObjectName(QStringLiteral("iconsType"));
    m_iconsType->addItems({QStringLiteral("Muz"), QStringLiteral("Zena")});
    m_iconsSize = new QComboBox;
    m_iconsSize->setObjectName(QStringLiteral("iconsSize"));
    m_iconsSize->addItems({QStringLiteral("Velké"), QStringLiteral("Malé")});
    m_topMost = new QCheckBox(QStringLiteral("stále navrchu"));
    m_topMost->setObjectName(QStringLiteral("topMost"));
    m_transparency = new QSlider(Qt::Horizontal);
    m_transparency->setObjectName(QStringLiteral("transparency"));
    m_transparency->setTickPosition(QSlider::NoTicks);

    auto* user = new QGroupBox(QStringLiteral("Uživatel"));
    QGridLayout* userGrid = Grid(user);
    AddRow(userGrid, 0, QStringLiteral("Jméno uživatele :"), m_userName);
    AddRow(userGrid, 1, QString(), m_windowsUserName);
    AddRow(userGrid, 2, QStringLiteral("Zobrazit  :"), m_showMySelf);
    AddRow(userGrid, 3, QString(), hint);

    auto* icons = new QGroupBox(QStringLiteral("Ikony"));
    QGridLayout* iconsGrid = Grid(icons);
    AddRow(iconsGrid, 0, QStringLiteral("Skupina ikon  :"), m_iconsType);
    AddRow(iconsGrid, 1, QStringLiteral("Velikost ikon  :"), m_iconsSize);

    auto* window = new QGroupBox(QStringLiteral("Okno"));
    m_windowGrid = Grid(window);
    AddRow(m_windowGrid, 0, QStringLiteral("Zobrazit  :"), m_topMost);
    AddRow(m_windowGrid, 1, QStringLiteral("Průhlednost (2K XP)"), m_transparency);

    auto* column = new QVBoxLayout(this);
    column->addWidget(user);
    column->addWidget(icons);
    column->addWidget(window);
    column->addStretch(1);

    // The order of the dialog template.
    QWidget::setTabOrder(m_userName, m_showMySelf);
    QWidget::setTabOrder(m_showMySelf, m_iconsType);
    QWidget::setTabOrder(m_iconsType, m_iconsSize);
    QWidget::setTabOrder(m_iconsSize, m_windowsUserName);
    QWidget::setTabOrder(m_windowsUserName, m_topMost);
    QWidget::setTabOrder(m_topMost, m_transparency);

    connect(m_windowsUserName, &QCheckBox::toggled, this,
            [this](bool checked) { m_userName->setEnabled(!checked); });
}

void CMX3PropPgVisage::OnInitDialog() {
    const SettingsRecord s = m_state.Settings();
    m_topMost->setChecked(s.topMost);
    m_transparency->setRange(0, kSliderMax);
    // 64-bit so that no stored number overflows; the slider clamps.
    const int64_t position = int64_t{100} - s.transpareny;
    m_transparency->setValue(int(std::clamp<int64_t>(position, 0, kSliderMax)));
    m_userName->setText(platform::FromCp1250(s.userName));
    m_userName->setMaxLength(kUserNameMaxLength);
    m_userName->setEnabled(!s.windowsUserName);
    m_windowsUserName->setChecked(s.windowsUserName);
    m_showMySelf->setChecked(s.showMySelf);
    m_iconsType->setCurrentIndex(ListIndex(m_iconsType, s.iconsType));
    m_iconsSize->setCurrentIndex(ListIndex(m_iconsSize, s.iconsSize));
}

void CMX3PropPgVisage::OnOK() {
    if (!m_shown) {
        return;
    }
    const bool windowsUserName = m_windowsUserName->isChecked();
    const std::string userName =
        windowsUserName ? m_logonName() : platform::ToCp1250(m_userName->text());
    m_state.Modify([&](SettingsRecord& s) {
        // Disabled controls write nothing: the slider would clamp the value.
        if (m_windowStyleAvailable) {
            s.topMost = m_topMost->isChecked();
            s.transpareny = 100 - m_transparency->value();
        }
        s.showMySelf = m_showMySelf->isChecked();
        s.iconsType = std::max(0, m_iconsType->currentIndex());
        s.iconsSize = std::max(0, m_iconsSize->currentIndex());
        s.windowsUserName = windowsUserName;
        s.userName = userName;
    });

    Q_EMIT CaptionChanged(platform::FromCp1250(userName + "@" + m_state.ComputerName()));
    Q_EMIT IconsChanged();
    Q_EMIT TransparencyChanged();
    Q_EMIT TopMostChanged();
}
