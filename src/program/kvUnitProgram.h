#pragma once

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
class QTimer;
class QTreeWidget;

namespace kelvane {

class TIconLoaders;
class TkvFrameHost;
class TkvValueLabel;
class Error;

// How the program list's siblings compare: by name, except while a build puts
// its nodes in, which arrive already sorted and compare by their position.
struct TkvNodeOrder
{
    NameOrder names;
    bool byRank = false;
};

// One node of the program list. It shares the record it shows, so the record
// stays readable for as long as the node exists, whatever inventory replaced
// the one it came from.
class TkvProgramNode : public QTreeWidgetItem
{
public:
    static constexpr int NodeType = QTreeWidgetItem::UserType + 1;

    TkvProgramNode(const QString &text, TAppItemPtr entry, TAppSubItemPtr update, const TkvNodeOrder &order);

    // Application and hotfix nodes.
    const TAppItemPtr &entry() const { return m_entry; }
    // Update nodes.
    const TAppSubItemPtr &update() const { return m_update; }
    // The updates group node has neither.
    bool hasReference() const { return m_entry || m_update; }

    // A detached node shows another record (or a newer copy of its own) at
    // the given place among its siblings.
    void reset(const QString &text, TAppItemPtr entry, TAppSubItemPtr update, int rank);

    // Siblings sort by the list's name order, as the command-line listing does.
    bool operator<(const QTreeWidgetItem &other) const override;

private:
    TAppItemPtr m_entry;
    TAppSubItemPtr m_update;
    const TkvNodeOrder &m_order;
    int m_rank = 0;
};

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
    // Runs the selected entry's modify command, waits for it, then rebuilds.
    void ModifyApplication(QObject *sender);
    // Deletes the selected entry's key (backed up first) after a question,
    // then rebuilds; the application itself is not uninstalled.
    void RemoveEntry(QObject *sender);
    // Del and Shift+Del for the entry last clicked (not for keyboard moves):
    // with a normal uninstall command, Del runs it and Shift+Del the quiet
    // one; without, Del runs the quiet one.
    void ResetRemoveShortcuts(QObject *sender);
    // A refused or failed registry edit in the catalogue's words: what was
    // refused, where, and what to do; the core's own message otherwise.
    QString RefusalText(const Error &error) const;

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
    void createMenu();
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
    TkvNodeOrder m_order;
    // Shared so that a rebuild keeps the inventory it scans alive even when
    // the frame is entered again while the scan lets events through.
    std::shared_ptr<TApplications> m_inventory;
    // The inventory's whole tree, sorted, as its last scan gave it: rebuilds
    // in filter mode only pick nodes from it (filtering keeps the order).
    std::weak_ptr<TApplications> m_sortedSource;
    QList<ProgramTreeNode> m_sortedTree;
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
    // Timers
    QTimer *m_timerProgram = nullptr;
    QTimer *m_timerCheck = nullptr;
    QMetaObject::Connection m_focusWatch;
    // Ended before the picture they draw into goes with the child widgets.
    std::unique_ptr<TIconLoaders> m_iconLoaders;
};

} // namespace kelvane
