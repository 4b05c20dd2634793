// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kvProgramNode.h"
#include "inventory/kvApplication.h"
#include "inventory/NameOrder.h"
#include "inventory/ProgramTree.h"

#include <QFrame>
#include <QIcon>
#include <QPoint>
#include <QString>
#include <QTreeWidgetItem>

#include <memory>

class QAction;
class QGroupBox;
class QKeyEvent;
class QKeySequence;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QShortcut;
class QTimer;
class QTreeWidget;

namespace kelvane {

class TIconLoaders;
class TkvFrameHost;
class TkvValueLabel;
class Error;

// The program list: the sorted tree of applications and updates, the
// information panel, the action buttons and the tree's menu.
class TkvFrameProgram : public QFrame
{
    Q_OBJECT
public:
    explicit TkvFrameProgram(TkvFrameHost &host, QWidget *parent = nullptr);
    ~TkvFrameProgram() override;

    // Rebuilds the tree, rescanning the registry unless the filter is open,
    // and keeps the selection by key path or position.
    void GenerateList(QObject *sender);
    // Menu item visibility and button states for `node`.
    void UpdateStates(QObject *sender, QTreeWidgetItem *node);
    // The counts of the last build into the first status panel.
    void DisplayStatusCount(QObject *sender);
    // The keyboard focus came into the frame from outside it.
    void EnterForm(QObject *sender);
    // The tree's current node changed.
    void SelectItem(QObject *sender, QTreeWidgetItem *node);
    // Whether the tree's current node may change (not while the commands
    // are being edited).
    bool PreventChange(QObject *sender, QTreeWidgetItem *node) const;
    // Right click on the tree: selects the designated node (unless the
    // commands are being edited) and shows the menu.
    void ContextPopup(QObject *sender, const QPoint &pos);
    // Key-down in the tree or its label editor: Enter and Ctrl keep the
    // filter box closed.
    void PreventStartFilteringEvents(QObject *sender, int key, Qt::KeyboardModifiers modifiers);

    // Runs the selected entry's uninstall command (the quiet one when the
    // sender is PopupProgramUninstallQuiet, or when it has no other, after a
    // question), or an update's; waits for it, then rebuilds the list.
    void UninstallApplication(QObject *sender);
    // GenerateList with a rescan even while Filtering is set: after an
    // action changed the registry, the records in memory are out of date.
    void RescanList(QObject *sender);
    // Runs the selected entry's modify command, waits for it, then rebuilds.
    void ModifyApplication(QObject *sender);
    // Deletes the selected entry's key (backed up first) after a question,
    // then rebuilds; the application itself is not uninstalled.
    void RemoveEntry(QObject *sender);
    // Del and Shift+Del for the entry last clicked (not for keyboard moves):
    // with a normal uninstall command, Del runs it and Shift+Del the quiet
    // one; without, Del runs the quiet one.
    void ResetRemoveShortcuts(QObject *sender);
    // F2: opens the selected node's label editor, as ItemEditing allows.
    void RenameApplication(QObject *sender);
    // Only an application's name can be edited; while it is, Del and
    // Shift+Del belong to the editor.
    void ItemEditing(QObject *sender, QTreeWidgetItem *node, bool &allowEdit);
    // The label edited to `text`: asks, renames the entry (backed up first)
    // and leaves in `text` what the node shows: the new name, or its old
    // text when the name is empty, not confirmed or refused.
    void ItemEdited(QObject *sender, QTreeWidgetItem *node, QString &text);

    // Opens the commands editor for the selected entry (any sender but the
    // editor's buttons) or closes it: OK stores both commands, backed up
    // first; a refusal is said and the editor stays open with what was typed.
    void EditCommands(QObject *sender);
    // Fills the command edits from the entry: both, or only the edit that
    // is the sender.
    void GetCommands(QObject *sender);
    // OK is possible with at least one command.
    void CheckCommands(QObject *sender);
    // Escape in a command edit restores its stored command. True when consumed.
    bool ResetCommands(QObject *sender, int key);

