// src/core/peers/PeerItems.h
#pragma once

#include <cstdint>
#include <string>

#include "core/base/Presenter.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerTree.h"

// The peers' tree items: re-made where missing, their icons set from status.
// User-interface thread only.
class PeerItems {
public:
    PeerItems(PeerDirectory& directory, PeerTree& tree, MessagePresenter& presenter)
        : m_directory(directory), m_tree(tree), m_presenter(presenter) {}

    // Makes the peer's item under its group if it has none (and selects it
    // with selectMade), then sets its icon from its status. An index out of
    // range does nothing.
    void RefreshPeerItem(int index, bool selectMade = false);
    // The peer's name or group changed: a new item is made under its current
    // group, selected if the former one was, and the former item goes. A group
    // left without peer items goes too, so the tree never holds more groups
    // than peers.
    void RemakePeerItem(int index, TreeItem former);
    // Icons 0..8 are set; any other value shows "View 4, val %i" and changes nothing.
    void SetPeerIcon(int index, int16_t icon);

    // A peer's item under its group (found or made, then expanded) with the
    // index as its data; null where the tree made none, and a group made for
    // it goes again.
    TreeItem MakeItem(const std::string& group, const std::string& name, int image, uint32_t index);
    // Deletes a group item that holds no peer item; null does nothing.
    void DropGroupIfEmpty(TreeItem group);

private:
    PeerDirectory& m_directory;
    PeerTree& m_tree;
    MessagePresenter& m_presenter;
};
