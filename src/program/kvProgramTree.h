// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <functional>

namespace kelvane {

// What the program list decides for its tree.
struct TkvProgramTreeRules
{
    // Whether the current node may move (not while the commands are edited).
    std::function<bool()> allowChange;
    // Whether a node's label may be edited (a rename starts).
    std::function<bool(QTreeWidgetItem *)> allowEdit;
};

// The program tree: its current node moves only as the rules allow, by any
// path (keys, clicks, keyboard search), and the highlighted row is always the
// current node: a click never unselects it.
class TkvProgramTree : public QTreeWidget
{
public:
    TkvProgramTree(TkvProgramTreeRules rules, QWidget *parent);
    // From now on the current node moves freely and no label is edited:
    // whoever made the rules is going.
    void forgetRules();

    void keyboardSearch(const QString &search) override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;

private:
    TkvProgramTreeRules m_rules;
};

// Node texts are registry names: each shows on its one row, a line break or
// other control character as a space. A label edited is handed to `edited`,
// which may change the text the node takes.
class TkvNodeDelegate : public QStyledItemDelegate
{
public:
    using Edited = std::function<void(QTreeWidgetItem *node, QString &text)>;

    TkvNodeDelegate(QTreeWidget &tree, Edited edited);
    // An editor closed from now on stores nothing: whoever took the names is going.
    void forgetEdits() { m_edited = nullptr; }

    QString displayText(const QVariant &value, const QLocale &locale) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

private:
    QTreeWidget &m_tree;
    Edited m_edited;
};

} // namespace kelvane