    // A refused or failed registry edit in the catalogue's words: what was
    // refused, where, and what to do; the core's own message otherwise.
    // `entryName` names the entry an EntryGone refusal is about.
    QString RefusalText(const Error &error, const QString &entryName = QString()) const;

    // A character typed in the tree: opens the filter box with the filter
    // text changed by it (Backspace and Escape only edit a text there is).
    // True when the key is the filter's and goes no further.
    bool StartFiltering(QObject *sender, const QKeyEvent &key);
    // A key released in the filter box: rebuilds the list from memory and
    // arms the box's closing while nodes are left.
    void MakeFilter(QObject *sender);
    // A key pressed in the filter box: Enter (with nodes) and Escape (on an
    // empty text) close it, Escape empties the text. True when consumed.
    bool PreventMakeFilterEvents(QObject *sender, int key);
    // Closes the filter box; the list stays filtered by its text.
    void EndFiltering(QObject *sender);

    // The information panel for the selected node.
    void DisplayInformation(QObject *sender);
    void GotoPublisher();
    void GotoInformation();
    // Opens the selected entry's install folder.
    void BrowseLocation(QObject *sender);
    // The message explaining the partly-compatible system image.
    void CompatibilityAlert(QObject *sender);

    // Tick of TimerCheck: rebuild when the number of Uninstall subkeys changed.
    void CheckChanges(QObject *sender);
    // Writes the tree into a text file the user names.
    void ExportApplicationList(QObject *sender);

    // The export file's default name for a given local time.
    static QString ExportFileName(const QDateTime &when);
    // The user's choice with the export extension added when it holds no dot.
    static QString ExportPathFor(const QString &chosen);
    // The export file's bytes: UTF-16LE with byte-order mark, a tab per
    // level, CR LF after every line.
    static QByteArray ExportBytes(const QTreeWidget &tree);

    QTreeWidget *tree() const { return m_tree; }
    const TApplications *inventory() const { return m_inventory.get(); }
    // The counts the status bar shows (the status text is set from them as the list is built).
    int ListItemCount() const { return m_listItemCount; }
    int ListUpdateCount() const { return m_listUpdateCount; }
    const QString &LastSelectedKey() const { return m_lastSelectedKey; }
    int LastSelectedIndex() const { return m_lastSelectedIndex; }

    // The node's pre-order position over all nodes, collapsed or not; -1 for none.
    int absoluteIndex(const QTreeWidgetItem *node) const;
    QTreeWidgetItem *nodeAtAbsoluteIndex(int index) const;
    int nodeCount() const;

    // The frame state.
    bool CommandsEditing = false;
    bool Filtering = false;
    bool Generating = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void createLayout();
    QWidget *createCommandsPanel();
    void createMenu();
    // After a refused edit of `entry`: the store takes the file as it is now
    // and the user is told why; true when the entry is gone from it (another
    // program removed it), which is then what the words say.
    bool reportRefusedEdit(const Error &error, const TAppItem &entry);
    // The tree's keys for the menu items, as the editors allow.
    void updateShortcuts();
    // The commands editor's caption names the entry edited.
    void captionCommands();
    // Moves the node last renamed to its sorted place among its siblings.
    void placeRenamedNode();
    QWidget *createInfoPanel(QWidget *parent);
    TkvValueLabel *addInfoRow(QWidget *panel, const QString &captionName, const QString &valueName, int y,
                              int valueWidth);
    void startIconLoader(const TAppItemPtr &entry);
    // The filter's share of the key events of the tree and the filter box.
    bool filterKeyEvent(QObject *watched, QEvent *event);
    // Runs a command line and waits for it with the window disabled; the code of its start.
    quint32 runAndWait(const QString &command);
    void focusChanged(QWidget *old, QWidget *now);
    void addMenuItem(QAction *&action, const QString &name, const QKeySequence &shortcut, const QString &picture);
    void rebuildTree(const std::shared_ptr<TApplications> &inventory);
    TkvProgramNode *selectedNode() const;
    QString text(const QString &key) const;

