// src/widgets/peers/Mrmx3View.h
#pragma once

#include <QIcon>
#include <QTimer>
#include <QTreeWidget>
#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/base/Presenter.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"

// The tree of users, grouped by the group each announces, as the peer logic
// drives it. A double-click, or Enter, asks for the conversation of the
// current peer.
// Rows have one height, and an item's picture is set only when it changes, so
// a change of one item does not lay out the others. The peer items a batch
// makes wait outside the tree and go under their groups together, in one
// insertion per group, so the tree is laid out once for them all. Each new
// insertion costs a layout of every shown row; in a large tree the items wait,
// batch after batch, until they are a quarter of the shown rows, or for at
// most kLongestWait, so that a new row costs about the same at any size.
// Accessibility clients see it through Mrmx3ViewAccessible.
class CMrmx3View final : public QTreeWidget, public PeerTree {
    Q_OBJECT
public:
    struct Services {
        const AppState& state;
        MessagePresenter& presenter;
        // Opens the conversation with the peer of that index.
        std::function<void(int peerIndex)> openConversation;
    };

    explicit CMrmx3View(Services services, QWidget* parent = nullptr);
    ~CMrmx3View() override;

    // The image list from "IconsType" and "IconsSize"; items keep their images.
    void LoadIcons();

    void OnDoubleClick();

    // PeerTree
    TreeItem FindOrAddGroupItem(const std::string& group) override;
    TreeItem InsertPeerItem(TreeItem group, const std::string& name, int image) override;
    void ExpandItem(TreeItem item) override;
    void DeleteItem(TreeItem item) override;
    TreeItem GroupOf(TreeItem item) const override;
    bool HasPeerItems(TreeItem group) const override;
    bool IsSelectedItem(TreeItem item) const override;
    void SelectItem(TreeItem item) override;
    void SetItemData(TreeItem item, uint32_t data) override;
    void SetItemImage(TreeItem item, int image) override;
    void BeginBatch() override;
    void EndBatch() override;

    int IconPixels() const { return m_iconPixels; }
    // The picture for an image index, null when the list has none.
    QIcon IconAt(int image) const;
    static constexpr int kItemDataRole = Qt::UserRole;
    static constexpr int kImageRole = Qt::UserRole + 1;
    // A tree of fewer rows takes a batch's items at the batch's end.
    static constexpr int kPromptRows = 1024;
    // Otherwise its waiting items go in once they number a quarter of it.
    static constexpr int kShownRowsPerWaitingItem = 4;
    static constexpr std::chrono::milliseconds kLongestWait{100};

protected:
    // Any left double-click, on an item or on a blank part, then the default
    // expanding or collapsing.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Enter and Return open the current peer's conversation.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    int ItemCount() const { return topLevelItemCount() + m_peerItems; }
    // Puts the waiting peer items under their groups.
    void InsertWaitingItems();

    Services m_s;
    std::array<QIcon, 8> m_icons;
    bool m_iconsLoaded = false;
    // Every group item by the first 48 bytes of its text, which no other
    // group shares.
    std::unordered_map<std::string, QTreeWidgetItem*> m_groups;
    // The peer items made in the open batch, in order of making.
    std::vector<QTreeWidgetItem*> m_waiting;
    QTimer m_waitEnds;
    int m_batchDepth = 0;
    // The waiting item the peer logic selected last; it becomes current when
    // it goes into the tree (at the batch's end), unless the user chose
    // another item meanwhile.
    QTreeWidgetItem* m_waitingSelection = nullptr;
    int m_peerItems = 0;
    // The group the user's last choice of a group opened; the next choice of
    // another group collapses it.
    QTreeWidgetItem* m_chosenGroup = nullptr;
    // Set while the peer logic moves the current item: no group is collapsed.
    bool m_keepGroups = false;
    int m_iconPixels = 48;
};
