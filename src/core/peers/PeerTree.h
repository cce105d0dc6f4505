// src/core/peers/PeerTree.h
#pragma once

#include <cstdint>
#include <string>

#include "core/peers/PeerDirectory.h"

inline constexpr uint32_t kGroupItemData = 0xFFFFFFFF;
inline constexpr int kGroupIcon = 7;
inline constexpr int kMessageIcon = 5;
inline constexpr int kBellIcon = 6;

// The tree of users as the peer logic drives it; the view implements it with
// its tree control. Texts are code page 1250. User-interface thread only.
struct PeerTree {
    virtual ~PeerTree() = default;
    // The top-level item whose text equals the group in its first 48 bytes,
    // or a new one after the last (image 7, data 0xFFFFFFFF); null if refused.
    virtual TreeItem FindOrAddGroupItem(const std::string& group) = 0;
    // A new child after the group's last child, image and selected image as
    // given; null if the tree refused it.
    virtual TreeItem InsertPeerItem(TreeItem group, const std::string& name, int image) = 0;
    virtual void ExpandItem(TreeItem item) = 0;
    // A peer item, or a group item that holds none; a deleted group is no
    // longer found, its name's next FindOrAddGroupItem makes a new item.
    // Deleting the selected item leaves every group's expansion as it was.
    virtual void DeleteItem(TreeItem item) = 0;
    // The group item a peer item hangs under; null for a group item.
    virtual TreeItem GroupOf(TreeItem item) const = 0;
    virtual bool HasPeerItems(TreeItem group) const = 0;
    virtual bool IsSelectedItem(TreeItem item) const = 0;
    // Makes the item the selected one; no group is expanded or collapsed.
    virtual void SelectItem(TreeItem item) = 0;
    virtual void SetItemData(TreeItem item, uint32_t data) = 0;
    virtual void SetItemImage(TreeItem item, int image) = 0;

    // The calls between these two are one batch (what one step of the receive
    // hand-over dispatches); batches may nest. The tree may show the peer
    // items a batch makes only at its end, and until then answers for them,
    // in every call above, as for shown items.
    virtual void BeginBatch() {}
    virtual void EndBatch() {}
};
