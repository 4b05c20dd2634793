// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvUnitProgram.h"

#include "kvIcon.h"
#include "kvIconLoaders.h"
#include "kvProgramLayout.h"
#include "kvProgramTree.h"
#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "gui/kvCommonGui.h"
#include "gui/kvFrameHost.h"
#include "gui/kvValueLabel.h"
#include "host/Error.h"
#include "host/kvDisplayText.h"
#include "inventory/ProgramTree.h"
#include "language/kvLanguage.h"
#include "settings/kvSettings.h"
#include "target/kvSystemSupport.h"
#include "target/Target.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>


#include <functional>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

using namespace programlayout;

namespace {

// Sizes at 96 dpi.
constexpr int TitleHeight = 28;
constexpr int TreeHeight = 184;
constexpr int TreeIndent = 19;
constexpr int ChangeCheckInterval = 2000;

} // namespace

TkvFrameProgram::TkvFrameProgram(TkvFrameHost &host, QWidget *parent)
    : QFrame(parent)
    , m_host(host)
    , m_inventory(std::make_unique<TApplications>(host.target().registry()))
    , m_iconLoaders(std::make_unique<TIconLoaders>())
{
    setObjectName(u"kvFrameProgram"_s);
    setFocusPolicy(Qt::StrongFocus);
    createLayout();
    createMenu();
    m_nodes = std::make_unique<TkvProgramNodes>(*m_tree);

    m_timerProgram = new QTimer(this);
    m_timerProgram->setObjectName(u"TimerProgram"_s);
    m_timerProgram->setInterval(config::RefreshInterval);
    m_timerCheck = new QTimer(this);
    m_timerCheck->setObjectName(u"TimerCheck"_s);
    m_timerCheck->setInterval(ChangeCheckInterval);
    connect(m_timerCheck, &QTimer::timeout, this, [this] { CheckChanges(m_timerCheck); });
    connect(m_timerProgram, &QTimer::timeout, this, [this] { EndFiltering(m_timerProgram); });
    m_timerCheck->start();

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { SelectItem(m_tree, current); });
    connect(m_tree, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { ContextPopup(m_tree, pos); });
    m_tree->installEventFilter(this);
    m_tree->viewport()->installEventFilter(this);
    m_imageCompatibility->installEventFilter(this);
    m_labelPublisherValue->installEventFilter(this);
    m_labelUpdateLinkValue->installEventFilter(this);
    connect(m_buttonBrowse, &QPushButton::clicked, this, [this] { BrowseLocation(m_buttonBrowse); });
    connect(m_buttonUninstall, &QPushButton::clicked, this, [this] { UninstallApplication(m_buttonUninstall); });
    connect(m_buttonModify, &QPushButton::clicked, this, [this] { ModifyApplication(m_buttonModify); });
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, &TkvFrameProgram::focusChanged);
}

TkvFrameProgram::~TkvFrameProgram()
{
    // Closing the window and destroying the children, after this part of the
    // frame is gone, move the focus: a label editor open then would commit.
    disconnect(m_focusWatch);
    static_cast<TkvProgramTree *>(m_tree)->forgetRules();
    static_cast<TkvNodeDelegate *>(m_tree->itemDelegate())->forgetEdits();
    disconnect(m_tree->itemDelegate(), nullptr, this, nullptr);
}

void TkvFrameProgram::startIconLoader(const TAppItemPtr &entry)
{
    // Self-freeing; a newer loader for the picture makes this one's result stale.
    m_iconLoaders->start(entry, m_host.target(), m_imageIcon, true);
}

