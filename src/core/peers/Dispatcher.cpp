// src/core/peers/Dispatcher.cpp
#include "core/peers/Dispatcher.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

#include "core/base/Log.h"
#include "core/peers/ConversationWindow.h"
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

void Dispatcher::DispatchDatagram(const uint8_t* data, size_t size, uint32_t sender) {
    const DatagramView datagram(data, size);
    if (!datagram.HasHeader()) {
        return;
    }
    const int16_t type = datagram.Type();
    const int16_t subtype = datagram.Subtype();
    switch (type) {
        case kTypeChat:
            switch (subtype) {
                case kSubPresence:
                    if (!datagram.IsCompletePresenceStatus()) {
                        return;
                    }
                    if (!UpdateKnownPeer(sender, datagram)) {
                        AddNewPeer(sender, datagram);
                    }
                    return;
                case kSubText:
                    if (const auto index = KnownSender(sender)) {
                        IncomingMessage(*index, datagram);
                    }
                    return;
                case kSubTyping:
                    if (const auto index = KnownSender(sender)) {
                        TypingNotice(*index);
                    }
                    return;
                default:
                    ShowTraceCode(m_s.presenter, "View 1, HdrST %i", subtype);
                    return;
            }
        case kTypeBell:
            if (const auto index = KnownSender(sender)) {
                Bell(*index);
            }
            return;
        case kTypeGroup:
            if (subtype == kSubGroup) {
                GroupAssignment(datagram);
            } else {
                ShowTraceCode(m_s.presenter, "View 7, HdrST %i", subtype);
            }
            return;
        default:
            ShowTraceCode(m_s.presenter, "View 2, HdrT %i", type);
            return;
    }
}

bool Dispatcher::UpdateKnownPeer(uint32_t sender, const DatagramView& datagram) {
    if (!datagram.IsCompletePresenceStatus()) {
        return false;
    }
    // This computer's own announcements follow "ShowMySelf".
    const std::optional<int> found = KnownSender(sender);
    if (!found || (!ShowMySelf() && m_s.isOwnAddress(sender))) {
        return false;
    }
    const int index = *found;
    const int16_t status = datagram.PresenceStatus();
    std::string name = datagram.PresenceName();
    std::string group = datagram.PresenceGroup();

    bool changed = false;
    bool statusChanged = false;
    bool cameBack = false;
    TreeItem staleItem = nullptr;
    {
        std::lock_guard lock(m_s.directory.Mutex());
        PeerRecord& record = m_s.directory.PeerAt(index);
        m_s.directory.Heard(index, m_s.clock.NowSeconds());
        if (record.name != name) {
            record.name = std::move(name);
            if (record.window != nullptr) {
                record.window->SetCaption(record.name);
            }
            changed = true;
        }
        if (record.group != group) {
            record.group = std::move(group);
            changed = true;
        }
        if (changed) {
            // The item is made again under the current name and group below.
            staleItem = std::exchange(record.treeItem, nullptr);
        }
        statusChanged = record.status != status;
        if (statusChanged) {
            // Stored before any box: a box's event loop may apply a newer
            // announcement of this peer, which must not be overwritten after.
            cameBack = record.status == Disconnected;
            record.status = status;
        }
    }
    if (!changed && !statusChanged) {
        return true;
    }

    // The screen follows the stored state before anything is said about it:
    // the item and its icon, then the window, then sound, boxes and balloon.
    // Only a status outside the icons raises a box here ("View 4").
    if (staleItem != nullptr) {
        m_s.items.RemakePeerItem(index, staleItem);
    } else {
        m_s.items.RefreshPeerItem(index);
    }
    if (!statusChanged || !StatusStill(index, status)) {
        // A box's event loop may have applied a newer announcement of this
        // peer, which has told the user itself.
        return true;
    }

    ConversationWindow* window = nullptr;
    {
        std::lock_guard lock(m_s.directory.Mutex());
        window = m_s.directory.PeerAt(index).window;
    }
    if (window != nullptr && status == Disconnected) {
        window->MarkPeerDisconnected(true);
    } else if (window != nullptr && (status == Ready || cameBack)) {
        // Back after a goodbye or a silence, in whatever status: writable again.
        window->MarkPeerReconnected();
    }

    if (const int sound = StatusSound(status); sound != 0) {
        m_s.sounds.PlayEventSound(sound);
    } else {
        ShowTraceCode(m_s.presenter, "View 3, MsgSt %i", status);
    }
    std::string currentName;
    {
        std::lock_guard lock(m_s.directory.Mutex());
        currentName = m_s.directory.PeerAt(index).name;
    }
    const Notification notification = m_notifications.StatusChange(currentName, status, index);
    if (StatusStill(index, status)) {
        m_s.notifier.NotifyPeerEvent(notification);
    }
    return true;
}

