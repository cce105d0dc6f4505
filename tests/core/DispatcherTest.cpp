// tests/core/DispatcherTest.cpp
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/Fakes.h"
#include "core/PeerFakes.h"
#include "core/net/Packet.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerScreen.h"
#include "core/res/Cp1250.h"
#include "core/res/Strings.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"
#include "support/DirectoryLock.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kOwnAddress = "10.0.0.99";
const std::string kJan = "10.0.0.5";
const std::string kEva = "10.0.0.6";
const std::string kPetr = "10.0.0.7";

std::string Cp(std::string_view utf8) {
    return cp1250::FromUtf8(utf8);
}
std::string Wav(const std::string& file) {
    return "Sounds/Standard/" + file;
}
std::string Trace(const std::string& code) {
    return res::String(res::kStrTraceCodePrefix) + code;
}

class DispatchTest : public ::testing::Test {
protected:
    DispatchTest() {
        SettingsRecord s;
        s.userName = "ja";
        s.soundFolder = "Standard";
        s.groupName = "Sklad";
        s.showMySelf = false;
        s.playSounds = true;
        s.soundsInDndState = true;
        s.onNewUserMessage = false;
        s.enableConnectMsg = true;
        s.enableDisconMsg = true;
        state.SetSettings(s);
        state.SetHostComputerName("PC99");
    }

    // Sends what PacketLength says a sender sends.
    void Send(const PacketBuffer& packet, const std::string& from) {
        RecordingPresenter unused;
        const int16_t length = PacketLength(packet, unused);
        dispatcher.DispatchDatagram(packet.data(), static_cast<size_t>(length), Ip(from));
    }
    // Exactly these bytes, in a heap block of their size, so a read past them
    // is caught by the address sanitizer.
    void Raw(const std::vector<uint8_t>& bytes, const std::string& from) {
        const auto block = std::make_unique<uint8_t[]>(bytes.size() + (bytes.empty() ? 1 : 0));
        if (!bytes.empty()) {
            std::memcpy(block.get(), bytes.data(), bytes.size());
        }
        dispatcher.DispatchDatagram(block.get(), bytes.size(), Ip(from));
    }
    void Announce(const std::string& from, int16_t status, std::string_view user = "jan",
                  std::string_view group = "Sklad", std::string_view computer = "PC1") {
        PacketBuffer packet;
        BuildPresence(packet, status, user, computer, group);
        Send(packet, from);
    }
    void Message(const std::string& from, std::string_view text) {
        PacketBuffer packet;
        BuildText(packet, text);
        Send(packet, from);
    }
    void Typing(const std::string& from) {
        PacketBuffer packet;
        BuildTyping(packet);
        Send(packet, from);
    }
    void Bell(const std::string& from) {
        PacketBuffer packet;
        BuildBell(packet);
        Send(packet, from);
    }
    void AssignGroup(const std::string& from, std::string_view group) {
        PacketBuffer packet;
        BuildGroupAssignment(packet, group);
        // PacketLength does not know this kind: header, text, NUL.
        const size_t length =
            4 + std::strlen(reinterpret_cast<const char*>(packet.data() + kTextOffset)) + 1;
        dispatcher.DispatchDatagram(packet.data(), length, Ip(from));
    }
    void Set(void (*change)(SettingsRecord&)) { state.Modify(change); }
    // Past the sound throttle.
    void Later() { clock.Advance(3); }

    PeerRecord& Peer(int index) { return directory.PeerAt(index); }
    const FakeTree::Item& ItemOf(int index) { return FakeTree::At(Peer(index).treeItem); }
    FakeConversation& OpenWindow(int index, bool hidden) {
        windows.push_back(std::make_unique<FakeConversation>(directory, state, index, &journal));
        std::lock_guard lock(LockOf(directory));
        Peer(index).window = windows.back().get();
        Peer(index).windowHidden = hidden;
        return *windows.back();
    }
    // Everything that shows: boxes, sounds, balloons, tree operations.
    bool NothingShown() const {
        return presenter.Shown().empty() && player.Played().empty() && sink.Texts().empty() &&
               tree.ops.empty();
    }

    FakeClock clock{1'000'000};
    AppState state;
    PeerDirectory directory{clock};
    FakeTree tree;
    RecordingPresenter presenter;
    PeerItems items{directory, tree, presenter};
    RecordingSink sink;
    PeerNotifier notifier{sink};
    RecordingPlayer player;
    SoundEvents sounds{state, clock, player};
    int saves = 0;
    PeerScreen dispatcher{PeerScreen::Services{
        .directory = directory,
        .state = state,
        .items = items,
        .notifier = notifier,
        .sounds = sounds,
        .presenter = presenter,
        .clock = clock,
        .isOwnAddress = [](uint32_t address) { return address == Ip(kOwnAddress); },
        .saveSettings = [this] { ++saves; }}};
    std::vector<std::string> journal;
    // Declared after the directory, so they go first.
    std::vector<std::unique_ptr<FakeConversation>> windows;
};

