// src/widgets/settings/PropPgNetwork.h
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/settings/AppState.h"

class QLabel;
class QPlainTextEdit;
class QShowEvent;
class QTreeWidget;

// The "Síť" page: the extra addresses a broadcast also goes to, one field,
// checked as it is typed, and the peers heard from beyond this computer's
// networks, read only. Filled when first shown; OK is for a page that was
// shown, and only with a list that holds nothing else than addresses,
// subnets and host names.
class CMX3PropPgNetwork final : public QWidget {
    Q_OBJECT
public:
    // A remote peer as the list shows it: address and name (code page 1250).
    using RemotePeers = std::function<std::vector<std::pair<std::string, std::string>>()>;

    CMX3PropPgNetwork(AppState& state, RemotePeers remotePeers, QWidget* parent = nullptr);

    bool WasShown() const { return m_shown; }
    // Whether OK may write the page: it was not shown, or its list is valid.
    bool Valid() const;
    // The hint says what is wrong, and the field has the focus.
    void PointAtProblem();
    void OnOK();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The hint for the field's text; empty for a valid list.
    QString Problem() const;
    void ShowProblem();

    AppState& m_state;
    RemotePeers m_remotePeers;
    bool m_shown = false;
    QPlainTextEdit* m_addresses = nullptr;
    QLabel* m_hint = nullptr;
    QTreeWidget* m_remote = nullptr;
};
