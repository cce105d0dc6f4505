// src/core/peers/PeerDirectory.cpp
#include "core/peers/PeerDirectory.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/Socket.h"

void PeerRecord::AppendIncoming(std::string sender, std::string text) {
    history.Append(HistoryEntry{Incoming, std::move(sender), std::move(text)});
}

void PeerRecord::AppendNotice(std::string sender, std::string text) {
    history.Append(HistoryEntry{Incoming, std::move(sender), std::move(text), true});
}

void PeerRecord::AppendOutgoing(std::string sender, std::string text) {
    history.Append(HistoryEntry{Outgoing, std::move(sender), std::move(text)});
}

PeerDirectory::PeerDirectory(const Clock& clock, std::size_t historyBudgetBytes)
    // The records' histories are attached in index order: a slot is an index.
    : m_clock(clock), m_histories(historyBudgetBytes, [this](int slot) { Trimmed(slot); }) {}

void PeerDirectory::Trimmed(int index) {
    const auto at = static_cast<std::size_t>(index);
    if (m_isTrimmed.size() <= at) {
        m_isTrimmed.resize(at + 1, false);
    }
    if (m_isTrimmed[at]) {
        return;
    }
    m_isTrimmed[at] = true;
    m_trimmed.push_back(index);
    if (m_trimmed.size() == 1 && m_trimmedListener) {
        m_trimmedListener();
    }
}

std::vector<int> PeerDirectory::TakeTrimmedPeers() {
    std::lock_guard lock(m_lock);
    for (const int index : m_trimmed) {
        m_isTrimmed[static_cast<std::size_t>(index)] = false;
    }
    return std::exchange(m_trimmed, {});
}

void PeerDirectory::SetTrimmedListener(std::function<void()> listener) {
    std::lock_guard lock(m_lock);
    m_trimmedListener = std::move(listener);
}

