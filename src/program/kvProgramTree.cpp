// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvProgramTree.h"

#include "host/kvDisplayText.h"

#include <QLineEdit>
#include <QMouseEvent>

namespace kelvane {

TkvProgramTree::TkvProgramTree(TkvProgramTreeRules rules, QWidget *parent)
    : QTreeWidget(parent)
    , m_rules(std::move(rules))
{
}

void TkvProgramTree::forgetRules()
{
    m_rules.allowChange = [] { return true; };
    m_rules.allowEdit = [](QTreeWidgetItem *) { return false; };
}

void TkvProgramTree::keyboardSearch(const QString &search)
{
    if (m_rules.allowChange())
        QTreeWidget::keyboardSearch(search);
}

QModelIndex TkvProgramTree::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    if (!m_rules.allowChange())
        return currentIndex();
    return QTreeWidget::moveCursor(cursorAction, modifiers);
}

QItemSelectionModel::SelectionFlags TkvProgramTree::selectionCommand(const QModelIndex &index,
                                                                     const QEvent *event) const
{
    if (!index.isValid() || !m_rules.allowChange())
        return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = QTreeWidget::selectionCommand(index, event);
    // Ctrl+click and Ctrl+Space would unselect the current row, which the
    // actions would still use.
    if (command.testAnyFlags(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    return command;
}

void TkvProgramTree::mousePressEvent(QMouseEvent *event)
{
    // A press moves the current node even without selecting it; clicks on
    // empty space keep the selection, as a tree view does.
    if (!m_rules.allowChange() && indexAt(event->position().toPoint()) != currentIndex()) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void TkvProgramTree::mouseMoveEvent(QMouseEvent *event)
{
    // Dragging with the button held moves the current node as it goes.
    if (!m_rules.allowChange()) {
        event->accept();
        return;
    }
    QTreeWidget::mouseMoveEvent(event);
}

bool TkvProgramTree::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    // editItem() asks with all triggers; the tree has no others.
    if (trigger == AllEditTriggers && !m_rules.allowEdit(itemFromIndex(index)))
        return false;
    return QTreeWidget::edit(index, trigger, event);
}

TkvNodeDelegate::TkvNodeDelegate(QTreeWidget &tree, Edited edited)
    : QStyledItemDelegate(&tree)
    , m_tree(tree)
    , m_edited(std::move(edited))
{
}

QString TkvNodeDelegate::displayText(const QVariant &value, const QLocale &locale) const
{
    return SingleLine(QStyledItemDelegate::displayText(value, locale));
}

void TkvNodeDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    const auto *line = qobject_cast<QLineEdit *>(editor);
    QTreeWidgetItem *node = m_tree.itemFromIndex(index);
    if (!line || !node || !m_edited)
        return;
    QString text = line->text();
    m_edited(node, text);
    model->setData(index, text, Qt::EditRole);
}

} // namespace kelvane
