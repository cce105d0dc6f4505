// src/core/peers/NotificationBuilder.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/base/Presenter.h"
#include "core/settings/AppState.h"

// One notification about a peer, as the tray shows it: a balloon, or where the
// desktop has no balloons a message box with the whole title and text. Texts
// are code page 1250; the balloon's and the tool tip's are cut to the room of
// the shell's fields (less the terminating NUL).
struct Notification {
    static constexpr std::size_t kToolTipBytes = 127;
    static constexpr std::size_t kBalloonTitleBytes = 63;
    static constexpr std::size_t kBalloonTextBytes = 255;

    int peer = 0;          // whose conversation a click on the balloon opens
    bool enabled = false;  // "Notifications"; when off only the tool tip is refreshed
    std::string title{};   // "Murmex3 - " and the own status's short text
    std::string text{};
    std::string toolTip{};  // the title, cut
    std::string balloonTitle{};
    std::string balloonText{};
    int milliseconds = 0;  // the balloon's time, from "BTooltipTimeout"

    bool operator==(const Notification&) const = default;
};

// The tray icon's tool tip for the own status's short text.
std::string TrayToolTip(const std::string& ownStatusText);

// Composes the notification of each peer event from the event and the current
// settings and own status. A status outside the table shows its trace box
// through the presenter, the peer's status before the own one, and leaves its
// text empty.
class NotificationBuilder {
public:
    NotificationBuilder(const AppState& state, MessagePresenter& presenter)
        : m_state(state), m_presenter(presenter) {}

    // "<name> je ve stavu : <status>"
    Notification StatusChange(const std::string& name, int16_t status, int peer) const;
    // A newcomer, named with the status it announced (its record starts Ready).
    Notification NewPeer(const std::string& name, int16_t announcedStatus, int peer) const {
        return StatusChange(name, announcedStatus, peer);
    }
    // A peer that the liveness watcher found silent.
    Notification PeerSilent(const std::string& name, int peer) const {
        return StatusChange(name, Disconnected, peer);
    }
    // "<name> : <text>"
    Notification Message(const std::string& name, const std::string& text, int peer) const;
    // "<name> vyžaduje tvou pozornost!", with "\nPoslední správa : " and the
    // peer's last message when there is one.
    Notification Bell(const std::string& name, const std::optional<std::string>& lastMessage,
                      int peer) const;

private:
    Notification Make(std::string text, int peer) const;

    const AppState& m_state;
    MessagePresenter& m_presenter;
};
