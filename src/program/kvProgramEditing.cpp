// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's edits of an entry in the registry: renaming it in place,
// removing it, and the shortcuts that follow the entry last clicked.

#include "kvUnitProgram.h"

#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "gui/kvFrameHost.h"
#include "host/Error.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

void TkvFrameProgram::RemoveEntry(QObject *sender)
{
    TkvProgramNode *node = selectedNode();
    // The record, not the node: the node may go while the question is asked.
    const TAppItemPtr entry = node ? node->entry() : TAppItemPtr();
    if (!entry || !m_host.DisplayConfirmation(text(u"ConfirmRemoveEntry"_s)))
        return;
    try {
        entry->DeleteEntry();
    } catch (const Error &error) {
        // Refused: nothing was deleted, and the list shows it still.
        m_host.DisplayMessage(RefusalText(error));
    }
    RescanList(sender);
}

void TkvFrameProgram::RenameApplication(QObject *)
{
    if (TkvProgramNode *node = selectedNode())
        m_tree->editItem(node); // asks ItemEditing
}

void TkvFrameProgram::ItemEditing(QObject *, QTreeWidgetItem *item, bool &allowEdit)
{
    const auto *node = item && item->type() == TkvProgramNode::NodeType ? static_cast<TkvProgramNode *>(item)
                                                                         : nullptr;
    allowEdit = node && node->entry() && !node->entry()->IsHotfix;
    if (!allowEdit)
        return;
    m_labelEditing = true;
    m_popupUninstall->setShortcut(QKeySequence());
    m_popupUninstallQuiet->setShortcut(QKeySequence());
    updateShortcuts();
}

void TkvFrameProgram::ItemEdited(QObject *sender, QTreeWidgetItem *item, QString &text)
{
    const QString current = item->text(0);
    auto *node = item->type() == TkvProgramNode::NodeType ? static_cast<TkvProgramNode *>(item) : nullptr;
    bool renamed = false;
    const TAppItemPtr entry = node ? node->entry() : TAppItemPtr();
    if (!text.isEmpty() && entry) {
        const QString message = ReplaceText(u"%NEW_NAME%"_s, text,
                                            ReplaceText(u"%CURRENT_NAME%"_s, current, this->text(u"ConfirmRename"_s)));
        if (m_host.DisplayConfirmation(message)) {
            try {
                renamed = entry->Rename(text);
            } catch (const Error &error) {
                // Refused: the registry holds the old name, and so does the
                // node. The list is read again once the editor has closed (a
                // rebuild now would pull the node from under it): a second
                // try meets the registry as it is now, never a stale record.
                reportRefusedEdit(error, *entry);
                m_rescanPending = true;
            }
        }
    }
    if (renamed) {
        // The Enter that ended the edit set the filtering flag (it keeps
        // Enter from opening the filter box); with no box open it would keep
        // the panel on the old name and later rebuilds from a rescan.
        Filtering = Filtering && m_panelFilter->isVisible();
        DisplayInformation(sender);
        m_renamedNode = node;
        // The sorted snapshot holds the old name at its old place.
        m_sortedSource.reset();
    } else {
        text = current;
    }
    // Until here the label counts as edited: no rescan while the question
    // is asked pulls the node away.
    m_labelEditing = false;
    ResetRemoveShortcuts(sender);
}

void TkvFrameProgram::updateShortcuts()
{
    // None while the commands are edited; F2 in a label editor is the editor's.
    for (QShortcut *key : std::as_const(m_treeShortcuts))
        key->setEnabled(!CommandsEditing
                        && !(m_labelEditing && key->objectName() == m_popupRename->objectName() + u"Shortcut"_s));
}

void TkvFrameProgram::placeRenamedNode()
{
    m_labelEditing = false;
    updateShortcuts();
    // The keys go back to the list, unless the user took them elsewhere. The
    // window may be inactive still after the question about the name: the
    // tree is then the widget it gives the focus to once active, not the
    // first button of the window (the editor it had is gone).
    const QWidget *focus = QApplication::focusWidget();
    if (!focus || focus->window() != window() || m_tree->isAncestorOf(focus))
        m_tree->setFocus(Qt::OtherFocusReason);
    if (std::exchange(m_rescanPending, false)) {
        m_renamedNode = nullptr;
        RescanList(m_tree);
        return;
    }
    TkvProgramNode *node = std::exchange(m_renamedNode, nullptr);
    if (!node)
        return;
    QTreeWidgetItem *parent = node->parent() ? node->parent() : m_tree->invisibleRootItem();
    const bool current = m_tree->currentItem() == node;
    const bool expanded = node->isExpanded();
    // The node stays the current one throughout: nothing else is selected,
    // shown or acted on meanwhile.
    const QSignalBlocker blocker(m_tree);
    parent->takeChild(parent->indexOfChild(node));
    int low = 0;
    int high = parent->childCount();
    while (low < high) {
        const int middle = (low + high) / 2;
        if (m_order.compare(parent->child(middle)->text(0), node->text(0)) <= 0)
            low = middle + 1;
        else
            high = middle;
    }
    parent->insertChild(low, node);
    node->setExpanded(expanded);
    if (current)
        m_tree->setCurrentItem(node);
    m_tree->scrollToItem(node);
}

void TkvFrameProgram::ResetRemoveShortcuts(QObject *)
{
    TkvProgramNode *node = selectedNode();
    if (!node || !node->entry() || m_labelEditing)
        return;
    // Del uninstalls as the entry allows: normally, or quietly when it has
    // no other command.
    const QKeySequence del(config::ShortcutUninstall.toString());
    if (!node->entry()->UninstallString.isEmpty()) {
        m_popupUninstall->setShortcut(del);
        m_popupUninstallQuiet->setShortcut(QKeySequence(config::ShortcutUninstallQuiet.toString()));
    } else {
        m_popupUninstall->setShortcut(QKeySequence());
        m_popupUninstallQuiet->setShortcut(del);
    }
}

} // namespace kelvane
