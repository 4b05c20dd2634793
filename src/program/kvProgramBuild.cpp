// The program list's tree: its nodes, and the rebuild that fills it from an
// inventory while keeping the selection, the top row and the nodes it can.

#include "kvUnitProgram.h"

#include "gui/kvFrameHost.h"
#include "inventory/ProgramTree.h"
#include "platform/Error.h"
#include "platform/RegistryStore.h"
#include "platform/Target.h"
#include "settings/kvConfig.h"
#include "settings/kvSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// Sets a flag for a scope; the flag is cleared however the scope ends.
class FlagGuard
{
public:
    explicit FlagGuard(bool &flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~FlagGuard() { m_flag = false; }
    FlagGuard(const FlagGuard &) = delete;
    FlagGuard &operator=(const FlagGuard &) = delete;

private:
    bool &m_flag;
};

// Locks a widget's painting for a scope.
class PaintLock
{
public:
    explicit PaintLock(QWidget *widget)
        : m_widget(widget)
    {
        m_widget->setUpdatesEnabled(false);
    }
    ~PaintLock() { m_widget->setUpdatesEnabled(true); }
    PaintLock(const PaintLock &) = delete;
    PaintLock &operator=(const PaintLock &) = delete;

private:
    QWidget *m_widget;
};

void expandWithDescendants(QTreeWidgetItem *node)
{
    node->setExpanded(true);
    for (int i = 0; i < node->childCount(); ++i)
        expandWithDescendants(node->child(i));
}

// The nodes of the last build, detached from the tree and found by what they
// show: the key path of their record, or the group's text. Those not taken
// again are deleted with the stock.
class NodeStock
{
public:
    explicit NodeStock(const QList<QTreeWidgetItem *> &roots)
    {
        for (QTreeWidgetItem *root : roots) {
            for (QTreeWidgetItem *child : root->takeChildren())
                put(child);
            put(root);
        }
    }

    ~NodeStock()
    {
        for (const Shelf *shelf : {&m_entries, &m_updates, &m_groups})
            qDeleteAll(*shelf);
    }

    NodeStock(const NodeStock &) = delete;
    NodeStock &operator=(const NodeStock &) = delete;

    // A node showing `wanted` at position `rank` among its siblings.
    TkvProgramNode *take(const ProgramTreeNode &wanted, int rank, const TkvNodeOrder &order)
    {
        Shelf &shelf = wanted.entry ? m_entries : wanted.update ? m_updates : m_groups;
        const QString &key = wanted.entry    ? wanted.entry->KeyPath
                             : wanted.update ? wanted.update->KeyPath
                                             : wanted.text;
        TkvProgramNode *node = shelf.take(key);
        if (!node)
            node = new TkvProgramNode(QString(), {}, {}, order);
        node->reset(wanted.text, wanted.entry, wanted.update, rank);
        return node;
    }

private:
    using Shelf = QHash<QString, TkvProgramNode *>;

    void put(QTreeWidgetItem *item)
    {
        auto *node = static_cast<TkvProgramNode *>(item); // the tree holds nothing else
        Shelf &shelf = node->entry() ? m_entries : node->update() ? m_updates : m_groups;
        const QString &key = node->entry()    ? node->entry()->KeyPath
                             : node->update() ? node->update()->KeyPath
                                              : node->text(0);
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

} // namespace

TkvProgramNode::TkvProgramNode(const QString &text, TAppItemPtr entry, TAppSubItemPtr update,
                               const TkvNodeOrder &order)
    : QTreeWidgetItem(NodeType)
    , m_entry(std::move(entry))
    , m_update(std::move(update))
    , m_order(order)
{
    setText(0, text);
}

void TkvProgramNode::reset(const QString &text, TAppItemPtr entry, TAppSubItemPtr update, int rank)
{
    m_entry = std::move(entry);
    m_update = std::move(update);
    m_rank = rank;
    setText(0, text);
}

bool TkvProgramNode::operator<(const QTreeWidgetItem &other) const
{
    if (m_order.byRank)
        return m_rank < static_cast<const TkvProgramNode &>(other).m_rank;
    return m_order.names.compare(text(0), other.text(0)) < 0;
}

int TkvFrameProgram::absoluteIndex(const QTreeWidgetItem *node) const
{
    if (!node)
        return -1;
    int index = 0;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it, ++index) {
        if (*it == node)
            return index;
    }
    return -1;
}

QTreeWidgetItem *TkvFrameProgram::nodeAtAbsoluteIndex(int index) const
{
    if (index < 0)
        return nullptr;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it, --index) {
        if (index == 0)
            return *it;
    }
    return nullptr;
}

int TkvFrameProgram::nodeCount() const
{
    int count = 0;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it)
        ++count;
    return count;
}

