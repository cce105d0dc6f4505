// src/widgets/peers/Mrmx3ViewAccessible.h
#pragma once

#include <QAccessibleWidget>
#include <QObject>
#include <unordered_map>
#include <vector>

class CMrmx3View;
class QModelIndex;
class QTreeWidgetItem;

// The user tree as accessibility clients see it: a tree whose children are
// the shown rows in the order shown (the view has no header row), numbered
// as the view numbers them in its own accessibility events. A row's object is
// made when a client first asks for it, is the same at every later request,
// and goes with its item. (Qt's own tree makes a new object, with a
// persistent model index, at every request and keeps them all, so that after
// a screen reader had walked the tree, every added or removed row went
// through all of them.)
class Mrmx3ViewAccessible final : public QAccessibleWidget {
public:
    explicit Mrmx3ViewAccessible(CMrmx3View* view);
    ~Mrmx3ViewAccessible() override;

    // Makes every CMrmx3View's accessible object one of these.
    static void InstallFactory();

    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

private:
    CMrmx3View* View() const;
    // The shown items in order, worked out again after the tree changed.
    const std::vector<QTreeWidgetItem*>& Rows() const;
    int RowOf(const QTreeWidgetItem* item) const;
    QAccessibleInterface* RowObject(QTreeWidgetItem* item) const;
    void ForgetItems(const QModelIndex& parent, int first, int last);
    void ForgetItem(QTreeWidgetItem* item);
    void ForgetAll();

    QObject m_connections;  // disconnects with this object
    mutable std::vector<QTreeWidgetItem*> m_rows;
    mutable std::unordered_map<const QTreeWidgetItem*, int> m_rowOf;
    mutable bool m_rowsKnown = false;
    mutable std::unordered_map<const QTreeWidgetItem*, QAccessible::Id> m_rowObjects;
};
