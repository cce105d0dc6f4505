// tests/fuzz/FuzzDispatch.cpp
// Received datagrams through the whole dispatch, into the recording fakes:
// the receive thread's part (which settles unchanged presence itself) and the
// user-interface thread's, one after the other on this thread.
//
// Input: a control byte, then the datagram (cut to 508 bytes like the
// receiver). With the control byte's top bit set, the whole input is instead
// a series of pieces split on kSeparator, each a control byte and a datagram,
// so one input can make a peer and then message it.
// Control byte: bits 0-2 the sender (10.0.0.99 is this computer), bit 3 flips
// "ShowMySelf", bit 4 flips whether the tree refuses new items, bits 5-6 act
// on the sender's conversation window first (open it as a double-click does,
// selecting its item; hide; close).
//
// The directory, tree and windows live across inputs so records are made and
// then hit; they start afresh every kResetInputs inputs or kResetDatagrams
// datagrams. Every datagram is followed by a check of the directory's
// invariants; a violation aborts.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/Fakes.h"
#include "core/MemoryProfile.h"
#include "core/PeerFakes.h"
#include "core/base/AlertGate.h"
#include "core/net/Packet.h"
#include "core/peers/DatagramHandOver.h"
#include "core/peers/DatagramReceiver.h"
#include "core/peers/Dispatcher.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerScreen.h"
#include "core/res/Strings.h"
#include "core/settings/AppState.h"
#include "core/settings/Settings.h"
#include "core/settings/SoundEvents.h"
#include "support/DirectoryLock.h"

namespace {

constexpr uint8_t kSeparator = 0xA5;
constexpr uint8_t kMultipleBit = 0x80;
constexpr int kResetInputs = 10'000;
constexpr int kResetDatagrams = 50'000;

const std::string kOwnAddress = "10.0.0.99";
const std::array<std::string, 8> kSenders = {"10.0.0.1",  "10.0.0.2", "10.0.0.3", "10.0.0.4",
                                             kOwnAddress, "10.0.0.1", "10.0.0.2", kOwnAddress};

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Forwards to the fake tree and remembers every handle it gave out, so a
// record's item can be checked to be one of the tree's own.
class TrackingTree final : public PeerTree {
public:
    explicit TrackingTree(FakeTree& inner) : m_inner(inner) {}

    TreeItem FindOrAddGroupItem(const std::string& group) override {
        return Track(m_inner.FindOrAddGroupItem(group));
    }
    TreeItem InsertPeerItem(TreeItem group, const std::string& name, int image) override {
        Require(group == nullptr || IsLive(group));
        return Track(m_inner.InsertPeerItem(group, name, image));
    }
    void ExpandItem(TreeItem item) override {
        Require(item == nullptr || IsLive(item));
        m_inner.ExpandItem(item);
    }
    void DeleteItem(TreeItem item) override {
        // A peer item, or a group item without peer items.
        Require(IsLive(item) &&
                (FakeTree::At(item).parent != nullptr || FakeTree::At(item).children.empty()));
        m_inner.DeleteItem(item);
    }
    TreeItem GroupOf(TreeItem item) const override {
        Require(IsLive(item));
        return m_inner.GroupOf(item);
    }
    bool HasPeerItems(TreeItem group) const override {
        Require(IsLive(group) && FakeTree::At(group).parent == nullptr);
        return m_inner.HasPeerItems(group);
    }
    bool IsSelectedItem(TreeItem item) const override { return m_inner.IsSelectedItem(item); }
    void SelectItem(TreeItem item) override {
        Require(IsLive(item));
        m_inner.SelectItem(item);
    }
    void SetItemData(TreeItem item, uint32_t data) override {
        Require(IsLive(item));
        m_inner.SetItemData(item, data);
    }
    void SetItemImage(TreeItem item, int image) override {
        Require(IsLive(item) && image >= 0 && image <= 8);
        m_inner.SetItemImage(item, image);
    }

    bool IsLive(TreeItem item) const {
        return item != nullptr && m_handles.contains(item) && !FakeTree::At(item).deleted;
    }

private:
    TreeItem Track(TreeItem item) {
        if (item != nullptr) {
            m_handles.insert(item);
        }
        return item;
    }

