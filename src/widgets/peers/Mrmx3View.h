// src/widgets/peers/Mrmx3View.h
#pragma once

#include <QIcon>
#include <QTreeWidget>
#include <array>
#include <functional>
#include <string>
#include <unordered_map>

#include "core/base/Presenter.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"

// The tree of users, grouped by the group each announces, as the peer logic
// drives it. A double-click, or Enter, asks for the conversation of the
// current peer.
// Rows have one height, and an item's text or picture is set only when it
// changes, so a change of one item does not lay out the others.
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

    int IconPixels() const { return m_iconPixels; }
    // The picture for an image index, null when the list has none.
    QIcon IconAt(int image) const;
    static constexpr int kItemDataRole = Qt::UserRole;
    static constexpr int kImageRole = Qt::UserRole + 1;
    // The item's text as the code page 1250 bytes it was made from.
    static constexpr int kTextBytesRole = Qt::UserRole + 2;

protected:
    // Any left double-click, on an item or on a blank part, then the default
    // expanding or collapsing.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Enter and Return open the current peer's conversation.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void SetItemText(QTreeWidgetItem* item, const std::string& text);
    int ItemCount() const { return topLevelItemCount() + m_peerItems; }

    Services m_s;
    std::array<QIcon, 8> m_icons;
    bool m_iconsLoaded = false;
    // Every group item by the first 48 bytes of its text, which no other
    // group shares.
    std::unordered_map<std::string, QTreeWidgetItem*> m_groups;
    int m_peerItems = 0;
    // The group the user's last choice of a group opened; the next choice of
    // another group collapses it.
    QTreeWidgetItem* m_chosenGroup = nullptr;
    // Set while the peer logic moves the current item: no group is collapsed.
    bool m_keepGroups = false;
    int m_iconPixels = 48;
};
