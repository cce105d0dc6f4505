// src/core/peers/PeerItems.cpp
#include "core/peers/PeerItems.h"

#include <mutex>
#include <string>

void PeerItems::RefreshPeerItem(int index, bool selectMade) {
    if (!m_directory.IsValidIndex(index)) {
        return;
    }
    TreeItem item = nullptr;
    std::string name;
    std::string group;
    int32_t status = 0;
    {
        std::lock_guard lock(m_directory.Mutex());
        const PeerRecord& record = m_directory.PeerAt(index);
        item = record.treeItem;
        name = record.name;
        group = record.group;
        status = record.status;
    }
    if (item == nullptr) {
        const TreeItem created = MakeItem(group, name, status, static_cast<uint32_t>(index));
        if (created != nullptr) {
            {
                std::lock_guard lock(m_directory.Mutex());
                m_directory.PeerAt(index).treeItem = created;
            }
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
    TreeItem item = nullptr;
    {
        std::lock_guard lock(m_directory.Mutex());
        item = m_directory.PeerAt(index).treeItem;
    }
    if (item != nullptr) {
        m_tree.SetItemImage(item, icon);
    }
}