void TkvFrameProgram::createLayout()
{
    auto *frameLayout = new QVBoxLayout(this);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->setSpacing(0);

    // Title bar
    m_panelTitle = new QFrame(this);
    m_panelTitle->setObjectName(u"PanelProgramTitle"_s);
    m_panelTitle->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panelTitle->setFixedHeight(TitleHeight);
    {
        QPalette palette = m_panelTitle->palette();
        palette.setColor(QPalette::Window, palette.color(QPalette::Active, QPalette::Highlight));
        palette.setColor(QPalette::WindowText, palette.color(QPalette::Active, QPalette::HighlightedText));
        m_panelTitle->setPalette(palette);
        m_panelTitle->setAutoFillBackground(true);
    }
    auto *titleLayout = new QHBoxLayout(m_panelTitle);
    titleLayout->setContentsMargins(Margin, 0, 6, 0);
    m_labelTitle = newLabel(u"LabelProgramTitle"_s, m_panelTitle);
    {
        QFont font = m_labelTitle->font();
        font.setPixelSize(15);
        font.setBold(true);
        m_labelTitle->setFont(font);
    }
    m_imageCompatibility = newLabel(u"ImageCompatibility"_s, m_panelTitle);
    m_imageCompatibility->setFixedSize(16, 16);
    m_imageCompatibility->setCursor(Qt::WhatsThisCursor);
    m_imageCompatibility->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16, 16));
    m_imageCompatibility->hide();
    titleLayout->addWidget(m_labelTitle, 1);
    titleLayout->addWidget(m_imageCompatibility);
    frameLayout->addWidget(m_panelTitle);
    frameLayout->addSpacing(Margin);

    // Tree
    TkvProgramTreeRules rules;
    rules.allowChange = [this] { return PreventChange(m_tree, m_tree->currentItem()); };
    rules.allowEdit = [this](QTreeWidgetItem *node) {
        bool allowEdit = false;
        ItemEditing(m_tree, node, allowEdit);
        return allowEdit;
    };
    m_tree = new TkvProgramTree(std::move(rules), this);
    m_tree->setObjectName(u"TreeviewProgram"_s);
    auto *delegate = new TkvNodeDelegate(*m_tree, [this](QTreeWidgetItem *node, QString &text) {
        ItemEdited(m_tree, node, text);
    });
    m_tree->setItemDelegate(delegate);
    // After the view has closed the editor: a renamed node moves only then.
    connect(delegate, &QAbstractItemDelegate::closeEditor, this, [this] { placeRenamedNode(); });
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setIndentation(TreeIndent);
    m_tree->setRootIsDecorated(true);
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tree->setAllColumnsShowFocus(true);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setFixedHeight(TreeHeight);
    // Builds put the nodes in sorted; a rename moves its node itself.
    m_tree->setSortingEnabled(false);
    {
        // The selection stays highlighted while another control has the focus.
        QPalette palette = m_tree->palette();
        for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
            palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
        m_tree->setPalette(palette);
    }
    auto *treeRow = new QHBoxLayout;
    treeRow->setContentsMargins(Margin, 0, Margin, 0);
    treeRow->addWidget(m_tree);
    frameLayout->addLayout(treeRow);

    // Filter box, floating over the tree
    m_panelFilter = new QFrame(this);
    m_panelFilter->setObjectName(u"PanelProgramFilter"_s);
    m_panelFilter->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_panelFilter->setAutoFillBackground(true);
    m_panelFilter->setFixedSize(200, 32);
    auto *filterLayout = new QVBoxLayout(m_panelFilter);
    filterLayout->setContentsMargins(4, 4, 4, 4);
    m_editFilter = new QLineEdit(m_panelFilter);
    m_editFilter->setObjectName(u"EditProgramFilter"_s);
    m_editFilter->setFocusPolicy(Qt::ClickFocus);
    filterLayout->addWidget(m_editFilter);
    m_panelFilter->hide();
    m_editFilter->installEventFilter(this);

    // Buttons and information panel
    const ButtonPanel main = newButtonPanel(u"PanelProgramMain"_s, u"PanelProgramMainButtons"_s, this);
    m_panelMain = main.panel;
    QWidget *buttons = main.buttons;
    QVBoxLayout *buttonLayout = main.buttonLayout;
    m_buttonUninstall = newButton(u"ButtonProgramUninstall"_s, buttons);
    m_buttonModify = newButton(u"ButtonProgramModify"_s, buttons);
    m_buttonBrowse = newButton(u"ButtonProgramBrowse"_s, buttons);
    for (QPushButton *button : {m_buttonUninstall, m_buttonModify, m_buttonBrowse}) {
        button->setEnabled(false);
        button->installEventFilter(this);
        buttonLayout->addWidget(button);
    }
    buttonLayout->addStretch(1);
    main.layout->addWidget(createInfoPanel(m_panelMain), 1);
    frameLayout->addWidget(m_panelMain, 1);

    // Commands editor, in the place of the main panel
    frameLayout->addWidget(createCommandsPanel(), 1);
    m_panelCommands->hide();
}

