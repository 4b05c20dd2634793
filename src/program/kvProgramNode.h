// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "inventory/kvApplication.h"
#include "inventory/ProgramTree.h"

#include <QList>
#include <QString>
#include <QTreeWidgetItem>

class QTreeWidget;

namespace kelvane {

// One node of the program list. It shares the record it shows, so the record
// stays readable for as long as the node exists, whatever inventory replaced
// the one it came from.
class TkvProgramNode : public QTreeWidgetItem
{
public:
    static constexpr int NodeType = QTreeWidgetItem::UserType + 1;

    TkvProgramNode(const QString &text, TAppItemPtr entry, TAppSubItemPtr update);

    // Application and hotfix nodes.
    const TAppItemPtr &entry() const { return m_entry; }
    // Update nodes.
    const TAppSubItemPtr &update() const { return m_update; }
    // The updates group node has neither.
    bool hasReference() const { return m_entry || m_update; }
    // What finds the node again after a rescan: its record's key path, or
    // the group's text.
    QString key() const;

    // A detached node shows another record (or a newer copy of its own).
    void reset(const QString &text, TAppItemPtr entry, TAppSubItemPtr update);

private:
    TAppItemPtr m_entry;
    TAppSubItemPtr m_update;
};

// The nodes of one sorted program tree (a scan's, with or without updates),
// made once; each build of the list then puts in the ones its filter keeps.
// Nodes that stay are not touched: a keystroke in the filter box costs what
// changes, not what the list holds. Nodes out of the tree belong to the set.
class TkvProgramNodes
{
public:
    explicit TkvProgramNodes(QTreeWidget &tree);
    ~TkvProgramNodes();
    TkvProgramNodes(const TkvProgramNodes &) = delete;
    TkvProgramNodes &operator=(const TkvProgramNodes &) = delete;

    // Nodes for every node of `sorted` (BuildProgramTree's result for no
    // filter, with updates); application nodes get their updates' nodes only
    // withUpdates. The tree is emptied; the nodes of records with the same
    // key path serve again, the others are deleted.
    void reset(const QList<ProgramTreeNode> &sorted, bool withUpdates);

    // Makes the tree show the selected nodes, in order. Returns their number,
    // children included.
    int show(const ProgramTreeSelection &selection);

private:
    QTreeWidget &m_tree;
    QList<TkvProgramNode *> m_roots;
    int m_group = -1;
    QList<TkvProgramNode *> m_groupChildren;
};

} // namespace kelvane
