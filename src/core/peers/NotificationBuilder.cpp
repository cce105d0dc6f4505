// src/core/peers/NotificationBuilder.cpp
#include "core/peers/NotificationBuilder.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "core/res/Strings.h"
#include "core/settings/UserStatus.h"

namespace {

constexpr const char* kTitlePrefix = "Murmex3 - ";

std::string CutBytes(const std::string& text, std::size_t limit) {
    return text.size() > limit ? text.substr(0, limit) : text;
}

}  // namespace

std::string TrayToolTip(const std::string& ownStatusText) {
    return CutBytes(kTitlePrefix + ownStatusText, Notification::kToolTipBytes);
}

Notification NotificationBuilder::StatusChange(const std::string& name, int16_t status,
                                               int peer) const {
    return Make(name + res::String(res::kStrIsInStatus) + StatusShortText(status, m_presenter),
                peer);
}

Notification NotificationBuilder::Message(const std::string& name, const std::string& text,
                                          int peer) const {
    return Make(name + " : " + text, peer);
}

Notification NotificationBuilder::Bell(const std::string& name,
                                       const std::optional<std::string>& lastMessage,
                                       int peer) const {
    std::string text = name + " " + res::String(res::kStrWantsAttention);
    if (lastMessage) {
        text += res::String(res::kStrLastMessage);
        text += *lastMessage;
    }
    return Make(std::move(text), peer);
}

Notification NotificationBuilder::Make(std::string text, int peer) const {
    Notification n;
    n.peer = peer;
    const std::string ownStatus = StatusShortText(m_state.OwnStatus(), m_presenter);
    n.title = kTitlePrefix + ownStatus;
    n.toolTip = TrayToolTip(ownStatus);
    n.balloonTitle = CutBytes(n.title, Notification::kBalloonTitleBytes);
    n.balloonText = CutBytes(text, Notification::kBalloonTextBytes);
    n.text = std::move(text);
    const auto [enabled, seconds] = m_state.Read([](const SettingsRecord& s) {
        return std::pair{s.notifications, s.bTooltipTimeout};
    });
    n.enabled = enabled;
    const int64_t wanted = static_cast<int64_t>(seconds) * 1000;
    n.milliseconds = static_cast<int>(std::clamp<int64_t>(wanted, 0, INT_MAX));
    return n;
}