void TkvFrameProgram::GenerateList(QObject *sender)
{
    if (Generating)
        return;
    // The rebuild works on this inventory even if the frame is entered again
    // (and the inventory replaced) while the scan lets events through.
    const std::shared_ptr<TApplications> inventory = m_inventory;
    // A scan that could not read everything (an Uninstall key behind a link
    // that cannot be followed) still shows what it read, then says why.
    QString scanProblem;
    try {
        {
            FlagGuard generating(Generating);
            m_listItemCount = 0;
            m_listUpdateCount = 0;
            if (!Filtering) {
                RegistryStore &store = *m_host.target().registry();
                // A rescan reads what installers have written since.
                if (store.changedOnDisk())
                    store.reload();
                // Events are let through at the first entry, then at most every
                // 10 ms: an event loop pass per entry cost a third of a large scan.
                QElapsedTimer sinceEvents;
                try {
                    inventory->LoadFromRegistry([&sinceEvents] {
                        if (!sinceEvents.isValid() || sinceEvents.hasExpired(10)) {
                            QCoreApplication::processEvents();
                            sinceEvents.start();
                        }
                    });
                } catch (const Error &error) {
                    scanProblem = error.message();
                }
            }
            // Even when no application is left (the last one was just
            // uninstalled): the old nodes would show, and offer actions on,
            // entries that are gone.
            rebuildTree(inventory);
        }
        if (TkvProgramNode *node = selectedNode()) {
            DisplayInformation(sender);
            UpdateStates(sender, node);
        } else if (!inventory->HasApplications()) {
            // No application left to show or act on. (A filter that matches
            // nothing leaves the panel and the states as they were.)
            m_panelNoInfo->show();
            UpdateStates(sender, nullptr);
        }
        DisplayStatusCount(sender);
    } catch (const Error &error) {
        m_host.DisplayMessage(error.message());
    }
    if (!scanProblem.isEmpty())
        m_host.DisplayMessage(scanProblem);
}

void TkvFrameProgram::rebuildTree(const std::shared_ptr<TApplications> &inventory)
{
    // Remember the view.
    int topIndex = -1;
    bool wasExpanded = false;
    if (TkvProgramNode *selected = selectedNode()) {
        topIndex = absoluteIndex(m_tree->itemAt(QPoint(m_tree->viewport()->width() / 2, 1)));
        m_lastSelectedIndex = absoluteIndex(selected);
        if (selected->entry())
            m_lastSelectedKey = selected->entry()->KeyPath;
        else if (selected->update())
            m_lastSelectedKey = selected->update()->KeyPath;
        else if (selected->text(0) == config::WindowsName)
            m_lastSelectedKey = selected->text(0);
        wasExpanded = selected->isExpanded();
    }

    // Sorting thousands of names costs more than the rest of a rebuild: it
    // is done once per scan, and each build takes what it shows from there.
    if (!Filtering || m_sortedSource.lock() != inventory) {
        m_sortedTree.clear();
        m_sortedSource.reset();
        m_sortedTree = BuildProgramTree(*inventory, QString(), true, m_order.names);
        m_sortedSource = inventory;
    }
    // An invalid filter mask throws here, before the tree is touched.
    ProgramTreeCounts counts;
    const QList<ProgramTreeNode> roots =
        FilterProgramTree(m_sortedTree, m_editFilter->text(), m_host.settings().ShowUpdates, &counts);

    QTreeWidgetItem *match = nullptr;
    int count = 0;
    {
        PaintLock lock(m_tree);
        // The last build's nodes serve again for the records with the same key
        // path: taking them out in one go and putting them back costs far less
        // than deleting and creating thousands of items.
        NodeStock stock(m_tree->invisibleRootItem()->takeChildren());
        QList<QTreeWidgetItem *> items;
        items.reserve(roots.size());
        for (int i = 0; i < roots.size(); ++i) {
            const ProgramTreeNode &root = roots[i];
            TkvProgramNode *node = stock.take(root, i, m_order);
            QList<QTreeWidgetItem *> children;
            children.reserve(root.children.size());
            for (int j = 0; j < root.children.size(); ++j) {
                const ProgramTreeNode &child = root.children[j];
                children.append(stock.take(child, j, m_order));
                const QString &childKey = child.entry ? child.entry->KeyPath : child.update->KeyPath;
                if (childKey == m_lastSelectedKey)
                    match = node;
            }
            node->addChildren(children);
            count += 1 + int(children.size());
            if (root.entry ? root.entry->KeyPath == m_lastSelectedKey : root.text == m_lastSelectedKey)
                match = node;
            items.append(node);
        }
        // The nodes arrive sorted: added in bulk with sorting off, then
        // sorting is switched on again (so that a renamed node moves to its
        // place) with a comparison that only confirms the order they have.
        m_tree->setSortingEnabled(false);
        m_tree->addTopLevelItems(items);
        m_order.byRank = true;
        m_tree->setSortingEnabled(true);
        m_order.byRank = false;
    }
    m_listItemCount = counts.items;
    m_listUpdateCount = counts.updates;

    if (count == 0)
        return;
    if (topIndex >= 0 && topIndex < count) {
        // A node inside a collapsed branch cannot be the top row: its
        // outermost hidden ancestor's parent stands in.
        QTreeWidgetItem *top = nodeAtAbsoluteIndex(topIndex);
        for (QTreeWidgetItem *parent = top->parent(); parent; parent = parent->parent()) {
            if (!parent->isExpanded())
                top = parent;
        }
        m_tree->scrollToItem(top, QAbstractItemView::PositionAtTop);
    }
    QTreeWidgetItem *select = match;
    if (!select && m_lastSelectedIndex >= 0)
        select = nodeAtAbsoluteIndex(qMin(m_lastSelectedIndex, count - 1));
    if (select) {
        m_tree->setCurrentItem(select);
        if (wasExpanded)
            expandWithDescendants(select);
    }
    if (!Filtering)
        m_tree->setFocus(Qt::OtherFocusReason);
}

} // namespace kelvane