TEST_F(DispatchTest, KindsOutsideTheTableShowTheirTraceCodesAndDoNothingElse) {
    Raw({1, 0, 5, 0}, kJan);                      // type 1, subtype 5
    Raw({3, 0, 4, 0, 'X', 0}, kJan);              // type 3, subtype 4
    Raw({5, 0, 2, 0}, kJan);                      // type 5
    Raw({0xFF, 0xFF, 1, 0, 0, 0, 'a', 0}, kJan);  // type -1

    EXPECT_EQ(presenter.Texts(), (Texts{Trace("View 1, HdrST 5"), Trace("View 7, HdrST 4"),
                                        Trace("View 2, HdrT 5"), Trace("View 2, HdrT -1")}));
    EXPECT_EQ(presenter.Texts()[2], Cp("Chyba 222 !\nPoznamenejte si poslední činnost a KOD.\n"
                                       "Kontaktujte výrobce produktu.\nKOD: View 2, HdrT 5"));
    for (const ShownMessage& box : presenter.Shown()) {
        EXPECT_EQ(box.icon, BoxIcon::Exclamation);
    }
    EXPECT_EQ(directory.PeerCount(), 0);
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(state.Settings().groupName, "Sklad");
    EXPECT_TRUE(player.Played().empty());
    EXPECT_TRUE(sink.Texts().empty());
    EXPECT_TRUE(tree.ops.empty());
}

TEST_F(DispatchTest, ShortDatagramsAndStrangersMessagesAreDroppedSilently) {
    Raw({}, kJan);
    Raw({5}, kJan);
    Raw({5, 0, 2}, kJan);        // would be type 5 with a header
    Raw({1, 0, 1, 0}, kJan);     // presence without a status
    Raw({1, 0, 1, 0, 2}, kJan);  // presence with half a status
    Message(kJan, "ahoj");       // nobody at these addresses has announced
    Typing(kJan);
    Bell(kJan);
    Raw({2, 0, 9, 0}, kEva);

    EXPECT_TRUE(NothingShown());
    EXPECT_EQ(directory.PeerCount(), 0);
}

TEST_F(DispatchTest, FirstAnnouncementMakesAReadyRecordWhateverTheAnnouncedStatus) {
    Announce(kJan, Away, "jan", "Sklad");

    ASSERT_EQ(directory.PeerCount(), 1);
    EXPECT_EQ(Peer(0).name, "jan@PC1");
    EXPECT_EQ(Peer(0).group, "Sklad");
    EXPECT_EQ(Peer(0).address, kJan);
    EXPECT_EQ(Peer(0).status, Ready);
    EXPECT_EQ(Peer(0).lastHeard, 1'000'000);
    EXPECT_TRUE(Peer(0).windowHidden);
    EXPECT_EQ(tree.Dump(), "Sklad: jan@PC1(0)");
    EXPECT_EQ(ItemOf(0).data, 0u);
    EXPECT_TRUE(ItemOf(0).parent->expanded);
    EXPECT_EQ(ItemOf(0).parent->data, kGroupItemData);
    EXPECT_EQ(player.Played(), (Texts{Wav("online.wav")}));
    EXPECT_TRUE(sink.Texts().empty());
    EXPECT_TRUE(presenter.Shown().empty());

    // A second peer of the group: listed after the first, the group expanded again.
    tree.ops.clear();
    Later();
    Announce(kEva, Ready, "eva", "Sklad", "PC2");
    EXPECT_EQ(tree.ops, (Texts{"group Sklad", "insert eva@PC2", "expand"}));
    EXPECT_EQ(tree.Dump(), "Sklad: jan@PC1(0) eva@PC2(0)");
    EXPECT_EQ(ItemOf(1).data, 1u);

    // With "OnNewUserMessage" the newcomer is announced, naming the status it announced.
    Set([](SettingsRecord& s) { s.onNewUserMessage = true; });
    Later();
    Announce(kPetr, DoNotDisturb, "petr", "Kancl", "PC3");
    EXPECT_EQ(tree.Dump(), "Sklad: jan@PC1(0) eva@PC2(0) | Kancl: petr@PC3(0)");
    EXPECT_EQ(Peer(2).status, Ready);
    EXPECT_EQ(sink.Texts(), (Texts{Cp("petr@PC3 je ve stavu : Neruš")}));
    EXPECT_EQ(notifier.LastNotifiedPeer(), 2);
    EXPECT_EQ(player.Played(), (Texts{Wav("online.wav"), Wav("online.wav"), Wav("online.wav")}));
}

TEST_F(DispatchTest, RefusedTreeItemIsTriedAgainAtTheNextAnnouncement) {
    tree.refuseInserts = true;
    Announce(kJan, Ready);
    EXPECT_EQ(tree.Dump(), "");
    EXPECT_TRUE(player.Played().empty());

    tree.refuseInserts = false;
    Announce(kJan, Ready);
    ASSERT_EQ(directory.PeerCount(), 1);
    EXPECT_EQ(tree.Dump(), "Sklad: jan@PC1(0)");
}

