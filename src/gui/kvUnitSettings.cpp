// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvUnitSettings.h"

#include "gui/kvCommonGui.h"
#include "gui/kvFrameHost.h"
#include "gui/kvValueLabel.h"
#include "host/kvDisplayText.h"
#include "settings/kvSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace kelvane {

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int Margin = 8;
constexpr int TitleHeight = 28;
constexpr int GeneralHeight = 50;
constexpr int LanguageHeight = 94;
constexpr int ProgramHeight = 72;
constexpr int ComboWidth = 200;
constexpr int CaptionWidth = 60;
constexpr int ButtonWidth = 100;
constexpr int ButtonHeight = 28;
constexpr int TitlePixelSize = 15;

template<typename Widget>
Widget *named(Widget *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

QGroupBox *groupBox(const QString &name, int height, QWidget *parent)
{
    auto *box = named(new QGroupBox(parent), name);
    box->setFixedHeight(height);
    return box;
}

} // namespace

TkvFrameSettings::TkvFrameSettings(TkvFrameHost &host, QWidget *parent)
    : QFrame(parent)
    , m_host(host)
{
    setObjectName(u"kvFrameSettings"_s);
    setFocusPolicy(Qt::StrongFocus);
    // Tahoma 8 pt in the original look: the desktop's sans font at that size.
    QFont frameFont = font();
    frameFont.setPointSize(8);
    setFont(frameFont);

    // Title: sunken panel in the active-caption colours.
    m_panelTitle = named(new QFrame(this), u"PanelSettingsTitle"_s);
    m_panelTitle->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panelTitle->setFixedHeight(TitleHeight);
    m_panelTitle->setAutoFillBackground(true);
    m_labelTitle = named(new QLabel(m_panelTitle), u"LabelSettingsTitle"_s);
    colourTitle();
    QFont titleFont = m_labelTitle->font();
    titleFont.setBold(true);
    titleFont.setPixelSize(TitlePixelSize);
    m_labelTitle->setFont(titleFont);
    auto *titleLayout = new QHBoxLayout(m_panelTitle);
    titleLayout->setContentsMargins(4, 0, 4, 0);
    titleLayout->addWidget(m_labelTitle);

    m_groupGeneral = groupBox(u"GroupboxSettingsGeneral"_s, GeneralHeight, this);
    m_checkSaveWindow = named(new QCheckBox(m_groupGeneral), u"CheckboxSettingsSaveWindow"_s);
    auto *generalLayout = new QVBoxLayout(m_groupGeneral);
    generalLayout->setContentsMargins(Margin, 2, Margin, 2);
    generalLayout->addWidget(m_checkSaveWindow);

    m_groupLanguage = groupBox(u"GroupboxSettingsLanguage"_s, LanguageHeight, this);
    m_comboLanguage = named(new QComboBox(m_groupLanguage), u"ComboboxSettingsLanguage"_s);
    m_comboLanguage->setEditable(false);
    m_comboLanguage->setFixedWidth(ComboWidth);
    // The design-time entry, replaced by the first listing; nothing selected.
    m_comboLanguage->addItem(u"none"_s);
    m_entries.append(nullptr);
    m_comboLanguage->setCurrentIndex(-1);
    m_labelAuthor = named(new QLabel(m_groupLanguage), u"LabelSettingsLanguageAuthor"_s);
    m_labelAuthor->setFixedWidth(CaptionWidth);
    m_labelAuthorValue = named(new TkvValueLabel(m_groupLanguage), u"LabelSettingsLanguageAuthorValue"_s);
    m_labelAuthorValue->setText(u"..."_s);
    m_labelVersion = named(new QLabel(m_groupLanguage), u"LabelSettingsLanguageVersion"_s);
    m_labelVersion->setFixedWidth(CaptionWidth);
    m_labelVersionValue = named(new TkvValueLabel(m_groupLanguage), u"LabelSettingsLanguageVersionValue"_s);
    m_labelVersionValue->setText(u"..."_s);
    // Captions come from language files: text, never markup.
    for (QLabel *label : {m_labelTitle, m_labelAuthor, m_labelVersion})
        label->setTextFormat(Qt::PlainText);
    auto *languageLayout = new QGridLayout(m_groupLanguage);
    languageLayout->setContentsMargins(Margin, 2, Margin, 4);
    languageLayout->setHorizontalSpacing(Margin);
    languageLayout->setVerticalSpacing(4);
    languageLayout->addWidget(m_comboLanguage, 0, 0, 1, 2, Qt::AlignLeading);
    languageLayout->addWidget(m_labelAuthor, 1, 0);
    languageLayout->addWidget(m_labelAuthorValue, 1, 1);
    languageLayout->addWidget(m_labelVersion, 2, 0);
    languageLayout->addWidget(m_labelVersionValue, 2, 1);
    languageLayout->setColumnStretch(1, 1);

    m_groupProgram = groupBox(u"GroupboxSettingsProgram"_s, ProgramHeight, this);
    m_checkShowUpdates = named(new QCheckBox(m_groupProgram), u"CheckboxSettingsShowUpdates"_s);
    m_checkAllowEdition = named(new QCheckBox(m_groupProgram), u"CheckboxSettingsAllowEdition"_s);
    auto *programLayout = new QVBoxLayout(m_groupProgram);
    programLayout->setContentsMargins(Margin, 2, Margin, 4);
    programLayout->addWidget(m_checkShowUpdates);
    programLayout->addWidget(m_checkAllowEdition);

    m_panelButtons = named(new QFrame(this), u"PanelSettingsButtons"_s);
    m_panelButtons->setFrameStyle(QFrame::NoFrame);
    m_panelButtons->setFixedHeight(ButtonHeight);
    m_buttonApply = named(new QPushButton(m_panelButtons), u"ButtonSettingsApply"_s);
    m_buttonApply->setFixedSize(ButtonWidth, ButtonHeight);
    m_buttonApply->setEnabled(false);
    m_buttonReset = named(new QPushButton(m_panelButtons), u"ButtonSettingsReset"_s);
    m_buttonReset->setFixedSize(ButtonWidth, ButtonHeight);
    auto *buttonLayout = new QHBoxLayout(m_panelButtons);
    buttonLayout->setContentsMargins(0, 0, 0, 0);
    buttonLayout->setSpacing(Margin);
    buttonLayout->addStretch(1);
    buttonLayout->addWidget(m_buttonApply);
    buttonLayout->addWidget(m_buttonReset);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(Margin, Margin, Margin, Margin);
    layout->setSpacing(Margin);
    layout->addWidget(m_panelTitle);
    layout->addWidget(m_groupGeneral);
    layout->addWidget(m_groupLanguage);
    layout->addWidget(m_groupProgram);
    layout->addStretch(1);
    layout->addWidget(m_panelButtons);
    resize(460, 372);

    for (QCheckBox *box : {m_checkSaveWindow, m_checkShowUpdates, m_checkAllowEdition})
        connect(box, &QCheckBox::clicked, this, [this, box] { CheckChanges(box); });
    connect(m_comboLanguage, &QComboBox::currentIndexChanged, this,
            [this] { ChangeLanguage(m_comboLanguage); });
    connect(m_buttonApply, &QPushButton::clicked, this, [this] { ApplySettings(m_buttonApply); });
    connect(m_buttonReset, &QPushButton::clicked, this, [this] { SetItems(m_buttonReset); });
    m_buttonApply->installEventFilter(this);
    m_buttonReset->installEventFilter(this);
    m_labelAuthorValue->installEventFilter(this);
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, &TkvFrameSettings::focusMoved);

    alignLabels();
    // The captions of the catalogue in force stand in for design-time texts.
    m_host.lang().ApplyToFrame(this);
}

