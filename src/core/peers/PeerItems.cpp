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
        TreeItem groupItem = m_tree.FindOrAddGroupItem(group);
        TreeItem created = m_tree.InsertPeerItem(groupItem, name, status);
        m_tree.ExpandItem(groupItem);
        if (created != nullptr) {
            std::lock_guard lock(m_directory.Mutex());
            m_directory.PeerAt(index).treeItem = created;
            m_tree.SetItemData(created, static_cast<uint32_t>(index));
        }
        if (created != nullptr && selectMade) {
            m_tree.SelectItem(created);
        }
    }
    SetPeerIcon(index, static_cast<int16_t>(status));
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
