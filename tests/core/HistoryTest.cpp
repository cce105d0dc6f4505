// tests/core/HistoryTest.cpp
#include <gtest/gtest.h>

#include <vector>

#include "core/peers/History.h"

// An empty history, never filled or emptied by its budget, reads as empty
// everywhere, and its copies keep entries and serials.
TEST(History, EmptyAndEmptiedHistoriesReadAsEmptyAndCopy) {
    History never;
    EXPECT_TRUE(never.empty());
    EXPECT_EQ(never.begin(), never.end());
    EXPECT_EQ(never.rbegin(), never.rend());
    EXPECT_TRUE(never.Entries().empty());
    EXPECT_EQ(History(never).EndSerial(), 0u);

    constexpr size_t kCost = 1 + 2 + HistoryBudget::kEntryOverhead;
    HistoryBudget budget(kCost);
    History history;
    budget.Attach(history);
    history.Append({Incoming, "a", "a0"});
    history.Append({Incoming, "a", "a1"});  // a0 goes
    EXPECT_EQ(history, (std::vector<HistoryEntry>{{Incoming, "a", "a1"}}));
    const History copy(history);
    EXPECT_EQ(copy, (std::vector<HistoryEntry>{{Incoming, "a", "a1"}}));
    EXPECT_EQ(copy.FirstSerial(), 1u);

    History other;
    budget.Attach(other);
    other.Append({Outgoing, "b", "b0"});  // history's a1 goes: it is empty
    EXPECT_TRUE(history.empty());
    EXPECT_EQ(history.size(), 0u);
    EXPECT_EQ(history.begin(), history.end());
    EXPECT_EQ(history.EndSerial(), 2u);
    EXPECT_TRUE(History(history).empty());
    history.Append({Incoming, "a", "a2"});  // b0 goes
    EXPECT_EQ(history.FirstSerial(), 2u);
    EXPECT_EQ(history.front().text, "a2");
    EXPECT_TRUE(other.empty());
    EXPECT_EQ(budget.Bytes(), kCost);
}