std::optional<int> PeerDirectory::FindPeerByAddress(uint32_t address) const {
    std::lock_guard lock(m_lock);
    const auto it = m_byAddress.find(address);
    if (it == m_byAddress.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<int> PeerDirectory::FindPeerByAddress(std::string_view address) const {
    const std::optional<uint32_t> ip = platform::ParseDottedAddress(std::string(address));
    if (!ip) {
        return std::nullopt;
    }
    return FindPeerByAddress(*ip);
}

int PeerDirectory::AddPeer(TreeItem item, std::string name, std::string group, uint32_t address,
                           int32_t status) {
    return Add(item, std::move(name), std::move(group), platform::FormatDottedAddress(address),
               address, status);
}

int PeerDirectory::AddPeer(TreeItem item, std::string name, std::string group, std::string address,
                           int32_t status) {
    const std::optional<uint32_t> ip = platform::ParseDottedAddress(address);
    return Add(item, std::move(name), std::move(group), std::move(address), ip, status);
}

int PeerDirectory::Add(TreeItem item, std::string name, std::string group, std::string address,
                       std::optional<uint32_t> ip, int32_t status) {
    std::lock_guard lock(m_lock);
    const int index = static_cast<int>(m_records.size());
    PeerRecord record;
    record.treeItem = item;
    record.name = std::move(name);
    record.group = std::move(group);
    record.address = std::move(address);
    record.ip = ip.value_or(0);
    record.status = status;
    record.windowHidden = true;
    record.lastHeard = m_clock.NowSeconds();
    // The first record of an address stays the one a lookup finds.
    if (ip) {
        m_byAddress.emplace(*ip, index);
    }
    m_records.push_back(std::move(record));
    m_histories.Attach(m_records.back().history);
    m_heardLinks.emplace_back();
    LinkLast(index);
    return index;
}

void PeerDirectory::Heard(int index, int64_t now) {
    std::lock_guard lock(m_lock);
    m_records[static_cast<size_t>(index)].lastHeard = now;
    Unlink(index);
    LinkLast(index);
}

PeerDirectory::PresenceChange PeerDirectory::UpdatePresence(int index, int32_t status,
                                                            std::string_view name,
                                                            std::string_view group, int64_t now) {
    std::lock_guard lock(m_lock);
    PeerRecord& record = m_records[static_cast<size_t>(index)];
    record.lastHeard = now;
    Unlink(index);
    LinkLast(index);
    PresenceChange change;
    change.nameChanged = record.name != name;
    change.groupChanged = record.group != group;
    change.previousStatus = record.status;
    if (change.nameChanged) {
        record.name.assign(name);
    }
    if (change.groupChanged) {
        record.group.assign(group);
    }
    record.status = status;
    return change;
}

bool PeerDirectory::RefreshIfUnchanged(uint32_t address, int32_t status, std::string_view name,
                                       std::string_view group, int64_t now) {
    std::lock_guard lock(m_lock);
    const auto found = m_byAddress.find(address);
    if (found == m_byAddress.end()) {
        return false;
    }
    const PeerRecord& record = m_records[static_cast<size_t>(found->second)];
    if (record.status != status || record.name != name || record.group != group) {
        return false;
    }
    Heard(found->second, now);
    return true;
}

PeerFacts PeerDirectory::Facts(int index) const {
    std::lock_guard lock(m_lock);
    return FactsLocked(index);
}

PeerFacts PeerDirectory::FactsLocked(int index) const {
    const PeerRecord& record = m_records[static_cast<size_t>(index)];
    return PeerFacts{record.address, record.name, record.group, static_cast<int16_t>(record.status),
                     record.lastHeard};
}

HistorySlice PeerDirectory::HistoryFrom(int index, uint64_t serial) const {
    std::lock_guard lock(m_lock);
    const History& history = m_records[static_cast<size_t>(index)].history;
    HistorySlice slice;
    slice.first = history.FirstSerial();
    slice.end = history.EndSerial();
    slice.olderRemoved = history.OlderRemoved();
    slice.from = serial >= slice.first && serial <= slice.end ? serial : slice.first;
    slice.entries.assign(
        std::next(history.begin(), static_cast<std::ptrdiff_t>(slice.from - slice.first)),
        history.end());
    return slice;
}

std::vector<PeerEvent> PeerDirectory::MarkSilent(int64_t now, int64_t timeout) {
    std::lock_guard lock(m_lock);
    return MarkSilentLocked(now, timeout);
}

std::optional<std::vector<PeerEvent>> PeerDirectory::TryMarkSilent(int64_t now, int64_t timeout) {
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        return std::nullopt;
    }
    return MarkSilentLocked(now, timeout);
}

std::vector<PeerEvent> PeerDirectory::MarkSilentLocked(int64_t now, int64_t timeout) {
    std::vector<PeerEvent> marked;
    while (m_heardFirst >= 0) {
        const int index = m_heardFirst;
        PeerRecord& record = m_records[static_cast<size_t>(index)];
        if (now - record.lastHeard <= timeout) {
            break;
        }
        Unlink(index);
        if (record.status != Disconnected) {
            PeerEvent& event = marked.emplace_back();
            event.kind = PeerEventKind::WentSilent;
            event.index = index;
            event.sender = record.ip;
            event.previousStatus = static_cast<int16_t>(record.status);
            event.silentSeconds = now - record.lastHeard;
            record.status = Disconnected;
            event.peer = FactsLocked(index);
        }
    }
    std::sort(marked.begin(), marked.end(),
              [](const PeerEvent& a, const PeerEvent& b) { return a.index < b.index; });
    return marked;
}

void PeerDirectory::LinkLast(int index) {
    HeardLinks& links = m_heardLinks[static_cast<size_t>(index)];
    links.previous = m_heardLast;
    links.next = -1;
    links.linked = true;
    if (m_heardLast >= 0) {
        m_heardLinks[static_cast<size_t>(m_heardLast)].next = index;
    } else {
        m_heardFirst = index;
    }
    m_heardLast = index;
}

void PeerDirectory::Unlink(int index) {
    HeardLinks& links = m_heardLinks[static_cast<size_t>(index)];
    if (!links.linked) {
        return;
    }
    if (links.previous >= 0) {
        m_heardLinks[static_cast<size_t>(links.previous)].next = links.next;
    } else {
        m_heardFirst = links.next;
    }
    if (links.next >= 0) {
        m_heardLinks[static_cast<size_t>(links.next)].previous = links.previous;
    } else {
        m_heardLast = links.previous;
    }
    links = HeardLinks{};
}

PeerRecord& PeerDirectory::PeerAt(int index) {
    return m_records[static_cast<size_t>(index)];
}

const PeerRecord& PeerDirectory::PeerAt(int index) const {
    return m_records[static_cast<size_t>(index)];
}

int PeerDirectory::PeerCount() const {
    std::lock_guard lock(m_lock);
    return static_cast<int>(m_records.size());
}
