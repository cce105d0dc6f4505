// src/widgets/settings/PropertySheet.cpp
#include "widgets/settings/PropertySheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <utility>

#include "core/res/Strings.h"
#include "widgets/adapters/TextCodec.h"

CMX3PropertySheet::CMX3PropertySheet(AppState& state, platform::MessageBoxes& boxes,
                                     std::function<std::string()> logonName, QString soundsFolder,
                                     QWidget* parent, CMX3PropPgNetwork::RemotePeers remotePeers)
    : QDialog(parent), m_boxes(boxes) {
    setObjectName(QStringLiteral("propertySheet"));
    setWindowTitle(platform::FromCp1250(res::String(res::kStrSettingsCaption)));

    m_visage = new CMX3PropPgVisage(state, std::move(logonName));
    m_notice = new CMX3PropPgNotice(state, *this, std::move(soundsFolder));
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("pages"));
    m_tabs->addTab(m_visage, QStringLiteral("Vzhled"));
    m_tabs->addTab(m_notice, QStringLiteral("Upozornění"));
    m_network = new CMX3PropPgNetwork(state, std::move(remotePeers));
    m_tabs->addTab(m_network, QStringLiteral("Síť"));
    m_tabs->setCurrentIndex(0);

    m_buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    m_buttons->button(QDialogButtonBox::Apply)->setEnabled(false);
    m_buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Storno"));
    m_buttons->button(QDialogButtonBox::Apply)->setText(QStringLiteral("Použít"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_buttons);
}

QString CMX3PropertySheet::DefaultSoundsFolder() {
    return platform::FromCp1250(res::String(res::kStrSoundsFolder));
}

void CMX3PropertySheet::ShowMessage(const std::string& caption, const std::string& text,
                                    BoxIcon icon) {
    m_boxes.Show(this, caption, text, icon);
}

void CMX3PropertySheet::accept() {
    if (!m_network->Valid()) {
        m_tabs->setCurrentWidget(m_network);
        m_network->PointAtProblem();
        return;
    }
    m_visage->OnOK();
    m_notice->OnOK();
    m_network->OnOK();
    QDialog::accept();
}
