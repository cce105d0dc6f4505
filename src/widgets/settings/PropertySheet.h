// src/widgets/settings/PropertySheet.h
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "core/base/Presenter.h"
#include "core/settings/AppState.h"
#include "widgets/adapters/MessageBoxes.h"
#include "widgets/settings/PropPgNetwork.h"
#include "widgets/settings/PropPgNotice.h"
#include "widgets/settings/PropPgVisage.h"

class QDialogButtonBox;
class QTabWidget;

// The modal settings sheet "Nastavení parametrů" with the pages "Vzhled",
// "Upozornění" and "Síť", opening on the first. On OK every page that was
// shown writes its controls into the settings (in tab order) before the
// dialog closes with Accepted; the caller then saves the settings. A list of
// extra addresses with a wrong entry keeps the sheet open on its page, and
// nothing is written. Cancel changes nothing. Apply
// stays disabled: the pages never mark themselves modified. It opens over its
// parent, the main window. As a MessagePresenter it shows the pages' boxes,
// over the sheet.
class CMX3PropertySheet final : public QDialog, public MessagePresenter {
    Q_OBJECT
public:
    // logonName: the Windows logon name (code page 1250). soundsFolder: the
    // folder of the sound schemes, string 130 relative to the current
    // directory unless a test gives another.
    CMX3PropertySheet(AppState& state, platform::MessageBoxes& boxes,
                      std::function<std::string()> logonName,
                      QString soundsFolder = DefaultSoundsFolder(), QWidget* parent = nullptr,
                      CMX3PropPgNetwork::RemotePeers remotePeers = {});

    static QString DefaultSoundsFolder();

    CMX3PropPgVisage* VisagePage() const { return m_visage; }
    CMX3PropPgNotice* NoticePage() const { return m_notice; }
    CMX3PropPgNetwork* NetworkPage() const { return m_network; }

    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;

public Q_SLOTS:
    void accept() override;

private:
    platform::MessageBoxes& m_boxes;
    QTabWidget* m_tabs = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    CMX3PropPgVisage* m_visage = nullptr;
    CMX3PropPgNotice* m_notice = nullptr;
    CMX3PropPgNetwork* m_network = nullptr;
};
