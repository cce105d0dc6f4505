// src/widgets/settings/PropPgNotice.h
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

#include "core/base/Presenter.h"
#include "core/settings/AppState.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QShowEvent;
class QSlider;
class QVBoxLayout;

// The "Upozornění" page: the sound scheme, sound, balloon and conversation
// notices, and the inactivity watch. Most check boxes are worded as things to
// switch off and show the inverse of their setting. Its controls are filled
// from the settings when the page is first shown; OK is for a page that was
// shown. It applies nothing itself: the readers use the values next time.
class CMX3PropPgNotice final : public QWidget {
    Q_OBJECT
public:
    // soundsFolder: the folder whose sub-folders are the sound schemes.
    CMX3PropPgNotice(AppState& state, MessagePresenter& presenter, QString soundsFolder,
                     QWidget* parent = nullptr);

    // Shown at least once: filled from the settings, and written back on OK.
    bool WasShown() const { return m_shown; }
    // Whether the desktop can tell the time without input. Without it the
    // page says that the watch is not available here and disables its
    // switch, whose setting stays as it was. Before the sheet opens.
    void SetActivityWatchAvailable(bool available);
    void OnOK();

    // The minutes field's number as the C library reads a decimal long: leading
    // white space, an optional sign, the digits up to the first other
    // character; 0 without digits; out of range clamps to the 32-bit limits.
    static int32_t ParseMinutes(const QString& text);
    // Whether the minutes field holds a character that makes it no number
    // (comma, full stop, space, a Latin or Czech letter).
    static bool HasNonNumberCharacter(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    void OnChangeInactivityMinutes(const QString& text);

    AppState& m_state;
    MessagePresenter& m_presenter;
    QString m_soundsFolder;
    bool m_shown = false;
    bool m_warningOpen = false;

    QComboBox* m_soundFolder = nullptr;        // 1005
    QCheckBox* m_playSoundsOff = nullptr;      // 1010
    QCheckBox* m_dndSoundsOff = nullptr;       // 1023
    QCheckBox* m_notificationsOff = nullptr;   // 1012
    QCheckBox* m_connectMsgOff = nullptr;      // 1021
    QCheckBox* m_disconMsgOff = nullptr;       // 1022
    QCheckBox* m_newUserMsgOff = nullptr;      // 1025
    QCheckBox* m_openOnClickOff = nullptr;     // 1026
    QSlider* m_balloonTime = nullptr;          // 1024
    QCheckBox* m_checkActivity = nullptr;      // 1018
    QLineEdit* m_inactivityMinutes = nullptr;  // 1019
    QVBoxLayout* m_activityColumn = nullptr;
    QLabel* m_activityUnavailable = nullptr;
};
