// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's type-ahead filter: typing in the tree opens a box over
// it that narrows the list keystroke by keystroke, from the records already
// read; a second after the last key release the box closes by itself.

#include "kvUnitProgram.h"

#include "config/kvConfig.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

namespace kelvane {

namespace {

void expandWithDescendants(QTreeWidgetItem *node)
{
    node->setExpanded(true);
    for (int i = 0; i < node->childCount(); ++i)
        expandWithDescendants(node->child(i));
}

} // namespace

bool TkvFrameProgram::StartFiltering(QObject *, const QKeyEvent &key)
{
    // The list stands still while the commands are edited; nor may the
    // tree's own keyboard search move the current node.
    if (CommandsEditing)
        return true;
    // A node's label editor is the tree's child and has the focus while open.
    const QWidget *focus = QApplication::focusWidget();
    const bool labelEdited = focus && focus != m_tree && m_tree->isAncestorOf(focus);
    const bool backspace = key.key() == Qt::Key_Backspace;
    const bool escape = key.key() == Qt::Key_Escape;
    QString filter = m_editFilter->text();
    if (!Filtering && !labelEdited && ((!backspace && !escape) || !filter.isEmpty())) {
        Filtering = true;
        // Centred over the tree, truncating as the layout was designed.
        const QRect tree = m_tree->geometry();
        m_panelFilter->move(tree.left() + (tree.width() - m_panelFilter->width()) / 2,
                            tree.top() + (tree.height() - m_panelFilter->height()) / 2);
        m_panelFilter->raise();
        m_panelFilter->show();
        if (backspace)
            filter.chop(1);
        else if (escape)
            filter.clear();
        else
            filter += key.text();
        m_editFilter->setText(filter);
        m_editFilter->setFocus(Qt::OtherFocusReason);
        m_editFilter->end(false);
    }
    // The key is the filter's, whether or not it opened the box; Backspace
    // goes on to the tree as well.
    return !labelEdited && !backspace;
}

void TkvFrameProgram::MakeFilter(QObject *sender)
{
    m_timerProgram->stop();
    GenerateList(sender);
    if (m_tree->topLevelItemCount() > 0)
        m_timerProgram->start();
}

bool TkvFrameProgram::PreventMakeFilterEvents(QObject *sender, int key)
{
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (!enter && key != Qt::Key_Escape)
        return false; // edits the text
    if ((enter && m_tree->topLevelItemCount() > 0) || (key == Qt::Key_Escape && m_editFilter->text().isEmpty()))
        EndFiltering(sender);
    else if (key == Qt::Key_Escape)
        m_editFilter->clear(); // the key's release shows the whole list again
    return true;
}

void TkvFrameProgram::EndFiltering(QObject *)
{
    if (!Filtering)
        return;
    Filtering = false;
    // Only the box gives the focus back: an Enter or Ctrl key that set the
    // flag in a label editor leaves the focus where the user is typing.
    const bool boxShown = m_panelFilter->isVisible();
    m_panelFilter->hide();
    if (boxShown && m_tree->isEnabled() && m_tree->isVisible())
        m_tree->setFocus(Qt::OtherFocusReason);
    if (QTreeWidgetItem *node = m_tree->currentItem())
        expandWithDescendants(node);
    m_timerProgram->setInterval(config::RefreshInterval);
}

bool TkvFrameProgram::filterKeyEvent(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    const auto &key = static_cast<const QKeyEvent &>(*event);
    if (watched == m_editFilter) {
        if (type == QEvent::KeyPress)
            return PreventMakeFilterEvents(m_editFilter, key.key());
        MakeFilter(m_editFilter);
        return false;
    }
    // A character typed in the tree (Tab moves the focus and Del carries a
    // control character: they type nothing).
    if (watched == m_tree && type == QEvent::KeyPress && !key.text().isEmpty() && key.key() != Qt::Key_Tab
        && key.key() != Qt::Key_Backtab && key.key() != Qt::Key_Delete)
        return StartFiltering(m_tree, key);
    return false;
}

} // namespace kelvane