    FakeTree& m_inner;
    std::unordered_set<TreeItem> m_handles;
};

// What the check remembers of a record between datagrams.
struct Seen {
    uint64_t historyEnd = 0;  // the serial after the history's last entry
    HistoryEntry last;
    int32_t status = Ready;
    int64_t lastHeard = 0;
};

struct Fixture {
    Fixture() {
        SettingsRecord s;
        s.userName = "ja";
        s.soundFolder = "Standard";
        s.groupName = "Sklad";
        s.showMySelf = false;
        s.playSounds = true;
        s.soundsInDndState = true;
        s.onNewUserMessage = true;
        s.enableConnectMsg = true;
        s.enableDisconMsg = true;
        state.SetSettings(s);
        state.SetHostComputerName("PC99");
    }

    FakeClock clock{1'000'000};
    AppState state;
    PeerDirectory directory{clock};
    FakeTree fakeTree;
    TrackingTree tree{fakeTree};
    RecordingPresenter boxes;
    QueuePoster poster;
    AlertGate gate{boxes, clock, poster};
    PeerItems items{directory, tree, gate};
    RecordingSink sink;
    PeerNotifier notifier{sink};
    RecordingPlayer player;
    SoundEvents sounds{state, clock, player};
    MemoryProfile profile;
    int saves = 0;
    PeerScreen dispatcher{PeerScreen::Services{
        .directory = directory,
        .state = state,
        .items = items,
        .notifier = notifier,
        .sounds = sounds,
        .presenter = gate,
        .clock = clock,
        .isOwnAddress = [](uint32_t address) { return address == Ip(kOwnAddress); },
        .saveSettings =
            [this] {
                SaveSettings(state, profile);
                ++saves;
            }}};
    // The two steps of a dispatch, so that the events can be checked too.
    Dispatcher core{Dispatcher::Services{
        .directory = directory,
        .state = state,
        .clock = clock,
        .isOwnAddress = [](uint32_t address) { return address == Ip(kOwnAddress); }}};
    std::vector<PeerEvent> events;
    DatagramHandOver handOver{poster, [this](const Arrival& arrival) {
                                  const size_t first = events.size();
                                  core.Dispatch(arrival.bytes.data(), arrival.bytes.size(),
                                                arrival.sender, events);
                                  for (size_t i = first; i < events.size(); ++i) {
                                      dispatcher.Show(events[i]);
                                  }
                              }};
    DatagramReceiver receiver{DatagramReceiver::Services{
        .directory = directory,
        .clock = clock,
        .handOver = handOver,
        .ownSender = [](uint32_t address) -> std::optional<uint32_t> {
            return address == Ip(kOwnAddress) ? std::optional(address) : std::nullopt;
        },
        .showMySelf = [this] { return state.Settings().showMySelf; }}};
    std::vector<std::string> journal;
    std::vector<Seen> seen;
    int datagrams = 0;
    // Declared after the directory, so they go first.
    std::vector<std::unique_ptr<FakeConversation>> windows;
};

std::unique_ptr<Fixture> g_fixture;
int g_inputs = 0;

FakeConversation* WindowOf(Fixture& f, int index) {
    for (const auto& window : f.windows) {
        if (window->PeerIndex() == index) {
            return window.get();
        }
    }
    return nullptr;
}

// Bits 5-6 of the control byte: 1 selects the item and shows the window (made
// if missing), 2 hides it (made hidden if missing), 3 closes it.
void ActOnWindow(Fixture& f, int index, int action) {
    if (action == 0) {
        return;
    }
    FakeConversation* window = WindowOf(f, index);
    if (action == 3) {
        std::erase_if(f.windows, [&](const auto& w) { return w.get() == window; });
        Require(f.directory.PeerAt(index).window == nullptr);
        return;
    }
    if (window == nullptr) {
        f.windows.push_back(
            std::make_unique<FakeConversation>(f.directory, f.state, index, &f.journal));
        window = f.windows.back().get();
    }
    std::lock_guard lock(LockOf(f.directory));
    PeerRecord& record = f.directory.PeerAt(index);
    record.window = window;
    record.windowHidden = action == 2;
    if (action == 1 && record.treeItem != nullptr) {
        f.fakeTree.selected = static_cast<FakeTree::Item*>(record.treeItem);
    }
}

// Every caption a window got during the last datagram was the record's name,
// or its typing caption in answer to a typing notice.
void CheckCaptions(Fixture& f, bool typingNotice) {
    const std::string typingSuffix = " - " + res::String(res::kStrIsTyping);
    for (const std::string& line : f.journal) {
        constexpr std::string_view kWindow = "window ";
        if (!line.starts_with(kWindow)) {
            continue;
        }
        const size_t space = line.find(' ', kWindow.size());
        Require(space != std::string::npos);
        const int index = std::atoi(line.substr(kWindow.size(), space - kWindow.size()).c_str());
        constexpr std::string_view kCaption = " caption ";
        if (line.compare(space, kCaption.size(), kCaption) != 0) {
            continue;
        }
        const std::string caption = line.substr(space + kCaption.size());
        Require(f.directory.IsValidIndex(index));
        const std::string& name = f.directory.PeerAt(index).name;
        Require(caption == name || (typingNotice && caption == name + typingSuffix));
    }
    f.journal.clear();
}

struct Before {
    int count = 0;
    std::optional<int> senderIndex;
    bool senderSelected = false;
    size_t played = 0;
    size_t notified = 0;
    int saves = 0;
    std::string groupName;
};

void CheckAfter(Fixture& f, const Before& before, const DatagramView& datagram,
                const std::string& sender) {
    PeerDirectory& directory = f.directory;
    const int count = directory.PeerCount();
    Require(count >= before.count && count <= before.count + 1);

    const bool accepted = f.state.Settings().showMySelf || sender != kOwnAddress;
    const int16_t type = datagram.HasHeader() ? datagram.Type() : int16_t{0};
    const int16_t subtype = datagram.HasHeader() ? datagram.Subtype() : int16_t{0};
    const bool presence =
        type == kTypeChat && subtype == kSubPresence && datagram.IsCompletePresenceStatus();
    const bool text = type == kTypeChat && subtype == kSubText;
    const bool typing = type == kTypeChat && subtype == kSubTyping;
    const bool group = type == kTypeGroup && subtype == kSubGroup;

    // Only an accepted presence makes a record, and only for its sender.
    if (presence && accepted && !before.senderIndex) {
        Require(count == before.count + 1);
    }

    // One event at most, of the datagram's kind, with the record's facts.
    Require(f.events.size() <= 1);
    for (const PeerEvent& event : f.events) {
        Require(event.sender == Ip(sender));
        if (event.index >= 0) {
            Require(directory.IsValidIndex(event.index));
            const PeerFacts facts = directory.Facts(event.index);
            Require(event.peer.name == facts.name && event.peer.group == facts.group &&
                    event.peer.address == sender && event.peer.status == facts.status);
        }
        switch (event.kind) {
            case PeerEventKind::Appeared:
                Require(presence && count == before.count + 1 && event.index == count - 1);
                Require(event.announcedStatus == datagram.PresenceStatus());
                break;
            case PeerEventKind::StatusChanged:
            case PeerEventKind::Renamed:
                Require(presence && before.senderIndex == event.index);
                Require(event.previousStatus == f.seen[static_cast<size_t>(event.index)].status);
                Require((event.kind == PeerEventKind::StatusChanged) ==
                        (event.previousStatus != datagram.PresenceStatus()));
                break;
            case PeerEventKind::Message:
                Require(text && before.senderIndex == event.index);
                Require(event.text == datagram.BodyText());
                break;
            case PeerEventKind::Typing:
                Require(typing && before.senderIndex == event.index);
                break;
            case PeerEventKind::Bell:
                Require(type == kTypeBell && before.senderIndex == event.index);
                break;
            case PeerEventKind::GroupAssigned:
                Require(group && event.text == datagram.BodyText());
                break;
            case PeerEventKind::UnknownKind:
                Require(!presence && !text && !typing && !group && type != kTypeBell);
                Require(event.type == type && event.subtype == subtype);
                break;
            case PeerEventKind::WentSilent:
            case PeerEventKind::Refused:
                Require(false);  // never from one datagram of these few senders
                break;
        }
    }
    // A known sender's message, bell or typing notice is told.
    if (before.senderIndex && (text || typing || type == kTypeBell)) {
        Require(f.events.size() == 1);
    }
    if (count > before.count) {
        Require(presence && accepted && !before.senderIndex);
        Require(directory.PeerAt(count - 1).address == sender);
        Require(directory.PeerAt(count - 1).status == Ready);
    }

    // One record per address; the lookup finds it.
    std::unordered_set<std::string> addresses;
    for (int i = 0; i < count; ++i) {
        const PeerRecord& record = directory.PeerAt(i);
        Require(addresses.insert(record.address).second);
        Require(directory.FindPeerByAddress(record.address) == i);
        Require(record.address == kOwnAddress || record.address.starts_with("10.0.0."));
    }

    // A record's item is a live item of the tree, under its group, with the
    // record's name and index.
    for (int i = 0; i < count; ++i) {
        const PeerRecord& record = directory.PeerAt(i);
        if (record.treeItem == nullptr) {
            continue;
        }
        Require(f.tree.IsLive(record.treeItem));
        const FakeTree::Item& item = FakeTree::At(record.treeItem);
        Require(item.data == static_cast<uint32_t>(i));
        Require(item.text == record.name);
        Require(item.parent != nullptr && f.tree.IsLive(item.parent));
        Require(item.parent->text.substr(0, 48) == record.group.substr(0, 48));
        bool listed = false;
        for (const FakeTree::Item* child : item.parent->children) {
            listed = listed || child == &item;
        }
        Require(listed);
    }

    // Every group holds a peer's item, so there are never more groups than peers.
    for (FakeTree::Item* groupItem : f.fakeTree.Groups()) {
        Require(f.tree.IsLive(groupItem) && !groupItem->children.empty());
    }
    Require(f.fakeTree.Groups().size() <= static_cast<size_t>(count));

    // Statuses: only the sender's presence changes one, to the announced value.
    f.seen.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const PeerRecord& record = directory.PeerAt(i);
        Seen& seen = f.seen[static_cast<size_t>(i)];
        const bool isSender = before.senderIndex == i;
        if (i >= before.count) {
            Require(record.status == Ready);
            Require(record.lastHeard == f.clock.NowSeconds());
        } else if (isSender && presence && accepted) {
            Require(record.status == static_cast<int32_t>(datagram.PresenceStatus()));
            Require(record.lastHeard == f.clock.NowSeconds());
        } else {
            Require(record.status == seen.status);
            Require(record.lastHeard == seen.lastHeard);
        }

        // History only grows (its oldest entries may go): a message by one
        // entry, a status change by at most the window's notice, anything else
        // not at all.
        const History& history = record.history;
        Require(history.EndSerial() >= seen.historyEnd);
        if (seen.historyEnd > history.FirstSerial()) {
            Require(history[seen.historyEnd - 1 - history.FirstSerial()] == seen.last);
        }
        const uint64_t added = history.EndSerial() - seen.historyEnd;
        // A message lands in its sender's record, this computer's own too.
        if (isSender && text) {
            Require(added == 1);
            Require(record.history.back() ==
                    (HistoryEntry{Incoming, record.name, datagram.BodyText()}));
        } else if (isSender && presence && accepted) {
            // A notice, never a message.
            Require(added <= 1);
            Require(added == 0 ||
                    (record.history.back().kind == Incoming && record.history.back().notice));
        } else {
            Require(added == 0);
        }

        seen.status = record.status;
        seen.lastHeard = record.lastHeard;
        seen.historyEnd = record.history.EndSerial();
        if (!record.history.empty()) {
            seen.last = record.history.back();
        }
    }

