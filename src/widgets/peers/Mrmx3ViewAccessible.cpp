// src/widgets/peers/Mrmx3ViewAccessible.cpp
#include "widgets/peers/Mrmx3ViewAccessible.h"

#include <QAbstractItemModel>
#include <QPointer>
#include <QTreeWidgetItem>
#include <QWindow>
#include <utility>

#include "widgets/peers/Mrmx3View.h"

namespace {

// One shown item of the tree. It reads the item afresh at every request and
// is deleted before its item is.
class RowAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RowAccessible(CMrmx3View* view, QTreeWidgetItem* item) : m_view(view), m_item(item) {}

    QTreeWidgetItem* Item() const { return m_item; }

    bool isValid() const override { return !m_view.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_view.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name: {
                const QVariant named = m_item->data(0, Qt::AccessibleTextRole);
                return named.isValid() ? named.toString() : m_item->text(0);
            }
            case QAccessible::Description:
                return m_item->data(0, Qt::AccessibleDescriptionRole).toString();
            default:
                return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!m_view) {
            return {};
        }
        const QRect shown = m_view->visualItemRect(m_item);
        if (shown.isEmpty()) {
            return {};
        }
        return {m_view->viewport()->mapToGlobal(shown.topLeft()), shown.size()};
    }

    QAccessible::Role role() const override { return QAccessible::TreeItem; }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!m_view) {
            return state;
        }
        state.selectable = true;
        state.focusable = true;
        state.selected = m_item->isSelected();
        state.focused = m_view->hasFocus() && m_view->currentItem() == m_item;
        if (m_item->childCount() != 0) {
            state.expandable = true;
            state.expanded = m_item->isExpanded();
            state.collapsed = !state.expanded;
        }
        const QRect shown = m_view->visualItemRect(m_item);
        if (!m_view->viewport()->rect().intersects(shown)) {
            state.invisible = true;
            state.offscreen = true;
        }
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface) {
            return static_cast<QAccessibleActionInterface*>(this);
        }
        return nullptr;
    }

    // Choosing a row makes it the current item, as a click does.
    QStringList actionNames() const override { return {toggleAction()}; }
    void doAction(const QString& name) override {
        if (m_view && name == toggleAction()) {
            m_view->setCurrentItem(m_item);
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<CMrmx3View> m_view;
    QTreeWidgetItem* m_item;
};

QAccessibleInterface* MakeViewAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(CMrmx3View::staticMetaObject.className())) {
        if (auto* view = qobject_cast<CMrmx3View*>(object)) {
            return new Mrmx3ViewAccessible(view);
        }
    }
    return nullptr;
}

}  // namespace

Mrmx3ViewAccessible::Mrmx3ViewAccessible(CMrmx3View* view)
    : QAccessibleWidget(view, QAccessible::Tree) {
    const auto changed = [this] { m_rowsKnown = false; };
    QAbstractItemModel* model = view->model();
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, &m_connections,
                     [this](const QModelIndex& parent, int first, int last) {
                         ForgetItems(parent, first, last);
                     });
    QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, &m_connections,
                     [this] { ForgetAll(); });
    QObject::connect(model, &QAbstractItemModel::rowsInserted, &m_connections, changed);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, &m_connections, changed);
    QObject::connect(model, &QAbstractItemModel::rowsMoved, &m_connections, changed);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, &m_connections, changed);
    QObject::connect(model, &QAbstractItemModel::modelReset, &m_connections, changed);
    QObject::connect(view, &QTreeView::expanded, &m_connections, changed);
    QObject::connect(view, &QTreeView::collapsed, &m_connections, changed);
}

Mrmx3ViewAccessible::~Mrmx3ViewAccessible() {
    ForgetAll();
}

void Mrmx3ViewAccessible::InstallFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(&MakeViewAccessible);
        return true;
    }();
    (void)installed;
}

CMrmx3View* Mrmx3ViewAccessible::View() const {
    return static_cast<CMrmx3View*>(widget());
}

QAccessibleInterface* Mrmx3ViewAccessible::child(int index) const {
    const std::vector<QTreeWidgetItem*>& rows = Rows();
    if (index < 0 || index >= static_cast<int>(rows.size())) {
        return nullptr;
    }
    return RowObject(rows[static_cast<size_t>(index)]);
}

int Mrmx3ViewAccessible::childCount() const {
    return static_cast<int>(Rows().size());
}

int Mrmx3ViewAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (const auto* row = dynamic_cast<const RowAccessible*>(child)) {
        return RowOf(row->Item());
    }
    return -1;
}

QAccessibleInterface* Mrmx3ViewAccessible::childAt(int x, int y) const {
    QTreeWidgetItem* item = View()->itemAt(View()->viewport()->mapFromGlobal(QPoint(x, y)));
    return item != nullptr && RowOf(item) >= 0 ? RowObject(item) : nullptr;
}

QAccessibleInterface* Mrmx3ViewAccessible::focusChild() const {
    QTreeWidgetItem* current = View()->currentItem();
    if (!View()->hasFocus() || current == nullptr || RowOf(current) < 0) {
        return nullptr;
    }
    return RowObject(current);
}

const std::vector<QTreeWidgetItem*>& Mrmx3ViewAccessible::Rows() const {
    if (m_rowsKnown) {
        return m_rows;
    }
    m_rows.clear();
    m_rowOf.clear();
    const auto add = [this](QTreeWidgetItem* item, const auto& addChildren) -> void {
        if (item->isHidden()) {
            return;
        }
        m_rowOf.emplace(item, static_cast<int>(m_rows.size()));
        m_rows.push_back(item);
        if (item->isExpanded()) {
            for (int i = 0; i < item->childCount(); ++i) {
                addChildren(item->child(i), addChildren);
            }
        }
    };
    for (int i = 0; i < View()->topLevelItemCount(); ++i) {
        add(View()->topLevelItem(i), add);
    }
    m_rowsKnown = true;
    return m_rows;
}

int Mrmx3ViewAccessible::RowOf(const QTreeWidgetItem* item) const {
    Rows();
    const auto found = m_rowOf.find(item);
    return found == m_rowOf.end() ? -1 : found->second;
}

QAccessibleInterface* Mrmx3ViewAccessible::RowObject(QTreeWidgetItem* item) const {
    if (const auto known = m_rowObjects.find(item); known != m_rowObjects.end()) {
        return QAccessible::accessibleInterface(known->second);
    }
    auto* row = new RowAccessible(View(), item);
    m_rowObjects.emplace(item, QAccessible::registerAccessibleInterface(row));
    return row;
}

void Mrmx3ViewAccessible::ForgetItems(const QModelIndex& parent, int first, int last) {
    const QAbstractItemModel* model = View()->model();
    for (int row = first; row <= last; ++row) {
        ForgetItem(View()->itemFromIndex(model->index(row, 0, parent)));
    }
}

void Mrmx3ViewAccessible::ForgetItem(QTreeWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    for (int i = 0; i < item->childCount(); ++i) {
        ForgetItem(item->child(i));
    }
    if (const auto known = m_rowObjects.find(item); known != m_rowObjects.end()) {
        const QAccessible::Id id = known->second;
        m_rowObjects.erase(known);
        QAccessible::deleteAccessibleInterface(id);
    }
}

void Mrmx3ViewAccessible::ForgetAll() {
    const auto rowObjects = std::exchange(m_rowObjects, {});
    for (const auto& [item, id] : rowObjects) {
        QAccessible::deleteAccessibleInterface(id);
    }
}
