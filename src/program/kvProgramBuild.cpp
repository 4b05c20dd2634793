// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's tree: its nodes, and the rebuild that fills it from an
// inventory while keeping the selection, the top row and the nodes it can.

#include "kvUnitProgram.h"

#include "config/kvConfig.h"
#include "gui/kvFrameHost.h"
#include "host/Error.h"
#include "inventory/ProgramTree.h"
#include "registry/RegistryStore.h"
#include "settings/kvSettings.h"
#include "target/Target.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <utility>

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

} // namespace

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
    // The commands editor writes to the entry it shows: the list stands
    // still until it closes.
    if (Generating || CommandsEditing)
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
            // An inventory never read is read whatever the mode: the filter
            // flag a label editor's Enter set must not make a frame entered
            // anew (a fresh inventory) show nothing.
            if (!Filtering || m_scannedInventory.lock() != inventory || std::exchange(m_rescanRequested, false)) {
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
                m_scannedInventory = inventory;
                // The records changed in place: the sorted snapshot is stale
                // even if this build stops at an invalid filter.
                m_sortedSource.reset();
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

void TkvFrameProgram::RescanList(QObject *sender)
{
    m_rescanRequested = true;
    GenerateList(sender);
    m_rescanRequested = false;
}

bool TkvFrameProgram::reportRefusedEdit(const Error &error, const TAppItem &entry)
{
    bool gone = error.kind() == ErrorKind::EntryGone;
    try {
        RegistryStore &store = *m_host.target().registry();
        if (store.changedOnDisk())
            store.reload();
        gone = gone || !store.keyExists(entry.KeyPath);
    } catch (const Error &) {
        // Still unreadable: the next rescan says why.
    }
    // Of an entry another program removed, only that is worth saying.
    m_host.DisplayMessage(gone ? RefusalText(Error(error.message(), ErrorKind::EntryGone, entry.KeyPath),
                                             entry.DisplayName)
                               : RefusalText(error));
    return gone;
}

void TkvFrameProgram::rebuildTree(const std::shared_ptr<TApplications> &inventory)
{
    // A refresh while a label is edited (F5 acts in the editor) ends the
    // edit unstored, as Escape does.
    if (m_labelEditing) {
        QWidget *editor = QApplication::focusWidget();
        if (editor && m_tree->viewport()->isAncestorOf(editor))
            emit m_tree->itemDelegate()->closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
        m_labelEditing = false;
        updateShortcuts();
    }
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
    // is done once per scan (or rename), with a node for each name, and each
    // build shows the nodes its filter keeps.
    const bool showUpdates = m_host.settings().ShowUpdates;
    const bool resorted = !Filtering || m_sortedSource.lock() != inventory || m_sortedWithUpdates != showUpdates;
    QList<ProgramTreeNode> sorted =
        resorted ? BuildProgramTree(*inventory, QString(), true, m_order) : QList<ProgramTreeNode>();
    // An invalid filter mask throws here, before the tree is touched.
    const ProgramTreeSelection selection =
        SelectProgramTree(resorted ? sorted : m_sortedTree, m_editFilter->text(), showUpdates);
    int count = 0;
    {
        PaintLock lock(m_tree);
        if (resorted) {
            m_sortedTree = std::move(sorted);
            m_nodes->reset(m_sortedTree, showUpdates);
            m_sortedSource = inventory;
            m_sortedWithUpdates = showUpdates;
        }
        count = m_nodes->show(selection);
    }
    const ProgramTreeCounts &counts = selection.counts;
    QTreeWidgetItem *match = nullptr;
    if (!m_lastSelectedKey.isEmpty()) {
        for (int i = 0; i < m_tree->topLevelItemCount() && !match; ++i) {
            auto *node = static_cast<TkvProgramNode *>(m_tree->topLevelItem(i));
            if (node->key() == m_lastSelectedKey)
                match = node;
            // An update or hotfix selected: its application stands for it.
            for (int j = 0; j < node->childCount() && !match; ++j)
                if (static_cast<TkvProgramNode *>(node->child(j))->key() == m_lastSelectedKey)
                    match = node;
        }
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