    // The selection stays on a live item, and on the sender's own item when
    // that was selected and made again.
    Require(f.fakeTree.selected == nullptr || f.tree.IsLive(f.fakeTree.selected));
    if (before.senderSelected) {
        const TreeItem item = directory.PeerAt(*before.senderIndex).treeItem;
        Require(item == nullptr || f.tree.IsSelectedItem(item));
    }

    CheckCaptions(f, typing);

    // At most one sound, one notification and no box left open per datagram.
    Require(f.player.Played().size() <= before.played + 1);
    for (size_t i = before.played; i < f.player.Played().size(); ++i) {
        Require(f.player.Played()[i].starts_with("Sounds/Standard/"));
    }
    Require(f.sink.shown.size() <= before.notified + 1);
    // It is about the sender, and its balloon shows the text's first 255 bytes.
    if (f.sink.shown.size() > before.notified) {
        const Notification& shown = f.sink.shown.back();
        Require(directory.FindPeerByAddress(sender) == shown.peer);
        Require(shown.balloonText == shown.text.substr(0, Notification::kBalloonTextBytes));
    }
    Require(!f.gate.BoxOpen());
    Require(f.notifier.LastNotifiedPeer() >= 0 &&
            (count == 0 || f.notifier.LastNotifiedPeer() < count));

