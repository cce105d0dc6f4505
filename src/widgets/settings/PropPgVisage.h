// src/widgets/settings/PropPgVisage.h
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "core/settings/AppState.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QShowEvent;
class QSlider;

// The "Vzhled" page: user name, self-listing, icon set and size, top-most and
// transparency of the main window. Its controls are filled from the settings
// when the page is first shown; OK is for a page that was shown. The user name
// refuses characters outside code page 1250, with a hint. Its OK tells the
// running program what to apply at once through its signals.
class CMX3PropPgVisage final : public QWidget {
    Q_OBJECT
public:
    // logonName gives the Windows logon name (code page 1250); empty: the system's.
    CMX3PropPgVisage(AppState& state, std::function<std::string()> logonName,
                     QWidget* parent = nullptr);

    // Shown at least once: filled from the settings, and written back on OK.
    bool WasShown() const { return m_shown; }
    // Whether the window system lets a program keep its window on top and
    // make it transparent: not on Wayland, where the compositor decides.
    static bool WindowStyleAvailable(const QString& platformName);
    // Without it the page says that top-most and transparency are not
    // available here and disables their controls; OK keeps their settings
    // as they were. Before the sheet opens.
    void SetWindowStyleAvailable(bool available);
    // Writes the controls into the settings, then emits the signals below in
    // their order.
    void OnOK();

Q_SIGNALS:
    // The main window's caption: the user name and the computer name.
    void CaptionChanged(const QString& caption);
    void IconsChanged();         // the user tree's icon set and size
    void TransparencyChanged();  // "Transpareny"
    void TopMostChanged();       // "TopMost"

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();

    AppState& m_state;
    std::function<std::string()> m_logonName;
    bool m_shown = false;
    bool m_windowStyleAvailable = true;

    QLineEdit* m_userName = nullptr;         // 1000
    QCheckBox* m_windowsUserName = nullptr;  // 1012
    QCheckBox* m_showMySelf = nullptr;       // 1006
    QComboBox* m_iconsType = nullptr;        // 1008
    QComboBox* m_iconsSize = nullptr;        // 1009
    QCheckBox* m_topMost = nullptr;          // 1015
    QSlider* m_transparency = nullptr;       // 1014
    QGridLayout* m_windowGrid = nullptr;
    QLabel* m_windowStyleUnavailable = nullptr;
};
