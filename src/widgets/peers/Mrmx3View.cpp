// src/widgets/peers/Mrmx3View.cpp
#include "widgets/peers/Mrmx3View.h"

#include <QByteArray>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QTreeWidgetItemIterator>
#include <QVariant>
#include <utility>

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

// An item of the tree that keeps its image index itself, so that a new image
// changes the model once, through the picture.
class ViewItem final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    QVariant data(int column, int role) const override {
        if (column == 0 && role == CMrmx3View::kImageRole) {
            return image < 0 ? QVariant() : QVariant(image);
        }
        return QTreeWidgetItem::data(column, role);
    }

    int image = -1;
};

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
    Mrmx3ViewAccessible::InstallFactory();
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
        const QVariant image = (*it)->data(0, kImageRole);
        if (image.isValid()) {
            (*it)->setIcon(0, IconAt(image.toInt()));
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
    const std::string wanted = FirstBytes(group);
    if (const auto known = m_groups.find(wanted); known != m_groups.end()) {
        return known->second;
    }
    auto* item = new ViewItem(this);
    SetItemText(item, group);
    SetItemImage(item, kGroupIcon);
    SetItemData(item, kGroupItemData);
    m_groups.emplace(wanted, item);
    return item;
}

TreeItem CMrmx3View::InsertPeerItem(TreeItem group, const std::string& name, int image) {
    if (group == nullptr) {
        return nullptr;
    }
    auto* item = new ViewItem(ToItem(group));
    ++m_peerItems;
    SetItemText(item, name);
    SetItemImage(item, image);
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
    QTreeWidgetItem* doomed = ToItem(item);
    if (doomed->parent() != nullptr) {
        --m_peerItems;
    } else if (doomed->childCount() != 0) {
        // Its peers' records still point at their items.
        return;
    } else {
        const QByteArray text = doomed->data(0, kTextBytesRole).toByteArray();
        if (const auto known = m_groups.find(FirstBytes(text.toStdString()));
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
    return item == nullptr ? nullptr : ToItem(item)->parent();
}

bool CMrmx3View::HasPeerItems(TreeItem group) const {
    return group != nullptr && ToItem(group)->childCount() != 0;
}

bool CMrmx3View::IsSelectedItem(TreeItem item) const {
    return item != nullptr && currentItem() == ToItem(item);
}

void CMrmx3View::SelectItem(TreeItem item) {
    if (item == nullptr) {
        return;
    }
    m_keepGroups = true;
    setCurrentItem(ToItem(item));
    m_keepGroups = false;
}

void CMrmx3View::SetItemData(TreeItem item, uint32_t value) {
    if (item != nullptr) {
        ToItem(item)->setData(0, kItemDataRole, QVariant::fromValue<quint32>(value));
    }
}

void CMrmx3View::SetItemImage(TreeItem item, int image) {
    if (item == nullptr) {
        return;
    }
    auto* treeItem = static_cast<ViewItem*>(ToItem(item));
    // A picture set again would be a change of the row (icons do not compare).
    if (treeItem->image == image) {
        return;
    }
    treeItem->image = image;
    treeItem->setIcon(0, IconAt(image));
}

void CMrmx3View::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* /*previous*/) {
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

void CMrmx3View::SetItemText(QTreeWidgetItem* item, const std::string& text) {
    const QByteArray bytes = QByteArray::fromStdString(text);
    if (const QVariant stored = item->data(0, kTextBytesRole);
        stored.isValid() && stored.toByteArray() == bytes) {
        return;
    }
    const QString shown = platform::FromCp1250(text);
    item->setText(0, shown);
    item->setData(0, Qt::AccessibleTextRole, shown);
    item->setData(0, kTextBytesRole, bytes);
}