    // A group assignment sets and saves the group; nothing else does.
    if (group) {
        Require(f.saves == before.saves + 1);
        Require(f.state.Settings().groupName == datagram.BodyText());
        Require(LoadSettings(f.profile) == f.state.Settings());
    } else {
        Require(f.saves == before.saves);
        Require(f.state.Settings().groupName == before.groupName);
    }
}

void DispatchOne(Fixture& f, uint8_t control, const uint8_t* bytes, size_t size) {
    const std::string& sender = kSenders[control & 7];
    if ((control & 0x08) != 0) {
        f.state.Modify([](SettingsRecord& s) { s.showMySelf = !s.showMySelf; });
    }
    if ((control & 0x10) != 0) {
        f.fakeTree.refuseInserts = !f.fakeTree.refuseInserts;
    }
    if (const auto index = f.directory.FindPeerByAddress(sender)) {
        ActOnWindow(f, *index, (control >> 5) & 3);
    }

    // Exactly the received bytes, in a block of their own size, so a read
    // past them is caught.
    size = std::min(size, kReceiveBufferSize);
    const auto block = std::make_unique<uint8_t[]>(size);
    if (size > 0) {
        std::memcpy(block.get(), bytes, size);
    }

    Before before;
    before.count = f.directory.PeerCount();
    before.senderIndex = f.directory.FindPeerByAddress(sender);
    before.senderSelected = before.senderIndex &&
                            f.tree.IsSelectedItem(f.directory.PeerAt(*before.senderIndex).treeItem);
    before.played = f.player.Played().size();
    before.notified = f.sink.shown.size();
    before.saves = f.saves;
    before.groupName = f.state.Settings().groupName;
    f.journal.clear();
    f.events.clear();

    const platform::SocketReceiver::Datagram received{block.get(), static_cast<int>(size), 0,
                                                      Ip(sender)};
    f.receiver.Absorb({&received, 1});
    f.poster.Drain();
    CheckAfter(f, before, DatagramView(block.get(), size), sender);

    f.clock.Advance(1);
    ++f.datagrams;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    if (!g_fixture || g_inputs >= kResetInputs || g_fixture->datagrams >= kResetDatagrams) {
        g_fixture.reset();
        g_fixture = std::make_unique<Fixture>();
        g_inputs = 0;
    }
    ++g_inputs;
    Fixture& f = *g_fixture;

    if ((data[0] & kMultipleBit) == 0) {
        DispatchOne(f, data[0], data + 1, size - 1);
    } else {
        size_t start = 0;
        while (start < size) {
            const void* found = std::memchr(data + start, kSeparator, size - start);
            const size_t end = found != nullptr
                                   ? static_cast<size_t>(static_cast<const uint8_t*>(found) - data)
                                   : size;
            if (end > start) {
                DispatchOne(f, data[start], data + start + 1, end - start - 1);
            }
            start = end + 1;
        }
    }
    f.fakeTree.ops.clear();
    f.sink.shown.clear();
    return 0;
}
