// src/widgets/peers/Mrmx3View.h
#pragma once

#include <QIcon>
#include <QSocketNotifier>
#include <QTreeWidget>
#include <array>
#include <memory>
#include <optional>

#include "core/base/Clock.h"
#include "core/base/Presenter.h"
#include "core/base/StopWait.h"
#include "core/base/UiPoster.h"
#include "core/peers/ConversationWindow.h"
#include "core/peers/PeerNetwork.h"
#include "core/peers/PeerTree.h"
#include "core/settings/AppState.h"
#include "core/settings/SoundEvents.h"

// The tree of users, grouped by the group each announces, and the owner of the
// network side (endpoint, directory, announcer and watcher threads).
class CMrmx3View final : public QTreeWidget, public PeerTree {
    Q_OBJECT
public:
    struct Services {
        AppState& state;
        MessagePresenter& presenter;
        UiPoster& poster;
        NotificationSink& notifications;
        SoundEvents& sounds;
        ConversationFactory& conversations;
        const Clock& clock;
        StopWait& wait;
        std::function<void()> saveSettings;
        CPeerSocket::Options network;
    };

    explicit CMrmx3View(Services services, QWidget* parent = nullptr);
    ~CMrmx3View() override;  // the orderly shutdown of the network side

    // Builds the icons, opens the endpoint and starts both threads.
    void OnInitialUpdate();
    // The image list from "IconsType" and "IconsSize"; items keep their images.
    void LoadIcons();
    // The own goodbye and the end of both threads (also run by the destructor).
    // The conversation windows stay until the view goes, so it is safe while
    // one of them waits in a box.
    void Shutdown();

    void OpenConversation(int index);
    void OpenNotifiedConversation();
    void OnDoubleClick();

    // PeerTree
    TreeItem FindOrAddGroupItem(const std::string& group) override;
    TreeItem InsertPeerItem(TreeItem group, const std::string& name, int image) override;
    void ExpandItem(TreeItem item) override;
    void DeleteItem(TreeItem item) override;
    bool IsSelectedItem(TreeItem item) const override;
    void SelectItem(TreeItem item) override;
    void SetItemData(TreeItem item, uint32_t data) override;
    void SetItemImage(TreeItem item, int image) override;

    PeerNetwork& Network() { return *m_network; }
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

private:
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void SetItemText(QTreeWidgetItem* item, const std::string& text);
    int ItemCount() const;

    Services m_s;
    std::unique_ptr<PeerNetwork> m_network;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::array<QIcon, 8> m_icons;
    bool m_iconsLoaded = false;
    // Set while the peer logic moves the current item: no group is collapsed.
    bool m_keepGroups = false;
    int m_iconPixels = 48;
};
