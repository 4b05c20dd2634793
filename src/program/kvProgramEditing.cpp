// The program list's edits of an entry in the registry: removing it, and the
// shortcuts that follow the entry last clicked.

#include "kvUnitProgram.h"

#include "gui/kvFrameHost.h"
#include "platform/Error.h"
#include "settings/kvConfig.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

void TkvFrameProgram::RemoveEntry(QObject *sender)
{
    TkvProgramNode *node = selectedNode();
    if (!node || !node->entry() || !m_host.DisplayConfirmation(text(u"ConfirmRemoveEntry"_s)))
        return;
    try {
        node->entry()->DeleteEntry();
    } catch (const Error &error) {
        // Refused: nothing was deleted, and the list shows it still.
        m_host.DisplayMessage(RefusalText(error));
    }
    GenerateList(sender);
}

void TkvFrameProgram::ResetRemoveShortcuts(QObject *)
{
    TkvProgramNode *node = selectedNode();
    // A node's label editor is the tree's child and has the focus while open.
    const QWidget *focus = QApplication::focusWidget();
    if (!node || !node->entry() || (focus && focus != m_tree && m_tree->isAncestorOf(focus)))
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