void TkvFrameProgram::createMenu()
{
    InitIconResources();
    m_popup = new QMenu(this);
    m_popup->setObjectName(u"PopupTreeviewProgram"_s);
    addMenuItem(m_popupRefresh, u"PopupProgramRefresh"_s, QKeySequence(Qt::Key_F5), u"refresh"_s);
    addMenuItem(m_popupExport, u"PopupProgramExport"_s, QKeySequence(Qt::CTRL | Qt::Key_S), u"export"_s);
    m_popup->addSeparator();
    addMenuItem(m_popupUninstall, u"PopupProgramUninstall"_s, QKeySequence(config::ShortcutUninstall.toString()),
                u"uninstall"_s);
    addMenuItem(m_popupUninstallQuiet, u"PopupProgramUninstallQuiet"_s,
                QKeySequence(config::ShortcutUninstallQuiet.toString()), u"uninstall-quiet"_s);
    addMenuItem(m_popupModify, u"PopupProgramModify"_s, QKeySequence(), u"modify"_s);
    addMenuItem(m_popupRemove, u"PopupProgramRemove"_s, QKeySequence(), u"remove"_s);
    addMenuItem(m_popupRename, u"PopupProgramRename"_s, QKeySequence(Qt::Key_F2), u"rename"_s);
    addMenuItem(m_popupBrowse, u"PopupProgramBrowse"_s, QKeySequence(), u"browse"_s);
    m_popup->addSeparator();
    addMenuItem(m_popupEditCommands, u"PopupProgramEditCommands"_s, QKeySequence(), u"edit-commands"_s);

    connect(m_popupRefresh, &QAction::triggered, this, [this] { GenerateList(m_popupRefresh); });
    connect(m_popupExport, &QAction::triggered, this, [this] { ExportApplicationList(m_popupExport); });
    connect(m_popupBrowse, &QAction::triggered, this, [this] { BrowseLocation(m_popupBrowse); });
    for (QAction *action : {m_popupUninstall, m_popupUninstallQuiet})
        connect(action, &QAction::triggered, this, [this, action] { UninstallApplication(action); });
    connect(m_popupModify, &QAction::triggered, this, [this] { ModifyApplication(m_popupModify); });
    connect(m_popupRemove, &QAction::triggered, this, [this] { RemoveEntry(m_popupRemove); });
    connect(m_popupRename, &QAction::triggered, this, [this] { RenameApplication(m_popupRename); });
    connect(m_popupEditCommands, &QAction::triggered, this, [this] { EditCommands(m_popupEditCommands); });
}

void TkvFrameProgram::addMenuItem(QAction *&action, const QString &name, const QKeySequence &shortcut,
                                  const QString &picture)
{
    action = new QAction(QIcon(u":/icons/popup-"_s + picture + u".png"_s), QString(), m_popup);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    // The menu shows the key; the tree's shortcut below does the work.
    action->setShortcutContext(Qt::WidgetShortcut);
    m_popup->addAction(action);

    // A shortcut on the tree acts while the tree or its label editor has the
    // focus, and also for a hidden menu item (a hidden QAction ignores its
    // keys). It follows the item's shortcut when that is reassigned.
    auto *key = new QShortcut(m_tree);
    key->setObjectName(name + u"Shortcut"_s);
    key->setContext(Qt::WidgetWithChildrenShortcut);
    m_treeShortcuts.append(key);
    key->setKey(shortcut);
    connect(key, &QShortcut::activated, action, &QAction::trigger);
    connect(action, &QAction::changed, key, [key, action] {
        if (key->key() != action->shortcut())
            key->setKey(action->shortcut());
    });
}

