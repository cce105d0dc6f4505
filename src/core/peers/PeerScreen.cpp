// src/core/peers/PeerScreen.cpp
#include "core/peers/PeerScreen.h"

#include <utility>

#include "core/base/Log.h"
#include "core/peers/ConversationWindow.h"
#include "core/peers/PeerTree.h"
#include "core/res/Strings.h"
#include "core/settings/UserStatus.h"
#include "platform/Socket.h"

namespace {

// The event sound of an announced status; 0 for a value outside the table.
int StatusSound(int32_t status) {
    switch (status) {
        case Ready:
            return res::kStrOnlineWav;
        case Away:
            return res::kStrAwayWav;
        case DoNotDisturb:
            return res::kStrDndWav;
        case AtLunch:
            return res::kStrLunchWav;
        case Disconnected:
            return res::kStrOfflineWav;
        default:
            return 0;
    }
}

}  // namespace

PeerScreen::PeerScreen(Services services)
    : m_s(std::move(services)),
      m_dispatcher(Dispatcher::Services{.directory = m_s.directory,
                                        .state = m_s.state,
                                        .clock = m_s.clock,
                                        .isOwnAddress = m_s.isOwnAddress}),
      m_notifications(m_s.state, m_s.presenter) {}

void PeerScreen::DispatchDatagram(const uint8_t* data, size_t size, uint32_t sender) {
    // A box's event loop may dispatch the next datagram before these are shown.
    std::vector<PeerEvent> events = std::exchange(m_spare, {});
    events.clear();
    m_dispatcher.Dispatch(data, size, sender, events);
    if (!m_unshown.empty()) {
        if (const auto index = m_s.directory.FindPeerByAddress(sender);
            index && m_unshown.contains(*index)) {
            PeerEvent again{.kind = PeerEventKind::Appeared, .index = *index, .sender = sender};
            again.peer = m_s.directory.Facts(*index);
            again.announcedStatus = again.peer.status;
            events.insert(events.begin(), std::move(again));
        }
    }
    for (const PeerEvent& event : events) {
        Show(event);
    }
    m_spare = std::move(events);
}

void PeerScreen::Show(const PeerEvent& event) {
    switch (event.kind) {
        case PeerEventKind::Appeared:
            Appeared(event);
            return;
        case PeerEventKind::StatusChanged:
        case PeerEventKind::Renamed:
            Changed(event);
            return;
        case PeerEventKind::WentSilent:
            WentSilent(event);
            return;
        case PeerEventKind::Message:
            Message(event);
            return;
        case PeerEventKind::Typing:
            if (ConversationWindow* window = WindowOf(event.index)) {
                window->SetCaption(event.peer.name + " - " + res::String(res::kStrIsTyping));
            }
            return;
        case PeerEventKind::Bell:
            Bell(event);
            return;
        case PeerEventKind::GroupAssigned:
            if (m_s.saveSettings) {
                m_s.saveSettings();
            }
            return;
        case PeerEventKind::Refused:
            Refused(event);
            return;
        case PeerEventKind::UnknownKind:
            ShowTraceCode(m_s.presenter, event.traceCode, 0);
            return;
    }
}

void PeerScreen::Appeared(const PeerEvent& event) {
    const TreeItem item = m_s.items.MakeItem(event.peer.group, event.peer.name, Ready,
                                             static_cast<uint32_t>(event.index));
    if (item == nullptr) {
        m_unshown.insert(event.index);
        return;
    }
    m_unshown.erase(event.index);
    m_s.directory.Modify(event.index, [item](PeerRecord& record) { record.treeItem = item; });
    m_s.sounds.PlayEventSound(res::kStrOnlineWav);
    if (m_s.state.Read([](const SettingsRecord& s) { return s.onNewUserMessage; })) {
        m_s.notifier.NotifyPeerEvent(
            m_notifications.NewPeer(event.peer.name, event.announcedStatus, event.index));
    }
}

