// src/widgets/peers/Mrmx3View.cpp
#include "widgets/peers/Mrmx3View.h"

#include <QKeyEvent>
#include <QList>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QTreeWidgetItemIterator>
#include <QVariant>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "widgets/adapters/TextCodec.h"
#include "widgets/peers/Mrmx3ViewAccessible.h"

namespace {

constexpr size_t kGroupCompareBytes = 48;
constexpr int kLargeIconPixels = 48;
constexpr int kSmallIconPixels = 24;

// The pictures of image indexes 0..6 of each set, in list order.
constexpr std::array<const char*, 7> kMuzIcons = {
    "muz-ready", "muz-away", "muz-dnd", "muz-lunch", "muz-offline", "muz-message", "muz-bell"};
constexpr std::array<const char*, 7> kZenaIcons = {"zena-ready", "zena-away",    "zena-dnd",
                                                   "zena-lunch", "zena-offline", "zena-message",
                                                   "zena-bell"};
constexpr const char* kGroupIconFile = "group";

// One picture drawn at its final size in device pixels, so it stays sharp.
QIcon RenderIcon(const char* file, int pixels, qreal deviceRatio) {
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(file)));
    const int devicePixels = qRound(pixels * deviceRatio);
    QPixmap pixmap(devicePixels, devicePixels);
    pixmap.setDevicePixelRatio(deviceRatio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    }
    return QIcon(pixmap);
}

QTreeWidgetItem* ToItem(TreeItem item) {
    return static_cast<QTreeWidgetItem*>(item);
}

// An item of the tree that keeps its text, image index and data itself and
// takes its picture from the view's list, so it holds no list of roles: a
// new image changes the model once, through the picture.
class ViewItem : public QTreeWidgetItem {
public:
    ViewItem(QString shown, int imageIndex) : text(std::move(shown)), image(imageIndex) {}

    QVariant data(int column, int role) const override {
        if (column != 0) {
            return QTreeWidgetItem::data(column, role);
        }
        switch (role) {
            case Qt::DisplayRole:
            case Qt::EditRole:
            case Qt::AccessibleTextRole:
                return text;
            case Qt::DecorationRole: {
                const auto* tree = static_cast<const CMrmx3View*>(treeWidget());
                return tree == nullptr || image < 0 ? QVariant() : QVariant(tree->IconAt(image));
            }
            case CMrmx3View::kImageRole:
                return image < 0 ? QVariant() : QVariant(image);
            case CMrmx3View::kItemDataRole:
                return hasValue ? QVariant::fromValue<quint32>(value) : QVariant();
            default:
                return QTreeWidgetItem::data(column, role);
        }
    }

    // The view redraws the row and tells whoever listens to the model.
    void Changed() { emitDataChanged(); }

    QString text;
    int image = -1;
    quint32 value = 0;
    bool hasValue = false;
    // A waiting peer item's group; null once it is in the tree.
    QTreeWidgetItem* waitingGroup = nullptr;
    // A group's waiting peer items.
    int waitingChildren = 0;
};

// A group item, with the first 48 bytes of its text under which the view
// finds it.
class GroupItem final : public ViewItem {
public:
    GroupItem(QString shown, std::string groupKey)
        : ViewItem(std::move(shown), kGroupIcon), key(std::move(groupKey)) {
        value = kGroupItemData;
        hasValue = true;
    }

    const std::string key;
};

ViewItem* ToViewItem(TreeItem item) {
    return static_cast<ViewItem*>(item);
}

std::string FirstBytes(const std::string& text) {
    return text.substr(0, kGroupCompareBytes);
}

}  // namespace

