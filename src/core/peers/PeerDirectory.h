// src/core/peers/PeerDirectory.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/base/Clock.h"
#include "core/peers/History.h"
#include "core/peers/PeerEvent.h"
#include "core/settings/UserStatus.h"

class ConversationWindow;

// Opaque handle of a tree item, owned by the tree; null for none.
using TreeItem = void*;

// One remote user.
struct PeerRecord {
    TreeItem treeItem = nullptr;
    std::string name;
    std::string address;  // dotted, as the windows send to it
    uint32_t ip = 0;      // the same address in host order: the lookup key
    std::string group;
    ConversationWindow* window = nullptr;
    bool windowHidden = true;
    int32_t status = Ready;
    History history;
    int64_t lastHeard = 0;

    void AppendIncoming(std::string sender, std::string text);
    // An Incoming line marked as this program's notice.
    void AppendNotice(std::string sender, std::string text);
    void AppendOutgoing(std::string sender, std::string text);
};

// Part of a peer's history, copied out of the directory.
struct HistorySlice {
    std::vector<HistoryEntry> entries;  // from `from` to `end`
    uint64_t from = 0;
    uint64_t first = 0;  // the serial of the oldest entry kept
    uint64_t end = 0;    // one past the newest entry's serial
    bool olderRemoved = false;
};

// Every peer heard during this run, in order of first announcement. Records are
// never removed, so an index stays valid for the whole run; a record's address
// in memory does not change either. The lock is the directory's own: every
// function takes it, and Read() and Modify() hold it only for the call they
// are given, which must not wait for anything or call out. Only the
// user-interface thread adds records. The histories of the records share one
// memory budget (History::kMaxEntries entries each besides).
class PeerDirectory {
public:
    static constexpr std::size_t kHistoryBudgetBytes = 4u << 20;
    // The most records a run makes (the addresses of a /16): a flood from
    // spoofed addresses must not take the memory without end.
    static constexpr int kMaxPeers = 65536;

    explicit PeerDirectory(const Clock& clock,
                           std::size_t historyBudgetBytes = kHistoryBudgetBytes);

    // The first record of the address; same answer as a scan from index 0,
    // through an index kept beside the records.
    std::optional<int> FindPeerByAddress(uint32_t address) const;
    // The same for a dotted address; nothing for any other text.
    std::optional<int> FindPeerByAddress(std::string_view address) const;
    int AddPeer(TreeItem item, std::string name, std::string group, uint32_t address,
                int32_t status);
    // A dotted address; any other text makes a record that no lookup finds.
    int AddPeer(TreeItem item, std::string name, std::string group, std::string address,
                int32_t status);
    // The record itself, without the lock: for a thread that knows no other
    // one uses the directory (a test, a single-threaded front end).
    PeerRecord& PeerAt(int index);
    const PeerRecord& PeerAt(int index) const;

    // Runs `read(const PeerRecord&)` under the lock and returns its result.
    template <class F>
    decltype(auto) Read(int index, F&& read) const {
        std::lock_guard lock(m_lock);
        return read(m_records[static_cast<std::size_t>(index)]);
    }
    // Runs `modify(PeerRecord&)` under the lock and returns its result.
    template <class F>
    decltype(auto) Modify(int index, F&& modify) {
        std::lock_guard lock(m_lock);
        return modify(m_records[static_cast<std::size_t>(index)]);
    }
    // The record's name, group, address, status and time last heard.
    PeerFacts Facts(int index) const;
    // A copy of the history's entries from `serial` on, or all of them when
    // `serial` lies outside the history, with the history's serials.
    HistorySlice HistoryFrom(int index, uint64_t serial) const;

    // The record was heard now: its time last heard is set and it moves to the
    // end of the order of hearing.
    void Heard(int index, int64_t now);
    // What an announcement changed in a record.
    struct PresenceChange {
        bool nameChanged = false;
        bool groupChanged = false;
        int32_t previousStatus = 0;
    };
    // A known peer's announcement: the record takes its name, group and
    // status and was heard now, under one lock; nothing is copied unless it
    // changed.
    PresenceChange UpdatePresence(int index, int32_t status, std::string_view name,
                                  std::string_view group, int64_t now);
    // A known sender's presence that changes nothing in its record only
    // refreshes the time last heard: true then, false (nothing done) otherwise.
    bool RefreshIfUnchanged(uint32_t address, int32_t status, std::string_view name,
                            std::string_view group, int64_t now);
    // Takes every record not heard for more than `timeout` seconds out of the
    // order of hearing, oldest first, and stops at the first one heard since:
    // the cost is that of the records taken, not of all. Those not already
    // Disconnected are marked so and returned as WentSilent events, in index
    // order. A record comes back into the order when it is heard again.
    std::vector<PeerEvent> MarkSilent(int64_t now, int64_t timeout);
    // The same, or nothing at all while another thread holds the lock.
    std::optional<std::vector<PeerEvent>> TryMarkSilent(int64_t now, int64_t timeout);
    int PeerCount() const;
    bool IsValidIndex(int index) const { return index >= 0 && index < PeerCount(); }

    const HistoryBudget& Histories() const { return m_histories; }

    // The shared budget has removed entries of these peers' histories since the
    // last call, each listed once, in the order of their first removal.
    std::vector<int> TakeTrimmedPeers();
    // Called when the first peer since the last TakeTrimmedPeers() is trimmed,
    // on the thread that appended, under the lock; it must not take long.
    void SetTrimmedListener(std::function<void()> listener);

private:
    friend struct PeerDirectoryInspector;  // tests: whether the lock is free

    std::vector<PeerEvent> MarkSilentLocked(int64_t now, int64_t timeout);
    PeerFacts FactsLocked(int index) const;
    int Add(TreeItem item, std::string name, std::string group, std::string address,
            std::optional<uint32_t> ip, int32_t status);

    void Trimmed(int index);
    void LinkLast(int index);
    void Unlink(int index);

    // The order of hearing: a list through the records, least recently heard
    // first; a record out of it has both links at -1 and is not m_heardFirst.
    struct HeardLinks {
        int previous = -1;
        int next = -1;
        bool linked = false;
    };
    std::vector<HeardLinks> m_heardLinks;
    int m_heardFirst = -1;
    int m_heardLast = -1;

    const Clock& m_clock;
    std::vector<int> m_trimmed;  // under the lock
    std::vector<bool> m_isTrimmed;
    std::function<void()> m_trimmedListener;
    HistoryBudget m_histories;  // outlives the records, whose histories it counts
    std::deque<PeerRecord> m_records;
    std::unordered_map<uint32_t, int> m_byAddress;
    mutable std::recursive_mutex m_lock;
};
