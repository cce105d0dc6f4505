// src/core/peers/PeerItems.cpp
#include "core/peers/PeerItems.h"

#include <string>
#include <utility>

void PeerItems::RefreshPeerItem(int index, bool selectMade) {
    if (!m_directory.IsValidIndex(index)) {
        return;
    }
    const auto [item, status] = m_directory.Read(
        index, [](const PeerRecord& record) { return std::pair(record.treeItem, record.status); });
    if (item == nullptr) {
        const PeerFacts facts = m_directory.Facts(index);
        const TreeItem created =
            MakeItem(facts.group, facts.name, status, static_cast<uint32_t>(index));
        if (created != nullptr) {
            m_directory.Modify(index, [created](PeerRecord& record) { record.treeItem = created; });
            if (selectMade) {
                m_tree.SelectItem(created);
            }
        }
    }
    SetPeerIcon(index, static_cast<int16_t>(status));
}

void PeerItems::RemakePeerItem(int index, TreeItem former) {
    const bool wasSelected = m_tree.IsSelectedItem(former);
    // The new item before the former one goes: a peer that keeps its group
    // keeps the group's item and its place.
    RefreshPeerItem(index, wasSelected);
    const TreeItem formerGroup = m_tree.GroupOf(former);
    m_tree.DeleteItem(former);
    DropGroupIfEmpty(formerGroup);
}

TreeItem PeerItems::MakeItem(const std::string& group, const std::string& name, int image,
                             uint32_t index) {
    const TreeItem groupItem = m_tree.FindOrAddGroupItem(group);
    if (groupItem == nullptr) {
        return nullptr;
    }
    const TreeItem item = m_tree.InsertPeerItem(groupItem, name, image);
    m_tree.ExpandItem(groupItem);
    if (item == nullptr) {
        DropGroupIfEmpty(groupItem);
        return nullptr;
    }
    m_tree.SetItemData(item, index);
    return item;
}

void PeerItems::DropGroupIfEmpty(TreeItem group) {
    if (group != nullptr && !m_tree.HasPeerItems(group)) {
        m_tree.DeleteItem(group);
    }
}

void PeerItems::SetPeerIcon(int index, int16_t icon) {
    if (!m_directory.IsValidIndex(index)) {
        return;
    }
    if (icon < 0 || icon > 8) {
        ShowTraceCode(m_presenter, "View 4, val %i", icon);
        return;
    }
    const TreeItem item =
        m_directory.Read(index, [](const PeerRecord& record) { return record.treeItem; });
    if (item != nullptr) {
        m_tree.SetItemImage(item, icon);
    }
}