QString TkvFrameProgram::text(const QString &key) const
{
    return m_host.lang().Strings.value(key);
}

TkvProgramNode *TkvFrameProgram::selectedNode() const
{
    QTreeWidgetItem *current = m_tree->currentItem();
    if (!current || current->type() != TkvProgramNode::NodeType)
        return nullptr;
    return static_cast<TkvProgramNode *>(current);
}

void TkvFrameProgram::UpdateStates(QObject *, QTreeWidgetItem *node)
{
    const auto *programNode = node && node->type() == TkvProgramNode::NodeType ? static_cast<TkvProgramNode *>(node)
                                                                                 : nullptr;
    const TAppItem *entry = programNode ? programNode->entry().get() : nullptr;
    const TAppSubItem *update = programNode ? programNode->update().get() : nullptr;

    m_popupBrowse->setVisible(entry && !entry->InstallLocation.isEmpty());
    m_popupEditCommands->setVisible(m_host.settings().AllowEdition && entry);
    m_popupModify->setVisible(entry && !entry->ModifyPath.isEmpty());
    m_popupRemove->setVisible(entry != nullptr);
    m_popupRename->setVisible(entry && !entry->IsHotfix);
    m_popupUninstall->setVisible((entry && !entry->UninstallString.isEmpty())
                                 || (update && update->Uninstallable && !update->UninstallCommand.isEmpty()));
    m_popupUninstallQuiet->setVisible(entry && !entry->QuietUninstallString.isEmpty());

    m_buttonBrowse->setEnabled(m_popupBrowse->isVisible());
    m_buttonModify->setEnabled(m_popupModify->isVisible());
    m_buttonUninstall->setEnabled(m_popupUninstall->isVisible() || m_popupUninstallQuiet->isVisible());
}

void TkvFrameProgram::DisplayStatusCount(QObject *)
{
    QString status = ReplaceText(u"%ITEM_COUNT%"_s, QString::number(m_listItemCount), text(u"StatusProgramCount"_s));
    if (m_host.settings().ShowUpdates)
        status += ReplaceText(u"%UPDATE_COUNT%"_s, QString::number(m_listUpdateCount), text(u"StatusUpdateCount"_s));
    m_host.setStatusText(status);
}

void TkvFrameProgram::EnterForm(QObject *sender)
{
    m_host.lang().ApplyToFrame(this);
    if (!CommandsEditing) {
        // A rebuild already running keeps its inventory and ignores this call.
        if (!Generating)
            m_inventory = std::make_shared<TApplications>(m_host.target().registry());
        GenerateList(sender);
    } else {
        // The tree takes the focus, unless the user came back straight into
        // a command edit.
        if (selectedNode() && !m_panelCommands->isAncestorOf(QApplication::focusWidget()))
            m_tree->setFocus(Qt::OtherFocusReason);
        captionCommands();
    }
    m_timerProgram->setInterval(config::RefreshInterval);
    if (m_host.systemSupport().Compatibility() == ocPartial)
        m_imageCompatibility->show();
}

void TkvFrameProgram::SelectItem(QObject *sender, QTreeWidgetItem *node)
{
    DisplayInformation(sender);
    if (!Generating && node)
        UpdateStates(sender, node);
}

bool TkvFrameProgram::PreventChange(QObject *, QTreeWidgetItem *) const
{
    return !CommandsEditing;
}

