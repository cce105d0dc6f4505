// src/core/peers/History.cpp
#include "core/peers/History.h"

#include <algorithm>

History::History(const History& other)
    : m_lines(other.m_lines ? std::make_unique<Lines>(*other.m_lines) : nullptr),
      m_firstSerial(other.m_firstSerial) {}

History::~History() {
    if (m_budget != nullptr) {
        m_budget->Detach(*this);
    }
}

const std::deque<HistoryEntry>& History::List() const {
    static const std::deque<HistoryEntry> kNone;
    return m_lines ? m_lines->entries : kNone;
}

void History::Append(HistoryEntry entry) {
    const bool wasEmpty = m_lines == nullptr;
    if (wasEmpty) {
        m_lines = std::make_unique<Lines>();
    }
    const std::size_t cost = HistoryBudget::Cost(entry);
    m_lines->entries.push_back(std::move(entry));
    m_lines->ages.push_back(m_budget != nullptr ? m_budget->Added(*this, cost, wasEmpty) : 0);
    while (m_lines->entries.size() > kMaxEntries) {
        RemoveOldest();
    }
    if (m_budget != nullptr) {
        m_budget->Trim();
    }
}

void History::RemoveOldest() {
    const std::size_t cost = HistoryBudget::Cost(m_lines->entries.front());
    const uint64_t age = m_lines->ages.front();
    m_lines->entries.pop_front();
    m_lines->ages.pop_front();
    if (m_lines->entries.empty()) {
        m_lines.reset();
    }
    ++m_firstSerial;
    if (m_budget != nullptr) {
        m_budget->Removed(*this, cost, age);
    }
}

bool History::operator==(const std::vector<HistoryEntry>& entries) const {
    return std::equal(begin(), end(), entries.begin(), entries.end());
}

void HistoryBudget::Attach(History& history) {
    history.m_budget = this;
    history.m_slot = static_cast<int>(m_histories.size());
    m_histories.push_back(&history);
    // Whatever it holds already counts from now on, as the youngest.
    for (std::size_t i = 0; i < history.size(); ++i) {
        history.m_lines->ages[i] = Added(history, Cost(history[i]), i == 0);
    }
    Trim();
}

uint64_t HistoryBudget::Added(const History& history, std::size_t cost, bool wasEmpty) {
    const uint64_t age = m_nextAge++;
    m_bytes += cost;
    if (wasEmpty) {
        m_fronts.emplace(age, history.m_slot);
    }
    return age;
}

void HistoryBudget::Removed(const History& history, std::size_t cost, uint64_t age) {
    m_bytes -= cost;
    m_fronts.erase({age, history.m_slot});
    if (!history.empty()) {
        m_fronts.emplace(history.m_lines->ages.front(), history.m_slot);
    }
}

void HistoryBudget::Detach(const History& history) {
    for (const HistoryEntry& entry : history) {
        m_bytes -= Cost(entry);
    }
    if (!history.empty()) {
        m_fronts.erase({history.m_lines->ages.front(), history.m_slot});
    }
    m_histories[static_cast<std::size_t>(history.m_slot)] = nullptr;
}

void HistoryBudget::Trim() {
    while (m_bytes > m_limit && !m_fronts.empty()) {
        const int slot = m_fronts.begin()->second;
        m_histories[static_cast<std::size_t>(slot)]->RemoveOldest();
        if (m_trimmed) {
            m_trimmed(slot);
        }
    }
}