TkvFrameSettings::~TkvFrameSettings()
{
    // The children, destroyed after this part of the frame, move the focus.
    disconnect(m_focusWatch);
}

void TkvFrameSettings::alignLabels()
{
    // A label aligns plain text by the text's own direction: "2.0" would sit
    // on the left of a right-to-left page. Align by the page's direction.
    const Qt::Alignment side = (isRightToLeft() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute;
    for (QLabel *label : findChildren<QLabel *>())
        label->setAlignment(side | Qt::AlignVCenter);
}

void TkvFrameSettings::colourTitle()
{
    // Copied colours do not follow the page's palette: renewed on each change.
    QPalette title = palette();
    title.setColor(QPalette::Window, title.color(QPalette::Highlight));
    title.setColor(QPalette::WindowText, title.color(QPalette::HighlightedText));
    m_panelTitle->setPalette(title);
}

void TkvFrameSettings::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LayoutDirectionChange)
        alignLabels();
    else if (event->type() == QEvent::PaletteChange)
        colourTitle();
    QFrame::changeEvent(event);
}

bool TkvFrameSettings::ownsWidget(const QWidget *widget) const
{
    // Walks across window borders: the language list's drop-down is a
    // separate window whose parent is the list.
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (w == this)
            return true;
    }
    return false;
}

void TkvFrameSettings::focusMoved(QWidget *old, QWidget *now)
{
    // A window regaining activation reports no previous widget: that is no
    // entry from another control, so unapplied choices survive it.
    if (!now || !old || !ownsWidget(now) || ownsWidget(old))
        return;
    EnterForm(this);
}

