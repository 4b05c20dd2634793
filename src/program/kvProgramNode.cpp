// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's nodes: made once per sorted tree and put into the tree
// as each build's filter selects them.

#include "kvProgramNode.h"

#include <QHash>
#include <QTreeWidget>

namespace kelvane {

namespace {

// Nodes out of the tree, found by what they showed: the key path of their
// record, or the group's text. Those not taken again are deleted with it.
class NodeStock
{
public:
    explicit NodeStock(const QList<QTreeWidgetItem *> &nodes)
    {
        for (QTreeWidgetItem *node : nodes) {
            for (QTreeWidgetItem *child : node->takeChildren())
                put(child);
            put(node);
        }
    }

    ~NodeStock()
    {
        for (const Shelf *shelf : {&m_entries, &m_updates, &m_groups})
            qDeleteAll(*shelf);
    }

    NodeStock(const NodeStock &) = delete;
    NodeStock &operator=(const NodeStock &) = delete;

    TkvProgramNode *take(const ProgramTreeNode &wanted)
    {
        Shelf &shelf = wanted.entry ? m_entries : wanted.update ? m_updates : m_groups;
        const QString &key = wanted.entry    ? wanted.entry->KeyPath
                             : wanted.update ? wanted.update->KeyPath
                                             : wanted.text;
        TkvProgramNode *node = shelf.take(key);
        if (!node)
            return new TkvProgramNode(wanted.text, wanted.entry, wanted.update);
        node->reset(wanted.text, wanted.entry, wanted.update);
        return node;
    }

private:
    using Shelf = QHash<QString, TkvProgramNode *>;

    void put(QTreeWidgetItem *item)
    {
        auto *node = static_cast<TkvProgramNode *>(item); // the tree holds nothing else
        Shelf &shelf = node->entry() ? m_entries : node->update() ? m_updates : m_groups;
        const QString key = node->key();
        // A second node with the same key is not worth keeping.
        if (shelf.contains(key))
            delete node;
        else
            shelf.insert(key, node);
    }

    Shelf m_entries;
    Shelf m_updates;
    Shelf m_groups;
};

template<typename Node>
bool sameNodes(const QList<Node *> &wanted, const QTreeWidgetItem &parent)
{
    if (parent.childCount() != wanted.size())
        return false;
    for (int i = 0; i < wanted.size(); ++i)
        if (parent.child(i) != wanted[i])
            return false;
    return true;
}

} // namespace

TkvProgramNode::TkvProgramNode(const QString &text, TAppItemPtr entry, TAppSubItemPtr update)
    : QTreeWidgetItem(NodeType)
    , m_entry(std::move(entry))
    , m_update(std::move(update))
{
    setText(0, text);
    // Only a rename opens the editor: the tree has no edit triggers.
    setFlags(flags() | Qt::ItemIsEditable);
}

QString TkvProgramNode::key() const
{
    return m_entry ? m_entry->KeyPath : m_update ? m_update->KeyPath : text(0);
}

void TkvProgramNode::reset(const QString &text, TAppItemPtr entry, TAppSubItemPtr update)
{
    m_entry = std::move(entry);
    m_update = std::move(update);
    setText(0, text);
}

TkvProgramNodes::TkvProgramNodes(QTreeWidget &tree)
    : m_tree(tree)
{
}

TkvProgramNodes::~TkvProgramNodes()
{
    // The tree deletes the nodes it holds, with their children.
    for (TkvProgramNode *root : std::as_const(m_roots))
        if (!root->treeWidget())
            delete root;
    for (TkvProgramNode *hotfix : std::as_const(m_groupChildren))
        if (!hotfix->parent())
            delete hotfix;
}

void TkvProgramNodes::reset(const QList<ProgramTreeNode> &sorted, bool withUpdates)
{
    m_tree.invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem *> old;
    old.reserve(m_roots.size() + m_groupChildren.size());
    for (TkvProgramNode *root : std::as_const(m_roots))
        old.append(root);
    // The group's hotfixes out of the group are loose.
    for (TkvProgramNode *hotfix : std::as_const(m_groupChildren))
        if (!hotfix->parent())
            old.append(hotfix);
    m_roots.clear();
    m_groupChildren.clear();
    m_group = -1;
    NodeStock stock(old);

    m_roots.reserve(sorted.size());
    for (int i = 0; i < sorted.size(); ++i) {
        const ProgramTreeNode &wanted = sorted[i];
        TkvProgramNode *node = stock.take(wanted);
        if (!wanted.entry) {
            m_group = i;
            m_groupChildren.reserve(wanted.children.size());
            for (const ProgramTreeNode &hotfix : wanted.children)
                m_groupChildren.append(stock.take(hotfix));
        } else if (withUpdates && !wanted.children.isEmpty()) {
            QList<QTreeWidgetItem *> children;
            children.reserve(wanted.children.size());
            for (const ProgramTreeNode &update : wanted.children)
                children.append(stock.take(update));
            node->addChildren(children);
        }
        m_roots.append(node);
    }
}

int TkvProgramNodes::show(const ProgramTreeSelection &selection)
{
    QList<TkvProgramNode *> roots;
    roots.reserve(selection.roots.size());
    int count = 0;
    for (int index : selection.roots) {
        roots.append(m_roots[index]);
        count += 1 + (index == m_group ? int(selection.groupChildren.size()) : m_roots[index]->childCount());
    }
    if (m_group >= 0) {
        QList<TkvProgramNode *> hotfixes;
        hotfixes.reserve(selection.groupChildren.size());
        for (int index : selection.groupChildren)
            hotfixes.append(m_groupChildren[index]);
        TkvProgramNode &group = *m_roots[m_group];
        if (!sameNodes(hotfixes, group)) {
            group.takeChildren();
            group.addChildren(QList<QTreeWidgetItem *>(hotfixes.begin(), hotfixes.end()));
        }
    }
    QTreeWidgetItem &top = *m_tree.invisibleRootItem();
    if (!sameNodes(roots, top)) {
        top.takeChildren();
        m_tree.addTopLevelItems(QList<QTreeWidgetItem *>(roots.begin(), roots.end()));
    }
    return count;
}

} // namespace kelvane