TEST_F(DispatchTest, NextAnnouncementBringsTheRealStatusAndAnIdenticalOneOnlyTheTime) {
    Announce(kJan, Away);
    Later();
    Announce(kJan, Away);

    ASSERT_EQ(directory.PeerCount(), 1);
    EXPECT_EQ(Peer(0).status, Away);
    EXPECT_EQ(Peer(0).lastHeard, 1'000'003);
    EXPECT_EQ(player.Played(), (Texts{Wav("online.wav"), Wav("Away.wav")}));
    EXPECT_EQ(sink.Texts(), (Texts{Cp("jan@PC1 je ve stavu : Pryč")}));
    EXPECT_EQ(ItemOf(0).image, 1);

    const TreeItem item = Peer(0).treeItem;
    tree.ops.clear();
    clock.Advance(10);
    Announce(kJan, Away);
    EXPECT_EQ(Peer(0).lastHeard, 1'000'013);
    EXPECT_EQ(Peer(0).treeItem, item);
    EXPECT_TRUE(tree.ops.empty());
    EXPECT_EQ(player.Played().size(), 2u);
    EXPECT_EQ(sink.Texts().size(), 1u);
    EXPECT_EQ(directory.PeerCount(), 1);

    // Each status its own sound and icon.
    Later();
    Announce(kJan, DoNotDisturb);
    EXPECT_EQ(ItemOf(0).image, 2);
    Later();
    Announce(kJan, AtLunch);
    EXPECT_EQ(ItemOf(0).image, 3);
    EXPECT_EQ(player.Played(),
              (Texts{Wav("online.wav"), Wav("Away.wav"), Wav("DND.wav"), Wav("Lunch.wav")}));
    EXPECT_EQ(sink.Texts(),
              (Texts{Cp("jan@PC1 je ve stavu : Pryč"), Cp("jan@PC1 je ve stavu : Neruš"),
                     Cp("jan@PC1 je ve stavu : Jím")}));
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST_F(DispatchTest, NameAndGroupChangeRemakesOnlyThatPeersItem) {
    Announce(kJan, Ready, "jan", "Sklad", "PC1");
    Announce(kEva, Ready, "eva", "Sklad", "PC2");
    Announce(kPetr, Ready, "petr", "Kancl", "PC3");
    FakeConversation& window = OpenWindow(0, false);
    const TreeItem oldItem = Peer(0).treeItem;
    const TreeItem evaItem = Peer(1).treeItem;
    const TreeItem petrItem = Peer(2).treeItem;
    tree.ops.clear();
    const size_t heardBefore = player.Played().size();

    Later();
    Announce(kJan, Ready, "jana", "Kancl", "PC1");

    EXPECT_EQ(Peer(0).name, "jana@PC1");
    EXPECT_EQ(Peer(0).group, "Kancl");
    EXPECT_EQ(window.caption, "jana@PC1");
    EXPECT_TRUE(FakeTree::At(oldItem).deleted);
    EXPECT_EQ(tree.ops, (Texts{"group Kancl", "insert jana@PC1", "expand", "image jana@PC1 0",
                               "delete jan@PC1"}));
    EXPECT_EQ(tree.Dump(), "Sklad: eva@PC2(0) | Kancl: petr@PC3(0) jana@PC1(0)");
    EXPECT_EQ(ItemOf(0).data, 0u);
    EXPECT_EQ(Peer(1).treeItem, evaItem);
    EXPECT_EQ(Peer(2).treeItem, petrItem);
    EXPECT_EQ(player.Played().size(), heardBefore);
    EXPECT_TRUE(sink.Texts().empty());

    // The name alone: the item is remade last in its group.
    tree.ops.clear();
    Announce(kPetr, Ready, "petra", "Kancl", "PC3");
    EXPECT_EQ(tree.Dump(), "Sklad: eva@PC2(0) | Kancl: jana@PC1(0) petra@PC3(0)");
    EXPECT_EQ(tree.ops, (Texts{"group Kancl", "insert petra@PC3", "expand", "image petra@PC3 0",
                               "delete petr@PC3"}));
}

TEST_F(DispatchTest, AGroupGoesWithItsLastPeerItem) {
    Announce(kJan, Ready, "jan", "Sklad", "PC1");
    Announce(kEva, Ready, "eva", "Kancl", "PC2");
    Announce(kPetr, Ready, "petr", "Kancl", "PC3");
    const TreeItem kancl = ItemOf(1).parent;

    // A Disconnected peer still holds its group.
    Later();
    Announce(kPetr, Disconnected, "petr", "Kancl", "PC3");
    Later();
    Announce(kEva, Ready, "eva", "Dilna", "PC2");
    EXPECT_EQ(tree.Dump(), "Sklad: jan@PC1(0) | Kancl: petr@PC3(4) | Dilna: eva@PC2(0)");
    EXPECT_FALSE(FakeTree::At(kancl).deleted);

    // A lone peer's new name keeps its group's item and place.
    const TreeItem dilna = ItemOf(1).parent;
    Announce(kEva, Ready, "evka", "Dilna", "PC2");
    EXPECT_EQ(ItemOf(1).parent, dilna);
    EXPECT_EQ(tree.Dump(), "Sklad: jan@PC1(0) | Kancl: petr@PC3(4) | Dilna: evka@PC2(0)");

    // The last peer leaves: its new item is made, then the old one and its group go.
    const TreeItem sklad = ItemOf(0).parent;
    tree.ops.clear();
    Announce(kJan, Ready, "jan", "Dilna", "PC1");
    EXPECT_EQ(tree.ops, (Texts{"group Dilna", "insert jan@PC1", "expand", "image jan@PC1 0",
                               "delete jan@PC1", "delete Sklad"}));
    EXPECT_TRUE(FakeTree::At(sklad).deleted);
    EXPECT_EQ(tree.Dump(), "Kancl: petr@PC3(4) | Dilna: evka@PC2(0) jan@PC1(0)");

    // A group that went is made again, last.
    Announce(kEva, Ready, "evka", "Sklad", "PC2");
    EXPECT_EQ(tree.Dump(), "Kancl: petr@PC3(4) | Dilna: jan@PC1(0) | Sklad: evka@PC2(0)");
}

TEST_F(DispatchTest, ASelectedPeersRemadeItemStaysSelected) {
    Announce(kJan, Ready, "jan", "Sklad", "PC1");
    Announce(kEva, Ready, "eva", "Kancl", "PC2");
    tree.SelectItem(Peer(0).treeItem);

    Announce(kJan, Ready, "jana", "Sklad", "PC1");
    EXPECT_TRUE(tree.IsSelectedItem(Peer(0).treeItem));
    Announce(kJan, Ready, "jana", "Kancl", "PC1");
    EXPECT_TRUE(tree.IsSelectedItem(Peer(0).treeItem));
    EXPECT_EQ(tree.Dump(), "Kancl: eva@PC2(0) jana@PC1(0)");

    // Another peer's item made again leaves the selection alone.
    tree.ops.clear();
    Announce(kEva, Ready, "eva", "Sklad", "PC2");
    EXPECT_TRUE(tree.IsSelectedItem(Peer(0).treeItem));
    EXPECT_EQ(std::count_if(tree.ops.begin(), tree.ops.end(),
                            [](const std::string& op) { return op.starts_with("select"); }),
              0);
}

TEST_F(DispatchTest, GoodbyeMarksThePeerAndItsNextAnnouncementRevivesIt) {
    Announce(kJan, Ready);
    Announce(kEva, Ready, "eva", "Sklad", "PC2");
    FakeConversation& window = OpenWindow(0, true);

    Later();
    Announce(kJan, Disconnected);
    ASSERT_EQ(directory.PeerCount(), 2);
    EXPECT_EQ(Peer(0).status, Disconnected);
    EXPECT_EQ(ItemOf(0).image, 4);
    EXPECT_EQ(player.Played().back(), Wav("offline.wav"));
    EXPECT_EQ(sink.Texts(), (Texts{Cp("jan@PC1 je ve stavu : Odpojen")}));
    EXPECT_EQ(Peer(0).history,
              (std::vector<HistoryEntry>{
                  {Incoming, "jan@PC1", Cp("!Uživatel se odpojil - nelze komunikovat!"), true}}));
    EXPECT_FALSE(window.sendingEnabled);
    EXPECT_EQ(window.loggedLines, 1u);

    Later();
    Announce(kJan, Ready);
    EXPECT_EQ(Peer(0).status, Ready);
    EXPECT_EQ(ItemOf(0).image, 0);
    EXPECT_EQ(player.Played().back(), Wav("online.wav"));
    ASSERT_EQ(Peer(0).history.size(), 2u);
    EXPECT_EQ(Peer(0).history[1],
              (HistoryEntry{Incoming, "jan@PC1", Cp("*Uživatel se znovu připojil!"), true}));
    EXPECT_TRUE(window.sendingEnabled);
    EXPECT_EQ(window.loggedLines, 2u);

    // Without "EnableDisconMsg": no line, but sending is still disabled.
    Set([](SettingsRecord& s) { s.enableDisconMsg = false; });
    Later();
    Announce(kJan, Disconnected);
    EXPECT_EQ(Peer(0).history.size(), 2u);
    EXPECT_FALSE(window.sendingEnabled);

    // A peer without a window goes and comes the same way.
    Later();
    Announce(kEva, Disconnected, "eva", "Sklad", "PC2");
    EXPECT_EQ(ItemOf(1).image, 4);
    EXPECT_TRUE(Peer(1).history.empty());
    EXPECT_EQ(tree.Dump(), "Sklad: jan@PC1(4) eva@PC2(4)");
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST_F(DispatchTest, APeerBackInAnyStatusIsWritableAgain) {
    Announce(kJan, Ready);
    FakeConversation& window = OpenWindow(0, false);
    const std::string reconnected = Cp("*Uživatel se znovu připojil!");
    const auto notices = [&] {
        return std::count_if(Peer(0).history.begin(), Peer(0).history.end(),
                             [&](const HistoryEntry& e) { return e.text == reconnected; });
    };

    // After a goodbye, back as Away.
    Later();
    Announce(kJan, Disconnected);
    ASSERT_FALSE(window.sendingEnabled);
    Later();
    Announce(kJan, Away);
    EXPECT_TRUE(window.sendingEnabled);
    EXPECT_EQ(Peer(0).history.back(), (HistoryEntry{Incoming, "jan@PC1", reconnected, true}));
    EXPECT_EQ(window.loggedLines, Peer(0).history.size());
    EXPECT_EQ(notices(), 1);

    // A change between two live statuses writes nothing; to Ready it does.
    Later();
    Announce(kJan, AtLunch);
    EXPECT_EQ(notices(), 1);
    Later();
    Announce(kJan, Ready);
    EXPECT_EQ(notices(), 2);

    // Fallen silent (as the watcher marks it), the window opened meanwhile,
    // then back as Do not disturb: one notice.
    {
        std::lock_guard lock(LockOf(directory));
        Peer(0).status = Disconnected;
    }
    window.MarkPeerDisconnected(false);
    Later();
    Announce(kJan, DoNotDisturb);
    EXPECT_TRUE(window.sendingEnabled);
    EXPECT_EQ(notices(), 3);
    EXPECT_EQ(ItemOf(0).image, DoNotDisturb);

    // From Disconnected to Ready: still one notice.
    Later();
    Announce(kJan, Disconnected);
    Later();
    Announce(kJan, Ready);
    EXPECT_TRUE(window.sendingEnabled);
    EXPECT_EQ(notices(), 4);
}

TEST_F(DispatchTest, StatusOutsideTheTableIsReportedAndStillStored) {
    Announce(kJan, Ready);
    Later();
    Announce(kJan, 9);

    // The item is brought up to date before anything is said.
    EXPECT_EQ(presenter.Texts(),
              (Texts{Trace("View 4, val 9"), Trace("View 3, MsgSt 9"), Trace("App 1, aSt 9")}));
    EXPECT_EQ(Peer(0).status, 9);
    EXPECT_EQ(player.Played(), (Texts{Wav("online.wav")}));
    EXPECT_EQ(sink.Texts(), (Texts{Cp("jan@PC1 je ve stavu : ")}));
    EXPECT_EQ(ItemOf(0).image, 0);

    // Unchanged: nothing more. The wire value is signed.
    Announce(kJan, 9);
    EXPECT_EQ(presenter.Texts().size(), 3u);
    Announce(kJan, -1);
    EXPECT_EQ(Peer(0).status, -1);
    EXPECT_EQ(presenter.Texts().at(4), Trace("View 3, MsgSt -1"));
}

// The trace box's event loop delivers the peer's next announcement; the older
// status must not be stored over it afterwards.
TEST_F(DispatchTest, ANewerAnnouncementDuringTheTraceBoxIsKept) {
    Announce(kJan, Ready);
    Later();
    bool delivered = false;
    presenter.OnShow([&] {
        if (!delivered) {
            delivered = true;
            Later();
            Announce(kJan, Away);
        }
    });
    Announce(kJan, 9);
    EXPECT_TRUE(delivered);
    EXPECT_EQ(Peer(0).status, Away);
    EXPECT_EQ(ItemOf(0).image, Away);
}

TEST_F(DispatchTest, MessageToAShownWindowRefreshesItAndToAHiddenOneNotifies) {
    Announce(kJan, Ready);
    Announce(kEva, Ready, "eva", "Sklad", "PC2");
    Announce(kPetr, Ready, "petr", "Sklad", "PC3");
    FakeConversation& shown = OpenWindow(0, false);
    FakeConversation& hidden = OpenWindow(1, true);
    Typing(kJan);
    ASSERT_EQ(shown.caption, Cp("jan@PC1 - píše zprávu."));

    Later();
    Message(kJan, Cp("ahoj, jak se máš?"));
    EXPECT_EQ(Peer(0).history,
              (std::vector<HistoryEntry>{{Incoming, "jan@PC1", Cp("ahoj, jak se máš?")}}));
    EXPECT_EQ(player.Played().back(), Wav("SmallMsg.wav"));
    EXPECT_EQ(shown.caption, "jan@PC1");
    EXPECT_EQ(shown.refreshes, 1);
    EXPECT_EQ(shown.loggedLines, 1u);
    EXPECT_TRUE(sink.Texts().empty());
    EXPECT_EQ(ItemOf(0).image, 5);

    Later();
    Message(kEva, "zdar");
    EXPECT_EQ(Peer(1).history, (std::vector<HistoryEntry>{{Incoming, "eva@PC2", "zdar"}}));
    EXPECT_EQ(player.Played().back(), Wav("message.wav"));
    EXPECT_EQ(sink.Texts(), (Texts{"eva@PC2 : zdar"}));
    EXPECT_EQ(notifier.LastNotifiedPeer(), 1);
    EXPECT_EQ(hidden.refreshes, 0);
    EXPECT_EQ(ItemOf(1).image, 5);

    // No window at all: as for a hidden one.
    Later();
    Message(kPetr, "hej");
    EXPECT_EQ(player.Played().back(), Wav("message.wav"));
    EXPECT_EQ(sink.Texts().back(), "petr@PC3 : hej");
    EXPECT_EQ(notifier.LastNotifiedPeer(), 2);
    EXPECT_EQ(ItemOf(2).image, 5);

    // Within the throttle: stored and shown, not heard.
    const size_t heard = player.Played().size();
    Message(kPetr, "znovu");
    EXPECT_EQ(player.Played().size(), heard);
    EXPECT_EQ(sink.Texts().back(), "petr@PC3 : znovu");
    EXPECT_EQ(Peer(2).history.size(), 2u);
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST_F(DispatchTest, TypingNoticeOnlyChangesTheCaptionOfAnExistingWindow) {
    Announce(kJan, Ready);
    Announce(kEva, Ready, "eva", "Sklad", "PC2");
    FakeConversation& hidden = OpenWindow(0, true);
    tree.ops.clear();
    const size_t heardBefore = player.Played().size();

    Later();
    Typing(kJan);
    Typing(kEva);  // no window: nothing

    EXPECT_EQ(hidden.caption, Cp("jan@PC1 - píše zprávu."));
    EXPECT_EQ(player.Played().size(), heardBefore);
    EXPECT_TRUE(sink.Texts().empty());
    EXPECT_TRUE(tree.ops.empty());
    EXPECT_TRUE(Peer(0).history.empty());
    EXPECT_EQ(hidden.refreshes, 0);
}

TEST_F(DispatchTest, BellQuotesThePeersNewestLine) {
    Announce(kJan, Ready);
    Announce(kEva, Ready, "eva", "Sklad", "PC2");
    Message(kJan, Cp("první"));
    Message(kJan, Cp("druhá"));
    {
        std::lock_guard lock(LockOf(directory));
        Peer(0).AppendOutgoing("ja", "moje");
        Peer(1).AppendOutgoing("ja", "jen moje");
    }
    sink.shown.clear();

    Later();
    Bell(kJan);
    EXPECT_EQ(sink.Texts(),
              (Texts{Cp("jan@PC1 vyžaduje tvou pozornost!\nPoslední správa : druhá")}));
    EXPECT_EQ(player.Played().back(), Wav("Bell.wav"));
    EXPECT_EQ(ItemOf(0).image, 6);
    EXPECT_EQ(notifier.LastNotifiedPeer(), 0);

    // Only the user's own lines: no quote. Any subtype of type 2 rings.
    Later();
    Raw({2, 0, 7, 0}, kEva);
    EXPECT_EQ(sink.Texts().back(), Cp("eva@PC2 vyžaduje tvou pozornost!"));
    EXPECT_EQ(player.Played().back(), Wav("Bell.wav"));
    EXPECT_EQ(ItemOf(1).image, 6);
    EXPECT_EQ(notifier.LastNotifiedPeer(), 1);
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST_F(DispatchTest, BellQuotesAMessageAndNeverTheProgramsNotices) {
    Announce(kJan, Ready);
    OpenWindow(0, true);
    Message(kJan, Cp("první"));
    Later();
    Announce(kJan, Disconnected);
    Later();
    Announce(kJan, Ready);
    ASSERT_EQ(Peer(0).history.size(), 3u);
    sink.shown.clear();

    Bell(kJan);
    EXPECT_EQ(sink.Texts(),
              (Texts{Cp("jan@PC1 vyžaduje tvou pozornost!\nPoslední správa : první")}));

    // The peer's own text may start with a marker and is still its message.
    Message(kJan, "*hotovo");
    Later();
    Announce(kJan, Away);
    Later();
    Announce(kJan, Ready);
    Bell(kJan);
    EXPECT_EQ(sink.Texts().back(),
              Cp("jan@PC1 vyžaduje tvou pozornost!\nPoslední správa : *hotovo"));

    // Only notices: nothing to quote.
    Announce(kEva, Ready, "eva", "Sklad", "PC2");
    OpenWindow(1, true);
    Later();
    Announce(kEva, Disconnected, "eva", "Sklad", "PC2");
    Bell(kEva);
    EXPECT_EQ(sink.Texts().back(), Cp("eva@PC2 vyžaduje tvou pozornost!"));
}

TEST_F(DispatchTest, GroupAssignmentFromAnySenderSetsAndSavesTheGroupName) {
    AssignGroup("10.9.9.9", Cp("Účtárna"));
    EXPECT_EQ(state.Settings().groupName, Cp("Účtárna"));
    EXPECT_EQ(saves, 1);

    AssignGroup(kOwnAddress, "");
    EXPECT_EQ(state.Settings().groupName, "");
    EXPECT_EQ(saves, 2);

    // A text without its NUL ends with the datagram.
    Raw({3, 0, 3, 0, 'A', 'B'}, "10.9.9.9");
    EXPECT_EQ(state.Settings().groupName, "AB");
    EXPECT_EQ(saves, 3);

    EXPECT_EQ(directory.PeerCount(), 0);
    EXPECT_TRUE(NothingShown());
}

TEST_F(DispatchTest, OwnDatagramsCountOnlyWithShowMySelf) {
    Announce(kOwnAddress, Ready, "ja", "Sklad", "PC99");
    Message(kOwnAddress, "sobě");
    EXPECT_EQ(directory.PeerCount(), 0);
    EXPECT_TRUE(NothingShown());

    Set([](SettingsRecord& s) { s.showMySelf = true; });
    Announce(kOwnAddress, Ready, "ja", "Sklad", "PC99");
    ASSERT_EQ(directory.PeerCount(), 1);
    EXPECT_EQ(tree.Dump(), "Sklad: ja@PC99(0)");
    Message(kOwnAddress, "všem");
    EXPECT_EQ(Peer(0).history, (std::vector<HistoryEntry>{{Incoming, "ja@PC99", "všem"}}));

    // Switched off again: the own record's announcements are no longer taken,
    // but it is still found by its address for messages, typing and bells.
    Set([](SettingsRecord& s) { s.showMySelf = false; });
    FakeConversation& window = OpenWindow(0, false);
    tree.ops.clear();
    sink.shown.clear();
    clock.Advance(20);
    Announce(kOwnAddress, Away, "jiny", "Jinde", "PC99");
    EXPECT_EQ(Peer(0).status, Ready);
    EXPECT_EQ(Peer(0).name, "ja@PC99");
    EXPECT_EQ(Peer(0).lastHeard, 1'000'000);
    EXPECT_TRUE(tree.ops.empty());
    Typing(kOwnAddress);
    EXPECT_EQ(window.caption, Cp("ja@PC99 - píše zprávu."));
    Message(kOwnAddress, "zase");
    EXPECT_EQ(Peer(0).history, (std::vector<HistoryEntry>{{Incoming, "ja@PC99", "všem"},
                                                          {Incoming, "ja@PC99", "zase"}}));
    EXPECT_EQ(window.refreshes, 1);
    Bell(kOwnAddress);
    EXPECT_EQ(sink.Texts().size(), 1u);
    EXPECT_EQ(directory.PeerCount(), 1);
}

// Spoofed senders cannot take the memory without end: beyond the cap a new
// address is dropped and counted, and the first of a run of drops is logged.
TEST_F(DispatchTest, NewPeersBeyondTheCapAreDroppedCountedAndLoggedOncePerRun) {
    for (int i = 0; i < PeerDirectory::kMaxPeers - 1; ++i) {
        directory.AddPeer(nullptr, "p", "g", static_cast<uint32_t>(0x0B000000 + i), Ready);
    }
    RecordingLog log;
    Announce("10.0.0.5", Ready);
    ASSERT_EQ(directory.PeerCount(), PeerDirectory::kMaxPeers);
    Announce("10.0.0.6", Ready);
    Announce("10.0.0.7", Ready);
    Announce("10.0.0.5", Away);  // a known peer is still heard
    EXPECT_EQ(directory.PeerCount(), PeerDirectory::kMaxPeers);
    EXPECT_EQ(Peer(PeerDirectory::kMaxPeers - 1).status, Away);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Lines()[0].find("10.0.0.6"), std::string::npos) << log.Lines()[0];

    clock.Advance(Dispatcher::kRefusalQuietSeconds);
    Announce("10.0.0.8", Ready);
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_NE(log.Lines()[1].find("since the start: 3."), std::string::npos) << log.Lines()[1];
}

TEST_F(DispatchTest, TextFieldsAreReadOnlyWithinTheReceivedBytes) {
    // 30 bytes: the name runs to the end with no NUL, no group at all.
    std::vector<uint8_t> presence = {1, 0, 1, 0, 0, 0};
    presence.resize(30, 'n');
    Raw(presence, kJan);
    ASSERT_EQ(directory.PeerCount(), 1);
    EXPECT_EQ(Peer(0).name, std::string(24, 'n'));
    EXPECT_EQ(Peer(0).group, "");

    // A full-length announcement with an unterminated name stops at the field's width.
    std::vector<uint8_t> full(kPresenceLength, 0);
    full[0] = 1;
    full[2] = 1;
    std::memset(full.data() + kPresenceNameOffset, 'a', kPresenceFieldWidth);
    std::memset(full.data() + kPresenceGroupOffset, 'g', kPresenceFieldWidth);
    Raw(full, kEva);
    ASSERT_EQ(directory.PeerCount(), 2);
    EXPECT_EQ(Peer(1).name, std::string(48, 'a'));
    EXPECT_EQ(Peer(1).group, std::string(48, 'g'));

    // Just a status: empty name and group.
    Raw({1, 0, 1, 0, 0, 0}, kPetr);
    ASSERT_EQ(directory.PeerCount(), 3);
    EXPECT_EQ(Peer(2).name, "");

    // A message without its NUL.
    Raw({1, 0, 2, 0, 'h', 'i'}, kJan);
    Raw({1, 0, 2, 0}, kJan);
    ASSERT_EQ(Peer(0).history.size(), 2u);
    EXPECT_EQ(Peer(0).history[0].text, "hi");
    EXPECT_EQ(Peer(0).history[1].text, "");
}

// Whether the calling thread holds the lock: another thread cannot take it then.
bool HeldByCaller(std::recursive_mutex& mutex) {
    bool taken = false;
    std::thread([&] {
        taken = mutex.try_lock();
        if (taken) {
            mutex.unlock();
        }
    }).join();
    return !taken;
}

struct LockProbe {
    std::recursive_mutex& mutex;
    std::vector<std::string> underLock;
    std::vector<std::string> free;
    void Note(const std::string& what) { (HeldByCaller(mutex) ? underLock : free).push_back(what); }
};

class ProbingTree final : public PeerTree {
public:
    ProbingTree(FakeTree& inner, LockProbe& probe) : m_inner(inner), m_probe(probe) {}
    TreeItem FindOrAddGroupItem(const std::string& group) override {
        m_probe.Note("tree group");
        return m_inner.FindOrAddGroupItem(group);
    }
    TreeItem InsertPeerItem(TreeItem group, const std::string& name, int image) override {
        m_probe.Note("tree insert");
        return m_inner.InsertPeerItem(group, name, image);
    }
    void ExpandItem(TreeItem item) override {
        m_probe.Note("tree expand");
        m_inner.ExpandItem(item);
    }
    void DeleteItem(TreeItem item) override {
        m_probe.Note("tree delete");
        m_inner.DeleteItem(item);
    }
    TreeItem GroupOf(TreeItem item) const override { return m_inner.GroupOf(item); }
    bool HasPeerItems(TreeItem group) const override { return m_inner.HasPeerItems(group); }
    bool IsSelectedItem(TreeItem item) const override { return m_inner.IsSelectedItem(item); }
    void SelectItem(TreeItem item) override { m_inner.SelectItem(item); }
    void SetItemData(TreeItem item, uint32_t data) override { m_inner.SetItemData(item, data); }
    void SetItemImage(TreeItem item, int image) override {
        m_probe.Note("tree image " + std::to_string(image));
        m_inner.SetItemImage(item, image);
    }

private:
    FakeTree& m_inner;
    LockProbe& m_probe;
};

struct ProbingSink final : NotificationSink {
    explicit ProbingSink(LockProbe& p) : probe(p) {}
    void Show(const Notification& notification) override {
        probe.Note("balloon " + notification.text);
    }
    LockProbe& probe;
};

struct ProbingPlayer final : SoundPlayer {
    explicit ProbingPlayer(LockProbe& p) : probe(p) {}
    void Play(const std::string& path) override { probe.Note("sound " + path); }
    LockProbe& probe;
};

class ProbingConversation final : public ConversationWindow {
public:
    ProbingConversation(PeerDirectory& directory, const AppState& state, int index,
                        LockProbe& probe)
        : ConversationWindow(directory, state, index), m_probe(probe) {}
    void SetCaption(const std::string&) override {}
    void RefreshLog() override {}
    void ShowAndRaise() override {}
    void SetSendingEnabled(bool enabled) override {
        m_probe.Note(enabled ? "window enable" : "window disable");
    }

private:
    LockProbe& m_probe;
};

TEST_F(DispatchTest, DirectoryLockIsNotHeldAcrossTreeSoundsOrBalloons) {
    LockProbe probe{LockOf(directory), {}, {}};
    ProbingTree probingTree{tree, probe};
    PeerItems probingItems{directory, probingTree, presenter};
    ProbingSink probingSink{probe};
    PeerNotifier probingNotifier{probingSink};
    ProbingPlayer probingPlayer{probe};
    SoundEvents probingSounds{state, clock, probingPlayer};
    PeerScreen probed{PeerScreen::Services{.directory = directory,
                                           .state = state,
                                           .items = probingItems,
                                           .notifier = probingNotifier,
                                           .sounds = probingSounds,
                                           .presenter = presenter,
                                           .clock = clock,
                                           .isOwnAddress = [](uint32_t) { return false; }}};
    const auto send = [&](const PacketBuffer& packet, size_t length) {
        probed.DispatchDatagram(packet.data(), length, Ip(kJan));
        clock.Advance(3);
    };
    // Without the notice lines the first bell has nothing to quote.
    Set([](SettingsRecord& s) {
        s.onNewUserMessage = true;
        s.enableConnectMsg = false;
        s.enableDisconMsg = false;
    });

    PacketBuffer packet;
    BuildPresence(packet, Away, "jan", "PC1", "Sklad");
    send(packet, kPresenceLength);  // new peer
    ProbingConversation window{directory, state, 0, probe};
    {
        std::lock_guard lock(LockOf(directory));
        Peer(0).window = &window;
    }
    send(packet, kPresenceLength);  // status change
    BuildPresence(packet, Disconnected, "jana", "PC1", "Kancl");
    send(packet, kPresenceLength);  // name, group and status change
    BuildPresence(packet, Ready, "jana", "PC1", "Kancl");
    send(packet, kPresenceLength);
    BuildBell(packet);
    send(packet, 4);  // bell without a last message
    BuildText(packet, "ahoj");
    send(packet, 9);  // hidden window
    {
        std::lock_guard lock(LockOf(directory));
        Peer(0).windowHidden = false;
    }
    send(packet, 9);  // shown window
    BuildBell(packet);
    send(packet, 4);  // bell with a last message

    EXPECT_EQ(probe.underLock, Texts{});
    EXPECT_NE(std::find(probe.free.begin(), probe.free.end(), "tree delete"), probe.free.end());
    EXPECT_NE(std::find(probe.free.begin(), probe.free.end(), "window disable"), probe.free.end());
    EXPECT_NE(std::find(probe.free.begin(), probe.free.end(), "window enable"), probe.free.end());
    EXPECT_NE(std::find(probe.free.begin(), probe.free.end(), "tree image 5"), probe.free.end());
    EXPECT_NE(std::find(probe.free.begin(), probe.free.end(), "tree image 6"), probe.free.end());
    EXPECT_EQ(std::count_if(probe.free.begin(), probe.free.end(),
                            [](const std::string& s) { return s.starts_with("sound "); }),
              8);
    EXPECT_EQ(std::count_if(probe.free.begin(), probe.free.end(),
                            [](const std::string& s) { return s.starts_with("balloon "); }),
              7);
}

// Without a tray a balloon is a modal box: when it opens, the tree and the
// window must already show the new state and the lock must be free, or the
// liveness watcher waits until the box is closed.
TEST_F(DispatchTest, BalloonsComeAfterTheIconAndWithoutTheLock) {
    Set([](SettingsRecord& s) { s.onNewUserMessage = true; });
    Texts seen;
    sink.onShow = [&](const Notification&) {
        const bool free = !HeldByCaller(LockOf(directory));
        const PeerRecord& record = Peer(directory.PeerCount() - 1);
        std::string what = (free ? "free " : "held ") +
                           (record.treeItem != nullptr ? std::to_string(ItemOf(0).image) : "-");
        if (record.window != nullptr) {
            what += windows.back()->sendingEnabled ? " enabled" : " disabled";
        }
        seen.push_back(what);
    };
    Announce(kJan, Ready);
    OpenWindow(0, true);
    Later();
    Announce(kJan, Away);
    Message(kJan, "ahoj");
    Later();
    Bell(kJan);
    Later();
    Announce(kJan, Disconnected);
    Later();
    Announce(kJan, DoNotDisturb, "jana", "Kancl");
    EXPECT_EQ(seen, (Texts{"free 0", "free 1 enabled", "free 5 enabled", "free 6 enabled",
                           "free 4 disabled", "free 2 enabled"}));
}

}  // namespace