void TkvFrameProgram::ContextPopup(QObject *, const QPoint &pos)
{
    if (CommandsEditing)
        return; // the tree has no menu while the commands are edited
    if (QTreeWidgetItem *node = m_tree->itemAt(pos))
        m_tree->setCurrentItem(node);
    ResetRemoveShortcuts(m_tree);
    m_popup->popup(m_tree->viewport()->mapToGlobal(pos));
}

void TkvFrameProgram::PreventStartFilteringEvents(QObject *, int key, Qt::KeyboardModifiers modifiers)
{
    Filtering = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Control
                || modifiers.testFlag(Qt::ControlModifier);
}

void TkvFrameProgram::CheckChanges(QObject *sender)
{
    // A rebuild letting events through is reading the store: reloading it
    // now would pull the keys from under the scan. The next tick looks again.
    if (!hasFocus() || Generating || CommandsEditing || m_labelEditing)
        return;
    try {
        RegistryStore &store = *m_host.target().registry();
        if (store.changedOnDisk())
            store.reload();
        const std::optional<qint32> count = CountUninstallSubkeys(store);
        if (!count || *count == m_inventory->KeyCount)
            return;
    } catch (const Error &) {
        return; // an unreadable registry is looked at again at the next tick
    }
    GenerateList(sender);
}

void TkvFrameProgram::focusChanged(QWidget *, QWidget *now)
{
    // Only moves inside this frame's window count: a dialog coming and
    // going, or another application, leaves the frame as it was.
    if (!now || now->window() != window())
        return;
    const bool inside = now == this || isAncestorOf(now);
    // The tree's label editor reports its keys like the tree does.
    if (inside && now != m_tree && m_tree->isAncestorOf(now))
        now->installEventFilter(this);
    const bool entered = inside && !m_focusInside;
    m_focusInside = inside;
    if (entered)
        EnterForm(this);
}

bool TkvFrameProgram::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == m_tree) {
        if (type == QEvent::Enter)
            DisplayStatusCount(m_tree);
        else if (type == QEvent::Leave)
            m_host.ResetStatusHint(m_tree);
    }
    if (type == QEvent::KeyPress && (watched == m_tree || m_tree->isAncestorOf(qobject_cast<QWidget *>(watched)))) {
        const auto *key = static_cast<QKeyEvent *>(event);
        PreventStartFilteringEvents(watched, key->key(), key->modifiers());
    }
    if (filterKeyEvent(watched, event))
        return true;
    if (watched == m_tree->viewport() && type == QEvent::MouseButtonRelease)
        ResetRemoveShortcuts(m_tree);
    if (auto *button = qobject_cast<QPushButton *>(watched)) {
        if (type == QEvent::Enter)
            m_host.DisplayStatusHint(button);
        else if (type == QEvent::Leave)
            m_host.ResetStatusHint(button);
    }
    if (watched == m_labelPublisherValue || watched == m_labelUpdateLinkValue) {
        auto *label = static_cast<QLabel *>(watched);
        if (HasLinkStyle(label)) {
            if (type == QEvent::Enter) {
                m_host.DisplayStatusHint(label);
            } else if (type == QEvent::Leave) {
                m_host.ResetStatusHint(label);
            } else if (type == QEvent::MouseButtonRelease
                       && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
                if (label == m_labelPublisherValue)
                    GotoPublisher();
                else
                    GotoInformation();
            }
        }
    }
    if (watched == m_imageCompatibility && type == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        CompatibilityAlert(m_imageCompatibility);
    return QFrame::eventFilter(watched, event);
}

void TkvFrameProgram::hideEvent(QHideEvent *event)
{
    // Showing the frame again (the main window switching pages) is an
    // entry, wherever the focus went meanwhile. Minimising the window hides
    // the frame too, but the focus never left it: restoring is no entry.
    if (!event->spontaneous())
        m_focusInside = false;
    QFrame::hideEvent(event);
}

} // namespace kelvane