void Dispatcher::AddNewPeer(uint32_t sender, const DatagramView& datagram) {
    if (!datagram.IsCompletePresenceStatus()) {
        return;
    }
    if (!ShowMySelf() && m_s.isOwnAddress(sender)) {
        return;
    }
    // One record per address, even when called without the lookup before it.
    if (m_s.directory.FindPeerByAddress(sender)) {
        return;
    }
    if (m_s.directory.PeerCount() >= PeerDirectory::kMaxPeers) {
        RefusePeer(sender);
        return;
    }
    const int16_t announcedStatus = datagram.PresenceStatus();
    const std::string name = datagram.PresenceName();
    const std::string group = datagram.PresenceGroup();

    // Only this thread adds records, so the count is the index the record gets.
    const TreeItem item =
        m_s.items.MakeItem(group, name, Ready, static_cast<uint32_t>(m_s.directory.PeerCount()));
    if (item == nullptr) {
        return;
    }
    int index = 0;
    {
        std::lock_guard lock(m_s.directory.Mutex());
        index = m_s.directory.AddPeer(item, name, group, sender, Ready);
    }
    m_s.sounds.PlayEventSound(res::kStrOnlineWav);
    if (m_s.state.Read([](const SettingsRecord& s) { return s.onNewUserMessage; })) {
        m_s.notifier.NotifyPeerEvent(m_notifications.NewPeer(name, announcedStatus, index));
    }
}

void Dispatcher::RefusePeer(uint32_t sender) {
    ++m_refusedPeers;
    const int64_t now = m_s.clock.NowSeconds();
    // The first of a run of refusals is logged, with the count so far.
    const bool newRun = !m_lastRefusal || now - *m_lastRefusal >= kRefusalQuietSeconds;
    m_lastRefusal = now;
    if (newRun) {
        corelog::Warning("peers", "The list holds " + std::to_string(PeerDirectory::kMaxPeers) +
                                      " peers, the most it takes: the announcement of " +
                                      platform::FormatDottedAddress(sender) +
                                      " was dropped; new peers dropped since the start: " +
                                      std::to_string(m_refusedPeers) + ".");
    }
}

void Dispatcher::IncomingMessage(int index, const DatagramView& datagram) {
    std::string text = datagram.BodyText();
    std::string name;
    bool windowShown = false;
    {
        std::lock_guard lock(m_s.directory.Mutex());
        PeerRecord& record = m_s.directory.PeerAt(index);
        name = record.name;
        record.AppendIncoming(record.name, text);
        windowShown = record.window != nullptr && !record.windowHidden;
    }
    m_s.items.SetPeerIcon(index, kMessageIcon);

    if (!windowShown) {
        m_s.sounds.PlayEventSound(res::kStrMessageWav);
        m_s.notifier.NotifyPeerEvent(m_notifications.Message(name, text, index));
        return;
    }
    m_s.sounds.PlayEventSound(res::kStrSmallMsgWav);
    // The window draws without the lock: the receive thread waits for it.
    // Windows go only on this thread.
    ConversationWindow* window = nullptr;
    {
        std::lock_guard lock(m_s.directory.Mutex());
        const PeerRecord& record = m_s.directory.PeerAt(index);
        window = record.window;
        name = record.name;
    }
    if (window != nullptr) {
        // Also takes back a typing caption.
        window->SetCaption(name);
        window->RefreshLog();
    }
}

void Dispatcher::TypingNotice(int index) {
    ConversationWindow* window = nullptr;
    std::string name;
    {
        std::lock_guard lock(m_s.directory.Mutex());
        const PeerRecord& record = m_s.directory.PeerAt(index);
        window = record.window;
        name = record.name;
    }
    if (window != nullptr) {
        window->SetCaption(name + " - " + res::String(res::kStrIsTyping));
    }
}

void Dispatcher::Bell(int index) {
    m_s.sounds.PlayEventSound(res::kStrBellWav);
    m_s.items.SetPeerIcon(index, kBellIcon);

    std::string name;
    std::optional<std::string> lastMessage;
    {
        std::lock_guard lock(m_s.directory.Mutex());
        const PeerRecord& record = m_s.directory.PeerAt(index);
        name = record.name;
        // The peer's newest message; this program's notices are not quoted.
        const auto quoted =
            std::find_if(record.history.rbegin(), record.history.rend(), [&](const auto& entry) {
                return entry.kind == Incoming && !entry.notice && entry.sender == record.name;
            });
        if (quoted != record.history.rend()) {
            lastMessage = quoted->text;
        }
    }
    // Boxes (a trace box, or the one that stands for a balloon without a tray)
    // must not hold the lock.
    m_s.notifier.NotifyPeerEvent(m_notifications.Bell(name, lastMessage, index));
}

void Dispatcher::GroupAssignment(const DatagramView& datagram) {
    std::string group = datagram.BodyText();
    m_s.state.Modify([&](SettingsRecord& s) { s.groupName = std::move(group); });
    if (m_s.saveSettings) {
        m_s.saveSettings();
    }
}

bool Dispatcher::ShowMySelf() const {
    return m_s.state.Read([](const SettingsRecord& s) { return s.showMySelf; });
}

bool Dispatcher::StatusStill(int index, int32_t status) const {
    std::lock_guard lock(m_s.directory.Mutex());
    return m_s.directory.PeerAt(index).status == status;
}

std::optional<int> Dispatcher::KnownSender(uint32_t sender) const {
    return m_s.directory.FindPeerByAddress(sender);
}
