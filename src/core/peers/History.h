// src/core/peers/History.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

enum HistoryKind : int32_t {
    Incoming = 1,
    Outgoing = 2,
};

// One line of a conversation (code page 1250 texts).
struct HistoryEntry {
    int32_t kind = Incoming;
    std::string sender;
    std::string text;
    // An Incoming line this program wrote about the peer (its disconnection or
    // return), not a message of the peer.
    bool notice = false;

    bool operator==(const HistoryEntry&) const = default;
};

class HistoryBudget;

// A peer's conversation, oldest first, with a bound: at most kMaxEntries
// entries, and, once it is attached to a budget, a share of the budget's
// memory. Entries leave only from the front, the oldest first. Every entry
// has a serial number, counted from the first entry of the run: the serial of
// the front entry is the number of entries removed before it. Used under the
// lock of the directory that holds it. An empty history takes no heap: its
// entries are made at the first append and go with the last entry.
class History {
public:
    static constexpr std::size_t kMaxEntries = 10000;
    using const_iterator = std::deque<HistoryEntry>::const_iterator;
    using const_reverse_iterator = std::deque<HistoryEntry>::const_reverse_iterator;
    using value_type = HistoryEntry;

    History() = default;
    // A copy has the same entries and serials and counts against no budget.
    History(const History& other);
    History& operator=(const History& other) = delete;
    ~History();

    // Appends at the end; then the oldest entries go while a bound is exceeded.
    void Append(HistoryEntry entry);

    std::size_t size() const { return m_lines ? m_lines->entries.size() : 0; }
    bool empty() const { return m_lines == nullptr; }
    const HistoryEntry& operator[](std::size_t index) const { return m_lines->entries[index]; }
    const HistoryEntry& front() const { return m_lines->entries.front(); }
    const HistoryEntry& back() const { return m_lines->entries.back(); }
    const_iterator begin() const { return List().begin(); }
    const_iterator end() const { return List().end(); }
    const_reverse_iterator rbegin() const { return List().rbegin(); }
    const_reverse_iterator rend() const { return List().rend(); }

    uint64_t FirstSerial() const { return m_firstSerial; }
    uint64_t EndSerial() const { return m_firstSerial + size(); }
    // Older entries have been removed to keep the bounds.
    bool OlderRemoved() const { return m_firstSerial > 0; }
    std::vector<HistoryEntry> Entries() const { return {begin(), end()}; }

    bool operator==(const std::vector<HistoryEntry>& entries) const;

private:
    friend class HistoryBudget;
    void RemoveOldest();
    // The entries, or an empty list shared by every empty history.
    const std::deque<HistoryEntry>& List() const;

    struct Lines {
        std::deque<HistoryEntry> entries;
        std::deque<uint64_t> ages;  // each entry's place in the budget's order of appends
    };
    std::unique_ptr<Lines> m_lines;  // null while empty
    uint64_t m_firstSerial = 0;
    HistoryBudget* m_budget = nullptr;
    int m_slot = -1;  // its number in the budget
};

// The memory of a directory's histories together. Each entry counts its text
// bytes and a fixed overhead; while the sum is above the limit, the oldest
// entry of all (by the order of appends) goes.
class HistoryBudget {
public:
    // What an entry costs beyond its text bytes: the entry itself, its place
    // in the queue and the heap blocks of its two texts.
    static constexpr std::size_t kEntryOverhead = 128;

    // Called with a history's number (its place in the order of Attach) each
    // time the budget removes one of its entries.
    using TrimListener = std::function<void(int slot)>;

    explicit HistoryBudget(std::size_t limitBytes, TrimListener trimmed = {})
        : m_limit(limitBytes), m_trimmed(std::move(trimmed)) {}
    HistoryBudget(const HistoryBudget&) = delete;
    HistoryBudget& operator=(const HistoryBudget&) = delete;

    // The history counts against this budget from now on (an empty one; its
    // address must not change while it is attached).
    void Attach(History& history);
    std::size_t Bytes() const { return m_bytes; }
    std::size_t Limit() const { return m_limit; }
    static std::size_t Cost(const HistoryEntry& entry) {
        return entry.sender.size() + entry.text.size() + kEntryOverhead;
    }

private:
    friend class History;
    uint64_t Added(const History& history, std::size_t cost, bool wasEmpty);
    void Removed(const History& history, std::size_t cost, uint64_t age);
    void Detach(const History& history);
    void Trim();

    std::size_t m_limit;
    TrimListener m_trimmed;
    std::size_t m_bytes = 0;
    uint64_t m_nextAge = 0;
    std::vector<History*> m_histories;
    // The age and slot of each non-empty history's front entry, oldest first.
    std::set<std::pair<uint64_t, int>> m_fronts;
};
