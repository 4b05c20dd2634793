#include "kvUnitProgram.h"

#include "gui/kvCommonGui.h"
#include "gui/kvFrameHost.h"
#include "inventory/ProgramTree.h"
#include "language/kvLanguage.h"
#include "platform/Error.h"
#include "platform/Target.h"
#include "platform/kvOSCheck.h"
#include "settings/kvConfig.h"
#include "settings/kvSettings.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
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

#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// Sizes at 96 dpi.
constexpr int Margin = 8;
constexpr int TitleHeight = 28;
constexpr int TreeHeight = 184;
constexpr int ButtonWidth = 100;
constexpr int ButtonHeight = 28;
constexpr int TreeIndent = 19;
constexpr int InfoDesignWidth = 336;
constexpr int InfoDesignHeight = 124;
constexpr int UpdateDesignWidth = 328;
constexpr int RowHeight = 14;
constexpr int CaptionX = 8;
constexpr int CaptionWidth = 112;
constexpr int ValueX = 128;
constexpr int InfoCheckInterval = 2000;

// A panel whose children sit at fixed design positions; the ones marked as
// stretching take up the panel's growth. Positions are mirrored for
// right-to-left languages.
class TkvPlacedPanel : public QFrame
{
public:
    TkvPlacedPanel(const QString &name, QSize designSize, QWidget *parent)
        : QFrame(parent)
        , m_designSize(designSize)
    {
        setObjectName(name);
    }

    void place(QWidget *child, QRect designRect, bool stretchWidth, bool stretchHeight = false)
    {
        m_children.push_back({child, designRect, stretchWidth, stretchHeight});
        layoutChildren();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QFrame::resizeEvent(event);
        layoutChildren();
    }

    void changeEvent(QEvent *event) override
    {
        QFrame::changeEvent(event);
        if (event->type() == QEvent::LayoutDirectionChange)
            layoutChildren();
    }

private:
    struct Placed
    {
        QWidget *widget;
        QRect design;
        bool stretchWidth;
        bool stretchHeight;
    };

    void layoutChildren()
    {
        const int growWidth = width() - m_designSize.width();
        const int growHeight = height() - m_designSize.height();
        for (const Placed &child : m_children) {
            QRect rect = child.design;
            if (child.stretchWidth)
                rect.setWidth(qMax(0, rect.width() + growWidth));
            if (child.stretchHeight)
                rect.setHeight(qMax(0, rect.height() + growHeight));
            child.widget->setGeometry(QStyle::visualRect(layoutDirection(), this->rect(), rect));
        }
    }

    QSize m_designSize;
    std::vector<Placed> m_children;
};

QLabel *newLabel(const QString &name, QWidget *parent, const QString &text = {})
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QPushButton *newButton(const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(name);
    button->setFixedSize(ButtonWidth, ButtonHeight);
    return button;
}

void setInfoColours(QWidget *panel)
{
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::ToolTipText));
    panel->setPalette(palette);
    panel->setAutoFillBackground(true);
}

} // namespace

TkvProgramNode::TkvProgramNode(const QString &text, TAppItemPtr entry, TAppSubItemPtr update,
                               const NameOrder &order)
    : QTreeWidgetItem(NodeType)
    , m_entry(std::move(entry))
    , m_update(std::move(update))
    , m_order(order)
{
    setText(0, text);
}

bool TkvProgramNode::operator<(const QTreeWidgetItem &other) const
{
    return m_order.compare(text(0), other.text(0)) < 0;
}

TkvFrameProgram::TkvFrameProgram(TkvFrameHost &host, QWidget *parent)
    : QFrame(parent)
    , m_host(host)
    , m_inventory(std::make_unique<TApplications>(host.target().registry()))
{
    setObjectName(u"kvFrameProgram"_s);
    setFocusPolicy(Qt::StrongFocus);
    createLayout();
}

