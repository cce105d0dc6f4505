// src/widgets/settings/PropPgNetwork.cpp
#include "widgets/settings/PropPgNetwork.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/net/ExtraDestinations.h"
#include "widgets/adapters/TextCodec.h"

CMX3PropPgNetwork::CMX3PropPgNetwork(AppState& state, RemotePeers remotePeers, QWidget* parent)
    : QWidget(parent), m_state(state), m_remotePeers(std::move(remotePeers)) {
    setObjectName(QStringLiteral("networkPage"));
    auto* explanation = new QLabel(QStringLiteral(
        "Ohlášení a zprávy všem jdou také na tyto adresy: adresa počítače (10.1.2.7), "
        "podsíť (10.1.2.0/24) nebo jméno počítače. Oddělte je mezerou, čárkou, středníkem "
        "nebo novým řádkem."));
    explanation->setWordWrap(true);
    m_addresses = new QPlainTextEdit;
    m_addresses->setObjectName(QStringLiteral("extraAddresses"));
    m_addresses->setTabChangesFocus(true);
    explanation->setBuddy(m_addresses);
    m_hint = new QLabel;
    m_hint->setObjectName(QStringLiteral("extraAddressesHint"));
    m_hint->setStyleSheet(QStringLiteral("color: #b00000"));
    m_hint->hide();
    connect(m_addresses, &QPlainTextEdit::textChanged, this, &CMX3PropPgNetwork::ShowProblem);

    auto* remoteLabel = new QLabel(QStringLiteral("Uživatelé slyšení za místní sítí:"));
    m_remote = new QTreeWidget;
    m_remote->setObjectName(QStringLiteral("remotePeers"));
    m_remote->setRootIsDecorated(false);
    m_remote->setHeaderLabels({QStringLiteral("Adresa"), QStringLiteral("Jméno")});
    m_remote->header()->setStretchLastSection(true);
    remoteLabel->setBuddy(m_remote);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addWidget(m_addresses, 2);
    layout->addWidget(m_hint);
    layout->addWidget(remoteLabel);
    layout->addWidget(m_remote, 1);
}

void CMX3PropPgNetwork::showEvent(QShowEvent* event) {
    if (!m_shown) {
        m_shown = true;
        m_addresses->setPlainText(platform::FromCp1250(
            m_state.Read([](const SettingsRecord& s) { return s.extraAddresses; })));
        for (const auto& [address, name] :
             m_remotePeers ? m_remotePeers() : decltype(m_remotePeers()){}) {
            new QTreeWidgetItem(m_remote,
                                {QString::fromStdString(address), platform::FromCp1250(name)});
        }
    }
    QWidget::showEvent(event);
}

QString CMX3PropPgNetwork::Problem() const {
    const QString text = m_addresses->toPlainText();
    // Every valid entry is plain ASCII; anything else is a wrong entry.
    const ExtraAddressList list = ParseExtraAddresses(text.toStdString());
    if (list.tooMany) {
        return QStringLiteral("Nejvýše %1 položek.").arg(ExtraAddressList::kMaxEntries);
    }
    if (!list.refused.empty()) {
        return QStringLiteral("Neplatná položka: %1").arg(QString::fromStdString(list.refused[0]));
    }
    return {};
}

void CMX3PropPgNetwork::ShowProblem() {
    const QString problem = Problem();
    m_hint->setText(problem);
    m_hint->setVisible(!problem.isEmpty());
}

bool CMX3PropPgNetwork::Valid() const {
    return !m_shown || Problem().isEmpty();
}

void CMX3PropPgNetwork::PointAtProblem() {
    ShowProblem();
    m_addresses->setFocus();
}

void CMX3PropPgNetwork::OnOK() {
    if (!m_shown || !Problem().isEmpty()) {
        return;
    }
    const std::string text = platform::ToCp1250(m_addresses->toPlainText().trimmed());
    m_state.Modify([&](SettingsRecord& s) { s.extraAddresses = text; });
}