void PeerScreen::Changed(const PeerEvent& event) {
    const int index = event.index;
    const int32_t status = event.peer.status;
    if (event.nameChanged) {
        if (ConversationWindow* window = WindowOf(index)) {
            window->SetCaption(event.peer.name);
        }
    }
    // The screen follows the stored state before anything is said about it:
    // the item and its icon, then the window, then sound, boxes and balloon.
    // Only a status outside the icons raises a box here ("View 4").
    if (event.nameChanged || event.groupChanged) {
        // The item is made again under the current name and group.
        const TreeItem former = m_s.directory.Modify(
            index, [](PeerRecord& record) { return std::exchange(record.treeItem, nullptr); });
        m_s.items.RemakePeerItem(index, former);
    } else {
        m_s.items.RefreshPeerItem(index);
    }
    if (event.kind != PeerEventKind::StatusChanged || !StatusStill(index, status)) {
        // A box's event loop may have applied a newer announcement of this
        // peer, which has told the user itself.
        return;
    }
    ConversationWindow* window = WindowOf(index);
    if (window != nullptr && status == Disconnected) {
        window->MarkPeerDisconnected(true);
    } else if (window != nullptr && (status == Ready || event.cameBack)) {
        // Back after a goodbye or a silence, in whatever status: writable again.
        window->MarkPeerReconnected();
    }
    if (const int sound = StatusSound(status); sound != 0) {
        m_s.sounds.PlayEventSound(sound);
    } else {
        ShowTraceCode(m_s.presenter, "View 3, MsgSt %i", status);
    }
    const Notification notification =
        m_notifications.StatusChange(event.peer.name, static_cast<int16_t>(status), index);
    if (StatusStill(index, status)) {
        m_s.notifier.NotifyPeerEvent(notification);
    }
}

void PeerScreen::WentSilent(const PeerEvent& event) {
    // An announcement that arrived meanwhile has brought the peer back.
    if (!m_s.directory.IsValidIndex(event.index) || !StatusStill(event.index, Disconnected)) {
        return;
    }
    // The icon, then the window, then the balloon (a box without a tray).
    m_s.items.RefreshPeerItem(event.index);
    if (ConversationWindow* window = WindowOf(event.index)) {
        window->MarkPeerDisconnected(true);
    }
    m_s.notifier.NotifyPeerEvent(m_notifications.PeerSilent(event.peer.name, event.index));
}

void PeerScreen::Message(const PeerEvent& event) {
    ConversationWindow* const window = m_s.directory.Read(
        event.index, [](const PeerRecord& r) { return r.windowHidden ? nullptr : r.window; });
    const bool windowShown = window != nullptr;
    m_s.items.SetPeerIcon(event.index, kMessageIcon);
    if (!windowShown) {
        m_s.sounds.PlayEventSound(res::kStrMessageWav);
        m_s.notifier.NotifyPeerEvent(
            m_notifications.Message(event.peer.name, event.text, event.index));
        return;
    }
    m_s.sounds.PlayEventSound(res::kStrSmallMsgWav);
    // Also takes back a typing caption.
    window->SetCaption(event.peer.name);
    window->RefreshLog();
}

void PeerScreen::Bell(const PeerEvent& event) {
    m_s.sounds.PlayEventSound(res::kStrBellWav);
    m_s.items.SetPeerIcon(event.index, kBellIcon);
    m_s.notifier.NotifyPeerEvent(m_notifications.Bell(event.peer.name, event.quoted, event.index));
}

void PeerScreen::Refused(const PeerEvent& event) {
    if (!event.firstOfRun) {
        return;
    }
    corelog::Warning("peers", "The list holds " + std::to_string(PeerDirectory::kMaxPeers) +
                                  " peers, the most it takes: the announcement of " +
                                  platform::FormatDottedAddress(event.sender) +
                                  " was dropped; new peers dropped since the start: " +
                                  std::to_string(event.refusedSoFar) + ".");
}

ConversationWindow* PeerScreen::WindowOf(int index) const {
    return m_s.directory.Read(index, [](const PeerRecord& record) { return record.window; });
}

bool PeerScreen::StatusStill(int index, int32_t status) const {
    return m_s.directory.Read(index, [status](const PeerRecord& r) { return r.status == status; });
}
