// tests/core/PeerDirectoryTest.cpp
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "Fakes.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerNotifier.h"
#include "support/DirectoryLock.h"

namespace {

std::optional<int> ScanFirstMatch(const PeerDirectory& directory, const std::string& address) {
    for (int i = 0; i < directory.PeerCount(); ++i) {
        if (directory.PeerAt(i).address == address) {
            return i;
        }
    }
    return std::nullopt;
}

TEST(PeerDirectory, NewRecordHasTheGivenValuesAndTheCreationTime) {
    FakeClock clock{5000};
    PeerDirectory directory{clock};
    int item = 0;
    const int index = directory.AddPeer(&item, "jan@PC1", "Sklad", "10.0.0.5", Away);

    ASSERT_EQ(index, 0);
    ASSERT_EQ(directory.PeerCount(), 1);
    const PeerRecord& record = directory.PeerAt(0);
    EXPECT_EQ(record.treeItem, &item);
    EXPECT_EQ(record.name, "jan@PC1");
    EXPECT_EQ(record.group, "Sklad");
    EXPECT_EQ(record.address, "10.0.0.5");
    EXPECT_EQ(record.status, Away);
    EXPECT_EQ(record.window, nullptr);
    EXPECT_TRUE(record.windowHidden);
    EXPECT_TRUE(record.history.empty());
    EXPECT_EQ(record.lastHeard, 5000);
}

TEST(PeerDirectory, LookupMatchesTheExactAddressAndTheFirstRecord) {
    FakeClock clock;
    PeerDirectory directory{clock};
    directory.AddPeer(nullptr, "a", "g", "10.0.0.1", Ready);
    directory.AddPeer(nullptr, "b", "g", "10.0.0.10", Ready);
    // Invariant 1 is the dispatcher's duty; the directory still answers like a scan.
    directory.AddPeer(nullptr, "c", "g", "10.0.0.1", Ready);

    EXPECT_EQ(directory.FindPeerByAddress("10.0.0.1"), 0);
    EXPECT_EQ(directory.FindPeerByAddress("10.0.0.10"), 1);
    EXPECT_EQ(directory.FindPeerByAddress("10.0.0.100"), std::nullopt);
    EXPECT_EQ(directory.FindPeerByAddress("10.0.0.1 "), std::nullopt);
    EXPECT_EQ(directory.FindPeerByAddress(""), std::nullopt);

    // The receive thread's key: the address as a number; the record keeps both.
    EXPECT_EQ(directory.FindPeerByAddress(0x0A00000Au), 1);
    EXPECT_EQ(directory.FindPeerByAddress(0x0A000064u), std::nullopt);
    const int added = directory.AddPeer(nullptr, "d", "g", 0x0A000064u, Ready);
    EXPECT_EQ(directory.FindPeerByAddress("10.0.0.100"), added);
    EXPECT_EQ(directory.PeerAt(added).address, "10.0.0.100");
    EXPECT_EQ(directory.PeerAt(2).ip, 0x0A000001u);
}

TEST(PeerDirectory, IndexLookupEqualsAFirstMatchScanOverManyPeers) {
    FakeClock clock;
    PeerDirectory directory{clock};
    for (int i = 0; i < 3000; ++i) {
        // Every seventh address repeats an earlier one.
        const int host = i % 7 == 6 ? i / 2 : i;
        directory.AddPeer(nullptr, "p" + std::to_string(i), "g",
                          "10.1." + std::to_string(host / 250) + "." + std::to_string(host % 250),
                          Ready);
    }
    for (int host = 0; host < 3100; host += 13) {
        const std::string address =
            "10.1." + std::to_string(host / 250) + "." + std::to_string(host % 250);
        EXPECT_EQ(directory.FindPeerByAddress(address), ScanFirstMatch(directory, address))
            << address;
    }
}

TEST(PeerDirectory, IndexesAndRecordAddressesStayStableAsTheDirectoryGrows) {
    FakeClock clock;
    PeerDirectory directory{clock};
    directory.AddPeer(nullptr, "first", "g", "10.0.0.1", Ready);
    PeerRecord* first = &directory.PeerAt(0);
    first->AppendIncoming("first", "ahoj");
    for (int i = 0; i < 5000; ++i) {
        directory.AddPeer(nullptr, "p", "g", "10.2.0." + std::to_string(i), Ready);
    }
    EXPECT_EQ(&directory.PeerAt(0), first);
    EXPECT_EQ(directory.PeerAt(0).history,
              (std::vector<HistoryEntry>{{Incoming, "first", "ahoj"}}));
    EXPECT_TRUE(directory.IsValidIndex(5000));
    EXPECT_FALSE(directory.IsValidIndex(5001));
    EXPECT_FALSE(directory.IsValidIndex(-1));
}

TEST(PeerDirectory, HistoryKeepsBothKindsInOrder) {
    FakeClock clock;
    PeerDirectory directory{clock};
    directory.AddPeer(nullptr, "P1", "g", "10.0.0.1", Ready);
    PeerRecord& record = directory.PeerAt(0);
    record.AppendIncoming("P1", "ahoj");
    record.AppendOutgoing("U2", "nazdar");
    record.AppendIncoming("P1", "!Uživatel");
    EXPECT_EQ(record.history, (std::vector<HistoryEntry>{{Incoming, "P1", "ahoj"},
                                                         {Outgoing, "U2", "nazdar"},
                                                         {Incoming, "P1", "!Uživatel"}}));
}

// One thread appends records and history lines under the lock while another
// scans under the lock, as the watcher does; the sanitizers watch for races.
TEST(PeerDirectory, ConcurrentAppendAndScanUnderTheLock) {
    FakeClock clock;
    PeerDirectory directory{clock};
    constexpr int kPeers = 2000;
    std::atomic<bool> done{false};
    std::atomic<int> scans{0};

    std::thread scanner([&] {
        while (!done.load()) {
            std::lock_guard lock(LockOf(directory));
            int disconnected = 0;
            for (int i = 0; i < directory.PeerCount(); ++i) {
                PeerRecord& record = directory.PeerAt(i);
                if (record.status != Disconnected && i % 2 == 0) {
                    record.status = Disconnected;
                }
                disconnected += record.status == Disconnected ? 1 : 0;
            }
            EXPECT_LE(disconnected, directory.PeerCount());
            scans.fetch_add(1);
        }
    });

    for (int i = 0; i < kPeers; ++i) {
        std::lock_guard lock(LockOf(directory));
        const int index = directory.AddPeer(
            nullptr, "p", "g", "10.3." + std::to_string(i / 256) + "." + std::to_string(i % 256),
            Ready);
        directory.PeerAt(index).AppendIncoming("p", std::to_string(i));
    }
    while (scans.load() < 3) {
        std::this_thread::yield();
    }
    done.store(true);
    scanner.join();

    ASSERT_EQ(directory.PeerCount(), kPeers);
    for (int i = 0; i < kPeers; ++i) {
        EXPECT_EQ(directory.FindPeerByAddress(0x0A030000u + static_cast<uint32_t>(i)), i);
        ASSERT_EQ(directory.PeerAt(i).history.size(), 1u);
        EXPECT_EQ(directory.PeerAt(i).history[0].text, std::to_string(i));
    }
}

// A flood of messages from one peer keeps its newest 10,000; the history
// tells that older ones went, and the serials count every entry of the run.
TEST(PeerDirectory, AHistoryKeepsItsNewestTenThousandEntries) {
    FakeClock clock;
    PeerDirectory directory{clock};
    directory.AddPeer(nullptr, "P1", "g", "10.0.0.1", Ready);
    PeerRecord& record = directory.PeerAt(0);
    for (int i = 0; i < 10000; ++i) {
        record.AppendIncoming("P1", std::to_string(i));
    }
    EXPECT_EQ(record.history.size(), 10000u);
    EXPECT_FALSE(record.history.OlderRemoved());
    EXPECT_EQ(record.history.FirstSerial(), 0u);

    record.AppendOutgoing("U2", "odpoved");
    record.AppendNotice("P1", "!konec");
    EXPECT_EQ(record.history.size(), 10000u);
    EXPECT_TRUE(record.history.OlderRemoved());
    EXPECT_EQ(record.history.FirstSerial(), 2u);
    EXPECT_EQ(record.history.EndSerial(), 10002u);
    EXPECT_EQ(record.history.front().text, "2");
    EXPECT_EQ(record.history[9998], (HistoryEntry{Outgoing, "U2", "odpoved"}));
    EXPECT_EQ(record.history.back(), (HistoryEntry{Incoming, "P1", "!konec", true}));
    // Well within the memory bound, which counts what is kept.
    size_t bytes = 0;
    for (const HistoryEntry& entry : record.history) {
        bytes += HistoryBudget::Cost(entry);
    }
    EXPECT_EQ(directory.Histories().Bytes(), bytes);
    EXPECT_LT(bytes, directory.Histories().Limit());
}

// Above the directory's memory bound the oldest entries of all go first,
// whichever peer they belong to.
TEST(PeerDirectory, HistoriesShareOneMemoryBoundOldestFirst) {
    FakeClock clock;
    constexpr size_t kCost = 1 + 2 + HistoryBudget::kEntryOverhead;  // "a" and "a0"
    PeerDirectory directory{clock, 5 * kCost};
    directory.AddPeer(nullptr, "a", "g", "10.0.0.1", Ready);
    directory.AddPeer(nullptr, "b", "g", "10.0.0.2", Ready);
    PeerRecord& a = directory.PeerAt(0);
    PeerRecord& b = directory.PeerAt(1);
    const auto texts = [](const PeerRecord& record) {
        std::vector<std::string> out;
        for (const HistoryEntry& entry : record.history) {
            out.push_back(entry.text);
        }
        return out;
    };
    a.AppendIncoming("a", "a0");
    a.AppendIncoming("a", "a1");
    b.AppendIncoming("b", "b0");
    a.AppendIncoming("a", "a2");
    b.AppendIncoming("b", "b1");
    EXPECT_EQ(directory.Histories().Bytes(), 5 * kCost);
    EXPECT_FALSE(a.history.OlderRemoved());

    b.AppendIncoming("b", "b2");  // a0 is the oldest of all
    EXPECT_EQ(texts(a), (std::vector<std::string>{"a1", "a2"}));
    EXPECT_EQ(texts(b), (std::vector<std::string>{"b0", "b1", "b2"}));
    a.AppendIncoming("a", "a3");  // a1
    a.AppendIncoming("a", "a4");  // b0, older than a2
    EXPECT_EQ(texts(a), (std::vector<std::string>{"a2", "a3", "a4"}));
    EXPECT_EQ(texts(b), (std::vector<std::string>{"b1", "b2"}));
    EXPECT_TRUE(a.history.OlderRemoved());
    EXPECT_TRUE(b.history.OlderRemoved());
    EXPECT_EQ(a.history.FirstSerial(), 2u);
    EXPECT_EQ(b.history.FirstSerial(), 1u);

    // A long entry makes room for itself; a history may empty entirely.
    const std::string lengthy(4 * kCost, 'x');
    b.AppendIncoming("b", lengthy);
    EXPECT_TRUE(a.history.empty());
    EXPECT_EQ(a.history.EndSerial(), 5u);
    EXPECT_EQ(texts(b), (std::vector<std::string>{lengthy}));
    a.AppendIncoming("a", "a5");
    EXPECT_EQ(texts(a), (std::vector<std::string>{"a5"}));
    EXPECT_TRUE(b.history.empty());
    EXPECT_EQ(directory.Histories().Bytes(), kCost);
}

class TextSink final : public NotificationSink {
public:
    void Show(const Notification& notification) override { texts.push_back(notification.text); }
    std::vector<std::string> texts;
};

TEST(PeerNotifier, RemembersOnlyTheLatestPeerAndShowsEachText) {
    TextSink sink;
    PeerNotifier notifier{sink};
    EXPECT_EQ(notifier.LastNotifiedPeer(), 0);
    notifier.NotifyPeerEvent({.peer = 3, .text = "a je ve stavu : Pryč"});
    notifier.NotifyPeerEvent({.peer = 7, .text = "b : ahoj"});
    EXPECT_EQ(notifier.LastNotifiedPeer(), 7);
    EXPECT_EQ(sink.texts, (std::vector<std::string>{"a je ve stavu : Pryč", "b : ahoj"}));
}

}  // namespace
