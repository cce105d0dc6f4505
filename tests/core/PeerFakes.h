// tests/core/PeerFakes.h
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/peers/ConversationWindow.h"
#include "core/peers/PeerNotifier.h"
#include "core/peers/PeerTree.h"
#include "support/DirectoryLock.h"

// A tree of groups and peers kept in memory, in insertion order, recording
// every operation. Items are owned by the tree and never freed during a test,
// so a deleted item's handle stays unique. Deleting the selected item selects
// its group, as a tree control does when no sibling is left, or nothing.
class FakeTree final : public PeerTree {
public:
    struct Item {
        std::string text;
        int image = -1;
        uint32_t data = 0;
        Item* parent = nullptr;
        std::vector<Item*> children;
        bool expanded = false;
        bool deleted = false;
    };

    TreeItem FindOrAddGroupItem(const std::string& group) override {
        ops.push_back("group " + group);
        for (Item* g : m_groups) {
            if (g->text.substr(0, 48) == group.substr(0, 48)) {
                return g;
            }
        }
        if (refuseInserts) {
            return nullptr;
        }
        Item* g = NewItem(group, kGroupIcon, nullptr);
        g->data = kGroupItemData;
        m_groups.push_back(g);
        return g;
    }
    TreeItem InsertPeerItem(TreeItem group, const std::string& name, int image) override {
        ops.push_back("insert " + name);
        if (refuseInserts || group == nullptr) {
            return nullptr;
        }
        Item* parent = static_cast<Item*>(group);
        Item* item = NewItem(name, image, parent);
        parent->children.push_back(item);
        return item;
    }
    void ExpandItem(TreeItem item) override {
        ops.push_back("expand");
        if (item != nullptr) {
            static_cast<Item*>(item)->expanded = true;
        }
    }
    void DeleteItem(TreeItem item) override {
        Item* it = static_cast<Item*>(item);
        ops.push_back("delete " + it->text);
        it->deleted = true;
        if (selected == it) {
            selected = it->parent;
        }
        std::erase(it->parent != nullptr ? it->parent->children : m_groups, it);
    }
    TreeItem GroupOf(TreeItem item) const override { return static_cast<Item*>(item)->parent; }
    bool HasPeerItems(TreeItem group) const override {
        return !static_cast<Item*>(group)->children.empty();
    }
    bool IsSelectedItem(TreeItem item) const override {
        return item != nullptr && item == selected;
    }
    void SelectItem(TreeItem item) override {
        ops.push_back("select " + static_cast<Item*>(item)->text);
        selected = static_cast<Item*>(item);
    }
    void SetItemData(TreeItem item, uint32_t data) override {
        static_cast<Item*>(item)->data = data;
    }
    void SetItemImage(TreeItem item, int image) override {
        ops.push_back("image " + static_cast<Item*>(item)->text + " " + std::to_string(image));
        static_cast<Item*>(item)->image = image;
    }

    // "group: peer(image) peer(image) | group: ..." in tree order.
    std::string Dump() const {
        std::string out;
        for (const Item* g : m_groups) {
            if (!out.empty()) {
                out += " | ";
            }
            out += g->text + ":";
            for (const Item* p : g->children) {
                out += " " + p->text + "(" + std::to_string(p->image) + ")";
            }
        }
        return out;
    }
    static const Item& At(TreeItem item) { return *static_cast<const Item*>(item); }
    const std::vector<Item*>& Groups() const { return m_groups; }

    bool refuseInserts = false;
    std::vector<std::string> ops;
    Item* selected = nullptr;

private:
    Item* NewItem(const std::string& text, int image, Item* parent) {
        m_items.push_back(std::make_unique<Item>());
        Item* item = m_items.back().get();
        item->text = text;
        item->image = image;
        item->parent = parent;
        return item;
    }
    std::vector<std::unique_ptr<Item>> m_items;
    std::vector<Item*> m_groups;
};

class RecordingSink final : public NotificationSink {
public:
    void Show(const Notification& notification) override {
        shown.push_back(notification);
        if (onShow) {
            onShow(notification);
        }
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Notification& notification : shown) {
            texts.push_back(notification.text);
        }
        return texts;
    }
    std::vector<Notification> shown;
    // Runs as the balloon is shown, as a box's event loop would.
    std::function<void(const Notification&)> onShow;
};

// A conversation window that records what it is asked to do; its log is the
// number of history lines at the last refresh.
class FakeConversation final : public ConversationWindow {
public:
    FakeConversation(PeerDirectory& directory, const AppState& state, int index,
                     std::vector<std::string>* journal)
        : ConversationWindow(directory, state, index), m_journal(journal) {}
    ~FakeConversation() override { Log("destroyed"); }

    void SetCaption(const std::string& text) override {
        caption = text;
        Log("caption " + text);
    }
    void RefreshLog() override {
        std::lock_guard lock(LockOf(m_directory));
        loggedLines = m_directory.PeerAt(m_peerIndex).history.size();
        ++refreshes;
        Log("refresh");
    }
    void ShowAndRaise() override {
        shown = true;
        Log("show");
    }
    void SetSendingEnabled(bool enabled) override {
        sendingEnabled = enabled;
        Log(enabled ? "enable" : "disable");
    }

    std::string caption;
    size_t loggedLines = 0;
    int refreshes = 0;
    bool shown = false;
    bool sendingEnabled = true;

private:
    void Log(const std::string& what) {
        if (m_journal != nullptr) {
            m_journal->push_back("window " + std::to_string(m_peerIndex) + " " + what);
        }
    }
    std::vector<std::string>* m_journal;
};

class FakeConversationFactory final : public ConversationFactory {
public:
    explicit FakeConversationFactory(const AppState& state) : m_state(state) {}
    std::unique_ptr<ConversationWindow> CreateConversation(const ConversationParts& parts,
                                                           int index) override {
        if (refuse) {
            return nullptr;
        }
        auto window = std::make_unique<FakeConversation>(parts.directory, m_state, index, &journal);
        created.push_back(window.get());
        return window;
    }
    bool refuse = false;
    std::vector<FakeConversation*> created;
    std::vector<std::string> journal;

private:
    const AppState& m_state;
};