CMrmx3View::CMrmx3View(Services services, QWidget* parent)
    : QTreeWidget(parent), m_s(std::move(services)) {
    setObjectName(QStringLiteral("userTree"));
    setAccessibleName(QStringLiteral("Uživatelé"));
    setColumnCount(1);
    setHeaderHidden(true);
    // No expand buttons and no lines at the root; Qt draws no connecting lines
    // between items at all.
    setRootIsDecorated(false);
    setIndentation(12);
    setSortingEnabled(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setExpandsOnDoubleClick(true);

    connect(this, &QTreeWidget::currentItemChanged, this, &CMrmx3View::OnCurrentItemChanged);
    m_waitEnds.setSingleShot(true);
    m_waitEnds.setInterval(kLongestWait);
    connect(&m_waitEnds, &QTimer::timeout, this, &CMrmx3View::InsertWaitingItems);
    Mrmx3ViewAccessible::InstallFactory();
}

CMrmx3View::~CMrmx3View() {
    qDeleteAll(m_waiting);
}

void CMrmx3View::LoadIcons() {
    const auto [iconsType, iconsSize] = m_s.state.Read([](const SettingsRecord& s) {
        return std::pair{s.iconsType, s.iconsSize};
    });

    m_icons.fill(QIcon());
    m_iconsLoaded = false;

    const std::array<const char*, 7>* set = nullptr;
    const char* sizeTrace = nullptr;
    if (iconsType == 0) {
        set = &kMuzIcons;
        sizeTrace = "View 5, IcoSz %i";
    } else if (iconsType == 1) {
        set = &kZenaIcons;
        sizeTrace = "View 6, IcoSz %i";
    }

    int pixels = 0;
    if (set != nullptr) {
        if (iconsSize == 0) {
            pixels = kLargeIconPixels;
        } else if (iconsSize == 1) {
            pixels = kSmallIconPixels;
        } else {
            ShowTraceCode(m_s.presenter, sizeTrace, iconsSize);
        }
    }

    // Without a valid type and size there is no list: no picture at all, the
    // group icon included.
    if (pixels != 0) {
        const qreal ratio = devicePixelRatioF();
        for (size_t i = 0; i < set->size(); ++i) {
            m_icons[i] = RenderIcon((*set)[i], pixels, ratio);
        }
        m_icons[kGroupIcon] = RenderIcon(kGroupIconFile, pixels, ratio);
        m_iconsLoaded = true;
        m_iconPixels = pixels;
        setIconSize(QSize(pixels, pixels));
    }

    // The items keep their image indexes; only the pictures change.
    for (QTreeWidgetItemIterator it(this); *it != nullptr; ++it) {
        if (auto* item = static_cast<ViewItem*>(*it); item->image >= 0) {
            item->Changed();
        }
    }
}

QIcon CMrmx3View::IconAt(int image) const {
    if (!m_iconsLoaded || image < 0 || image >= static_cast<int>(m_icons.size())) {
        return QIcon();
    }
    return m_icons[static_cast<size_t>(image)];
}

void CMrmx3View::OnDoubleClick() {
    // The item under the caret, not the one under the mouse.
    const QTreeWidgetItem* item = currentItem();
    if (item == nullptr) {
        return;
    }
    const QVariant stored = item->data(0, kItemDataRole);
    if (!stored.isValid()) {
        return;
    }
    // Group items hold 0xFFFFFFFF, far beyond any item count.
    const quint32 index = stored.value<quint32>();
    if (index > static_cast<quint32>(ItemCount())) {
        return;
    }
    m_s.openConversation(static_cast<int>(index));
}

void CMrmx3View::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        OnDoubleClick();
    }
}

void CMrmx3View::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnDoubleClick();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

TreeItem CMrmx3View::FindOrAddGroupItem(const std::string& group) {
    std::string wanted = FirstBytes(group);
    if (const auto known = m_groups.find(wanted); known != m_groups.end()) {
        return known->second;
    }
    auto* item = new GroupItem(platform::FromCp1250(group), wanted);
    addTopLevelItem(item);
    m_groups.emplace(std::move(wanted), item);
    return item;
}

TreeItem CMrmx3View::InsertPeerItem(TreeItem group, const std::string& name, int image) {
    if (group == nullptr) {
        return nullptr;
    }
    auto* item = new ViewItem(platform::FromCp1250(name), image);
    // Spares the layout the questions about children for each peer row.
    item->setFlags(item->flags() | Qt::ItemNeverHasChildren);
    ++m_peerItems;
    if (m_batchDepth > 0) {
        item->waitingGroup = ToItem(group);
        ++ToViewItem(group)->waitingChildren;
        m_waiting.push_back(item);
    } else {
        ToItem(group)->addChild(item);
    }
    return item;
}

void CMrmx3View::ExpandItem(TreeItem item) {
    if (item != nullptr && !ToItem(item)->isExpanded()) {
        ToItem(item)->setExpanded(true);
    }
}

void CMrmx3View::DeleteItem(TreeItem item) {
    // The tree makes another item current when the current one goes, possibly
    // a group; that choice is not the user's.
    if (item == nullptr) {
        return;
    }
    ViewItem* doomed = ToViewItem(item);
    if (doomed->waitingGroup != nullptr) {
        --m_peerItems;
        --ToViewItem(doomed->waitingGroup)->waitingChildren;
        std::erase(m_waiting, doomed);
        if (m_waitingSelection == doomed) {
            m_waitingSelection = nullptr;
        }
        delete doomed;
        return;
    }
    if (doomed->parent() != nullptr) {
        --m_peerItems;
    } else if (doomed->childCount() != 0 || doomed->waitingChildren != 0) {
        // Its peers' records still point at their items.
        return;
    } else {
        const std::string& key = static_cast<GroupItem*>(doomed)->key;
        if (const auto known = m_groups.find(key);
            known != m_groups.end() && known->second == doomed) {
            m_groups.erase(known);
        }
        if (m_chosenGroup == doomed) {
            m_chosenGroup = nullptr;
        }
    }
    m_keepGroups = true;
    delete doomed;
    m_keepGroups = false;
}