bool TkvFrameSettings::eventFilter(QObject *watched, QEvent *event)
{
    const bool isButton = watched == m_buttonApply || watched == m_buttonReset;
    const bool isLink = watched == m_labelAuthorValue && m_authorIsLink;
    if (isButton || isLink) {
        switch (event->type()) {
        case QEvent::Enter:
            DisplayStatusHint(watched);
            break;
        case QEvent::Leave:
            ResetStatusHint(watched);
            break;
        case QEvent::MouseButtonRelease:
            if (isLink) {
                const auto *mouse = static_cast<QMouseEvent *>(event);
                if (mouse->button() == Qt::LeftButton
                    && m_labelAuthorValue->rect().contains(mouse->position().toPoint()))
                    GotoWebsite(watched);
            }
            break;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

const TLangItem *TkvFrameSettings::selectedItem() const
{
    const int index = m_comboLanguage->currentIndex();
    if (index < 0 || index >= m_entries.size())
        return nullptr;
    return m_entries.at(index).get();
}

void TkvFrameSettings::EnterForm(QObject *sender)
{
    m_host.lang().ApplyToFrame(this);
    SetItems(sender);
}

void TkvFrameSettings::SetItems(QObject *sender)
{
    const TSettings &settings = m_host.settings();
    m_checkAllowEdition->setChecked(settings.AllowEdition);
    m_checkSaveWindow->setChecked(settings.SaveWindow);
    m_checkShowUpdates->setChecked(settings.ShowUpdates);
    FindLanguages(sender);
    CheckChanges(sender);
}

void TkvFrameSettings::FindLanguages(QObject *sender)
{
    // Listing lets pending events run after each file; a Reset or focus
    // entry among them would list again into the half-built catalogue.
    if (m_findingLanguages)
        return;
    const QScopedValueRollback finding(m_findingLanguages, true);
    TLang &lang = m_host.lang();
    m_comboLanguage->setEnabled(true);
    int remembered = -1;
    {
        // The list is filled only once the catalogue is listed; its own
        // change signal would otherwise fire for every entry added.
        const QSignalBlocker blocker(m_comboLanguage);
        m_comboLanguage->clear();
        m_entries.clear();
        lang.ListLanguages();
        for (const std::shared_ptr<TLangItem> &item : std::as_const(lang.Languages)) {
            m_comboLanguage->addItem(SingleLine(item->Language));
            m_entries.append(item);
            if (item->Name == lang.Name)
                remembered = int(m_entries.size() - 1);
        }
        m_comboLanguage->setCurrentIndex(remembered);
    }
    if (remembered >= 0)
        ChangeLanguage(sender);
    if (!QFileInfo(lang.languageFolder()).isDir())
        m_groupLanguage->hide();
}

void TkvFrameSettings::ChangeLanguage(QObject *sender)
{
    if (const TLangItem *item = selectedItem()) {
        TLang::ApplyToComponent(m_labelAuthorValue, item->Author);
        TLang::ApplyToComponent(m_labelVersionValue, item->Version);
        // A language file's web site is a link only when it is a web or mail address.
        m_authorIsLink = SetLinkAddress(m_labelAuthorValue, item->Website);
    }
    CheckChanges(sender);
}

void TkvFrameSettings::CheckChanges(QObject *)
{
    const TSettings &settings = m_host.settings();
    const TLangItem *item = selectedItem();
    const bool pending = (item && item->Name.compare(settings.Language, Qt::CaseSensitive) != 0)
                         || m_checkSaveWindow->isChecked() != settings.SaveWindow
                         || m_checkShowUpdates->isChecked() != settings.ShowUpdates
                         || m_checkAllowEdition->isChecked() != settings.AllowEdition;
    // A button disabled while it has the focus would pass it on along the tab
    // chain, out into the main window; the next click into the page would
    // then count as entering it.
    if (!pending && (m_buttonApply->hasFocus() || m_buttonReset->hasFocus()))
        setFocus(Qt::OtherFocusReason);
    m_buttonApply->setEnabled(pending);
    m_buttonReset->setEnabled(pending);
}

void TkvFrameSettings::ApplySettings(QObject *sender)
{
    TSettings &settings = m_host.settings();
    TLang &lang = m_host.lang();
    settings.AllowEdition = m_checkAllowEdition->isChecked();
    settings.SaveWindow = m_checkSaveWindow->isChecked();
    settings.ShowUpdates = m_checkShowUpdates->isChecked();
    if (const TLangItem *item = selectedItem())
        settings.Language = item->Name;
    lang.LoadLanguage(settings.Language, true);
    if (QWidget *window = m_host.mainWindow())
        lang.ApplyToForm(window);
    lang.ApplyToFrame(this);
    CheckChanges(sender);
}

void TkvFrameSettings::GotoWebsite(QObject *)
{
    if (const TLangItem *item = selectedItem(); item && !item->Website.isEmpty())
        OpenDocument(item->Website);
}

void TkvFrameSettings::DisplayStatusHint(QObject *sender)
{
    m_host.DisplayStatusHint(sender);
}

void TkvFrameSettings::ResetStatusHint(QObject *sender)
{
    m_host.ResetStatusHint(sender);
}

} // namespace kelvane