TkvFrameProgram::~TkvFrameProgram() = default;

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
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(u"TreeviewProgram"_s);
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
    m_tree->sortByColumn(0, Qt::AscendingOrder);
    m_tree->setSortingEnabled(true);
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

    // Buttons and information panel
    m_panelMain = new QFrame(this);
    m_panelMain->setObjectName(u"PanelProgramMain"_s);
    auto *mainLayout = new QHBoxLayout(m_panelMain);
    mainLayout->setContentsMargins(Margin, Margin, Margin, Margin);
    mainLayout->setSpacing(Margin);
    auto *buttons = new QWidget(m_panelMain);
    buttons->setObjectName(u"PanelProgramMainButtons"_s);
    buttons->setFixedWidth(ButtonWidth);
    auto *buttonLayout = new QVBoxLayout(buttons);
    buttonLayout->setContentsMargins(0, 0, 0, 0);
    buttonLayout->setSpacing(Margin);
    m_buttonUninstall = newButton(u"ButtonProgramUninstall"_s, buttons);
    m_buttonModify = newButton(u"ButtonProgramModify"_s, buttons);
    m_buttonBrowse = newButton(u"ButtonProgramBrowse"_s, buttons);
    for (QPushButton *button : {m_buttonUninstall, m_buttonModify, m_buttonBrowse}) {
        button->setEnabled(false);
        button->installEventFilter(this);
        buttonLayout->addWidget(button);
    }
    buttonLayout->addStretch(1);
    mainLayout->addWidget(buttons);

    auto *info = new TkvPlacedPanel(u"PanelProgramMainInfo"_s, QSize(InfoDesignWidth, InfoDesignHeight), m_panelMain);
    m_panelInfo = info;
    info->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    info->setMinimumHeight(InfoDesignHeight);
    setInfoColours(info);
    m_imageIcon = newLabel(u"ImageProgramInfoIcon"_s, info);
    info->place(m_imageIcon, QRect(8, 8, 32, 32), false);
    m_labelName = newLabel(u"LabelProgramInfoName"_s, info, u"..."_s);
    {
        QFont font = m_labelName->font();
        font.setPixelSize(11);
        font.setBold(true);
        m_labelName->setFont(font);
    }
    info->place(m_labelName, QRect(48, 8, 280, 16), true);
    m_labelVersion = newLabel(u"LabelProgramInfoVersion"_s, info, u"..."_s);
    info->place(m_labelVersion, QRect(48, 24, 280, 16), true);
    m_labelPublisherValue = addInfoRow(info, u"LabelProgramInfoPublisher"_s, u"LabelProgramInfoPublisherValue"_s, 48, 200);
    m_labelSizeValue = addInfoRow(info, u"LabelProgramInfoSize"_s, u"LabelProgramInfoSizeValue"_s, 64, 200);
    m_labelLocationValue = addInfoRow(info, u"LabelProgramInfoLocation"_s, u"LabelProgramInfoLocationValue"_s, 80, 200);
    m_labelKeyValue = addInfoRow(info, u"LabelProgramInfoKey"_s, u"LabelProgramInfoKeyValue"_s, 96, 200);

    auto *update = new TkvPlacedPanel(u"PanelProgramMainUpdateInfo"_s, QSize(UpdateDesignWidth, 72), info);
    m_panelUpdateInfo = update;
    setInfoColours(update);
    info->place(update, QRect(4, 48, UpdateDesignWidth, 72), true);
    m_labelUpdateNameValue = addInfoRow(update, u"LabelUpdateInfoName"_s, u"LabelUpdateInfoNameValue"_s, 4, 192);
    m_labelUpdateInstallValue = addInfoRow(update, u"LabelUpdateInfoInstall"_s, u"LabelUpdateInfoInstallValue"_s, 20, 192);
    m_labelUpdateLinkValue = addInfoRow(update, u"LabelUpdateInfoLink"_s, u"LabelUpdateInfoLinkValue"_s, 36, 192);
    m_labelUpdateUninstallable = newLabel(u"LabelUpdateUninstallable"_s, update);
    {
        QFont font = m_labelUpdateUninstallable->font();
        font.setBold(true);
        m_labelUpdateUninstallable->setFont(font);
        QPalette palette = m_labelUpdateUninstallable->palette();
        palette.setColor(QPalette::WindowText, QColor(153, 0, 0));
        m_labelUpdateUninstallable->setPalette(palette);
        m_labelUpdateUninstallable->setWordWrap(true);
        m_labelUpdateUninstallable->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    }
    update->place(m_labelUpdateUninstallable, QRect(CaptionX, 52, 308, 16), true);
    update->hide();

    auto *noInfo = newLabel(u"PanelProgramNoInfo"_s, info);
    m_panelNoInfo = noInfo;
    setInfoColours(noInfo);
    noInfo->setAlignment(Qt::AlignCenter);
    noInfo->setWordWrap(true);
    info->place(noInfo, QRect(4, 4, UpdateDesignWidth, 116), true, true);
    noInfo->hide();
    mainLayout->addWidget(info, 1);
    frameLayout->addWidget(m_panelMain, 1);

    // Commands editor, in the place of the main panel
    m_panelCommands = new QFrame(this);
    m_panelCommands->setObjectName(u"PanelProgramCommands"_s);
    auto *commandsLayout = new QHBoxLayout(m_panelCommands);
    commandsLayout->setContentsMargins(Margin, Margin, Margin, Margin);
    commandsLayout->setSpacing(Margin);
    auto *commandButtons = new QWidget(m_panelCommands);
    commandButtons->setObjectName(u"PanelProgramCommandsButtons"_s);
    commandButtons->setFixedWidth(ButtonWidth);
    auto *commandButtonLayout = new QVBoxLayout(commandButtons);
    commandButtonLayout->setContentsMargins(0, 0, 0, 0);
    commandButtonLayout->setSpacing(Margin);
    for (const QString &name : {u"ButtonProgramCommandsOk"_s, u"ButtonProgramCommandsCancel"_s}) {
        QPushButton *button = newButton(name, commandButtons);
        button->installEventFilter(this);
        commandButtonLayout->addWidget(button);
    }
    commandButtonLayout->addStretch(1);
    commandsLayout->addWidget(commandButtons);
    m_groupCommands = new QGroupBox(m_panelCommands);
    m_groupCommands->setObjectName(u"GroupboxProgramCommands"_s);
    auto *groupLayout = new QVBoxLayout(m_groupCommands);
    groupLayout->setSpacing(0);
    const QString commandNames[] = {u"ProgramCommandsUninstall"_s, u"ProgramCommandsUninstallQuiet"_s};
    for (const QString &name : commandNames) {
        if (name != commandNames[0])
            groupLayout->addSpacing(Margin);
        groupLayout->addWidget(newLabel(u"Label"_s + name, m_groupCommands));
        groupLayout->addSpacing(2);
        auto *edit = new QLineEdit(m_groupCommands);
        edit->setObjectName(u"Edit"_s + name);
        edit->setFixedHeight(21);
        groupLayout->addWidget(edit);
    }
    groupLayout->addStretch(1);
    commandsLayout->addWidget(m_groupCommands, 1);
    frameLayout->addWidget(m_panelCommands, 1);
    m_panelCommands->hide();
}

QLabel *TkvFrameProgram::addInfoRow(QWidget *panel, const QString &captionName, const QString &valueName, int y,
                                    int valueWidth)
{
    auto *placed = static_cast<TkvPlacedPanel *>(panel);
    placed->place(newLabel(captionName, panel), QRect(CaptionX, y, CaptionWidth, RowHeight), false);
    QLabel *value = newLabel(valueName, panel, u"..."_s);
    placed->place(value, QRect(ValueX, y, valueWidth, RowHeight), true);
    return value;
}

bool TkvFrameProgram::eventFilter(QObject *watched, QEvent *event)
{
    return QFrame::eventFilter(watched, event);
}

void TkvFrameProgram::hideEvent(QHideEvent *event)
{
    m_focusInside = false;
    QFrame::hideEvent(event);
}

} // namespace kelvane