TreeItem CMrmx3View::GroupOf(TreeItem item) const {
    if (item == nullptr) {
        return nullptr;
    }
    const ViewItem* peer = ToViewItem(item);
    return peer->waitingGroup != nullptr ? peer->waitingGroup : peer->parent();
}

bool CMrmx3View::HasPeerItems(TreeItem group) const {
    return group != nullptr &&
           (ToItem(group)->childCount() != 0 || ToViewItem(group)->waitingChildren != 0);
}

bool CMrmx3View::IsSelectedItem(TreeItem item) const {
    if (m_waitingSelection != nullptr) {
        return item == m_waitingSelection;
    }
    return item != nullptr && currentItem() == ToItem(item);
}

void CMrmx3View::SelectItem(TreeItem item) {
    if (item == nullptr) {
        return;
    }
    if (ToViewItem(item)->waitingGroup != nullptr) {
        // Chosen outside a batch, an item waits no longer.
        m_waitingSelection = ToItem(item);
        if (m_batchDepth == 0) {
            InsertWaitingItems();
        }
        return;
    }
    m_waitingSelection = nullptr;
    m_keepGroups = true;
    setCurrentItem(ToItem(item));
    m_keepGroups = false;
}

void CMrmx3View::SetItemData(TreeItem item, uint32_t value) {
    if (item == nullptr) {
        return;
    }
    ViewItem* treeItem = ToViewItem(item);
    if (treeItem->hasValue && treeItem->value == value) {
        return;
    }
    treeItem->value = value;
    treeItem->hasValue = true;
    treeItem->Changed();
}

void CMrmx3View::SetItemImage(TreeItem item, int image) {
    if (item == nullptr) {
        return;
    }
    ViewItem* treeItem = ToViewItem(item);
    // A picture set again would be a change of the row (icons do not compare).
    if (treeItem->image == image) {
        return;
    }
    treeItem->image = image;
    treeItem->Changed();
}

void CMrmx3View::BeginBatch() {
    ++m_batchDepth;
}

void CMrmx3View::EndBatch() {
    if (m_batchDepth == 0 || --m_batchDepth > 0 || m_waiting.empty()) {
        return;
    }
    const int waiting = static_cast<int>(m_waiting.size());
    const int shown = ItemCount() - waiting;
    if (shown < kPromptRows || waiting * kShownRowsPerWaitingItem >= shown ||
        m_waitingSelection != nullptr) {
        InsertWaitingItems();
    } else if (!m_waitEnds.isActive()) {
        m_waitEnds.start();
    }
}

void CMrmx3View::InsertWaitingItems() {
    m_waitEnds.stop();
    if (m_waiting.empty()) {
        return;
    }
    // One insertion per group, its items in the order they were made.
    std::vector<std::pair<QTreeWidgetItem*, QList<QTreeWidgetItem*>>> byGroup;
    std::unordered_map<QTreeWidgetItem*, size_t> slotOf;
    for (QTreeWidgetItem* waiting : std::exchange(m_waiting, {})) {
        ViewItem* item = static_cast<ViewItem*>(waiting);
        QTreeWidgetItem* group = std::exchange(item->waitingGroup, nullptr);
        ToViewItem(group)->waitingChildren = 0;
        const auto [slot, added] = slotOf.try_emplace(group, byGroup.size());
        if (added) {
            byGroup.emplace_back(group, QList<QTreeWidgetItem*>{});
        }
        byGroup[slot->second].second.push_back(item);
    }
    for (auto& [group, items] : byGroup) {
        group->addChildren(items);
    }
    if (QTreeWidgetItem* chosen = std::exchange(m_waitingSelection, nullptr)) {
        m_keepGroups = true;
        setCurrentItem(chosen);
        m_keepGroups = false;
    }
}

void CMrmx3View::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* /*previous*/) {
    if (!m_keepGroups) {
        // The user's choice stands over a waiting item's selection.
        m_waitingSelection = nullptr;
    }
    if (m_keepGroups || current == nullptr || current->parent() != nullptr) {
        return;
    }
    // The chosen group opens and the one chosen before closes; groups that
    // their newcomers opened stay as they are.
    if (m_chosenGroup != nullptr && m_chosenGroup != current) {
        m_chosenGroup->setExpanded(false);
    }
    current->setExpanded(true);
    m_chosenGroup = current;
}