    TkvFrameHost &m_host;
    NameOrder m_order;
    // Shared so that a rebuild keeps the inventory it scans alive even when
    // the frame is entered again while the scan lets events through.
    std::shared_ptr<TApplications> m_inventory;
    // The inventory's whole tree, sorted, as its last scan gave it (or its
    // last rename left it), and a node for each of its nodes: rebuilds in
    // filter mode only pick nodes from it (filtering keeps the order).
    std::weak_ptr<TApplications> m_sortedSource;
    // The inventory last read from the registry.
    std::weak_ptr<TApplications> m_scannedInventory;
    bool m_sortedWithUpdates = false;
    QList<ProgramTreeNode> m_sortedTree;
    std::unique_ptr<TkvProgramNodes> m_nodes;
    int m_listItemCount = 0;
    int m_listUpdateCount = 0;
    QString m_lastSelectedKey;
    int m_lastSelectedIndex = 0;
    bool m_focusInside = false;

    // Title
    QFrame *m_panelTitle = nullptr;
    QLabel *m_labelTitle = nullptr;
    QLabel *m_imageCompatibility = nullptr;
    // Tree and filter box
    QTreeWidget *m_tree = nullptr;
    QFrame *m_panelFilter = nullptr;
    QLineEdit *m_editFilter = nullptr;
    // Buttons and information panel
    QFrame *m_panelMain = nullptr;
    QPushButton *m_buttonUninstall = nullptr;
    QPushButton *m_buttonModify = nullptr;
    QPushButton *m_buttonBrowse = nullptr;
    QFrame *m_panelInfo = nullptr;
    QLabel *m_imageIcon = nullptr;
    TkvValueLabel *m_labelName = nullptr;
    TkvValueLabel *m_labelVersion = nullptr;
    TkvValueLabel *m_labelPublisherValue = nullptr;
    TkvValueLabel *m_labelSizeValue = nullptr;
    TkvValueLabel *m_labelLocationValue = nullptr;
    TkvValueLabel *m_labelKeyValue = nullptr;
    QFrame *m_panelUpdateInfo = nullptr;
    TkvValueLabel *m_labelUpdateNameValue = nullptr;
    TkvValueLabel *m_labelUpdateInstallValue = nullptr;
    TkvValueLabel *m_labelUpdateLinkValue = nullptr;
    QLabel *m_labelUpdateUninstallable = nullptr;
    QLabel *m_panelNoInfo = nullptr;
    // Commands editor
    QFrame *m_panelCommands = nullptr;
    QGroupBox *m_groupCommands = nullptr;
    QPushButton *m_buttonCommandsOk = nullptr;
    QPushButton *m_buttonCommandsCancel = nullptr;
    QLineEdit *m_editCommandsUninstall = nullptr;
    QLineEdit *m_editCommandsUninstallQuiet = nullptr;
    // The entry whose commands are edited: the one the caption names.
    TAppItemPtr m_commandsEntry;
    bool m_rescanRequested = false;
    // An edit was refused while the registry changed under it: the list is
    // read again once the editor that made it has closed.
    bool m_rescanPending = false;
    // A label editor is open.
    bool m_labelEditing = false;
    // Renamed, to be moved once its editor has closed.
    TkvProgramNode *m_renamedNode = nullptr;
    // Menu
    QMenu *m_popup = nullptr;
    QAction *m_popupRefresh = nullptr;
    QAction *m_popupExport = nullptr;
    QAction *m_popupUninstall = nullptr;
    QAction *m_popupUninstallQuiet = nullptr;
    QAction *m_popupModify = nullptr;
    QAction *m_popupRemove = nullptr;
    QAction *m_popupRename = nullptr;
    QAction *m_popupBrowse = nullptr;
    QAction *m_popupEditCommands = nullptr;
    // The keys of the menu items, on the tree.
    QList<QShortcut *> m_treeShortcuts;
    // Timers
    QTimer *m_timerProgram = nullptr;
    QTimer *m_timerCheck = nullptr;
    QMetaObject::Connection m_focusWatch;
    // Ended before the picture they draw into goes with the child widgets.
    std::unique_ptr<TIconLoaders> m_iconLoaders;
};

} // namespace kelvane
