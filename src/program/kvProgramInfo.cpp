// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's information panel: the details of the selected entry,
// its two links, and the actions on what it shows (the install folder, the
// compatibility warning).

#include "kvUnitProgram.h"

#include "kvIcon.h"
#include "kvProgramLayout.h"
#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "gui/kvCommonGui.h"
#include "gui/kvFrameHost.h"
#include "gui/kvValueLabel.h"
#include "host/Error.h"
#include "language/kvLanguage.h"
#include "target/kvSystemSupport.h"

#include <QLabel>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

using namespace programlayout;

namespace {

// Sizes at 96 dpi.
constexpr int InfoDesignWidth = 336;
constexpr int InfoDesignHeight = 124;
constexpr int UpdateDesignWidth = 328;
constexpr int RowHeight = 14;
constexpr int CaptionX = 8;
constexpr int CaptionWidth = 112;
constexpr int ValueX = 128;

void setInfoColours(QWidget *panel)
{
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::ToolTipText));
    panel->setPalette(palette);
    panel->setAutoFillBackground(true);
}

TkvValueLabel *newValueLabel(const QString &name, QWidget *parent)
{
    auto *label = new TkvValueLabel(parent);
    label->setObjectName(name);
    label->setText(u"..."_s);
    return label;
}

} // namespace

QWidget *TkvFrameProgram::createInfoPanel(QWidget *parent)
{
    auto *info = new TkvPlacedPanel(u"PanelProgramMainInfo"_s, QSize(InfoDesignWidth, InfoDesignHeight), parent);
    m_panelInfo = info;
    info->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    info->setMinimumHeight(InfoDesignHeight);
    setInfoColours(info);
    m_imageIcon = newLabel(u"ImageProgramInfoIcon"_s, info);
    info->place(m_imageIcon, QRect(8, 8, 32, 32), false);
    m_labelName = newValueLabel(u"LabelProgramInfoName"_s, info);
    {
        QFont font = m_labelName->font();
        font.setPixelSize(11);
        font.setBold(true);
        m_labelName->setFont(font);
    }
    info->place(m_labelName, QRect(48, 8, 280, 16), true);
    m_labelVersion = newValueLabel(u"LabelProgramInfoVersion"_s, info);
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
    return info;
}

TkvValueLabel *TkvFrameProgram::addInfoRow(QWidget *panel, const QString &captionName, const QString &valueName,
                                           int y, int valueWidth)
{
    auto *placed = static_cast<TkvPlacedPanel *>(panel);
    placed->place(newLabel(captionName, panel), QRect(CaptionX, y, CaptionWidth, RowHeight), false);
    TkvValueLabel *value = newValueLabel(valueName, panel);
    placed->place(value, QRect(ValueX, y, valueWidth, RowHeight), true);
    return value;
}

void TkvFrameProgram::DisplayInformation(QObject *)
{
    if (Generating || Filtering || m_host.lang().Applying)
        return;
    TkvProgramNode *node = selectedNode();
    if (!node)
        return;
    if (!node->hasReference()) {
        m_panelNoInfo->show();
        return;
    }
    m_panelNoInfo->hide();

    const TAppItemPtr entry =
        node->entry() ? node->entry() : static_cast<TkvProgramNode *>(node->parent())->entry();
    startIconLoader(entry);
    m_labelName->setText(entry->DisplayName);
    m_labelVersion->setText(ReplaceText(u"%VERSION%"_s, entry->DisplayVersion, text(u"ApplicationVersion"_s)));

    if (node->entry()) {
        m_panelUpdateInfo->hide();
        m_labelPublisherValue->setText(entry->Publisher);
        m_labelSizeValue->setText(
            FormatSize(entry->EstimatedSize, [this](const QString &key) { return text(key); }));
        m_labelLocationValue->setText(entry->InstallLocation);
        m_labelKeyValue->setText(entry->KeyPath);
        SetLinkAddress(m_labelPublisherValue, entry->UrlInfoAbout);
        return;
    }

    const TAppSubItem &update = *node->update();
    m_panelUpdateInfo->show();
    m_labelUpdateUninstallable->setVisible(!update.Uninstallable);
    m_labelUpdateNameValue->setText(update.DisplayName);
    try {
        m_labelUpdateInstallValue->setText(
            FormatDate(update.Installed, [this](const QString &key) { return text(key); }).Text);
    } catch (const Error &error) {
        // The date and the link keep what they showed before.
        m_host.DisplayMessage(error.message());
        return;
    }
    m_labelUpdateLinkValue->setText(update.MoreInfoURL);
    SetLinkAddress(m_labelUpdateLinkValue, update.MoreInfoURL);
}

void TkvFrameProgram::GotoPublisher()
{
    if (TkvProgramNode *node = selectedNode(); node && node->entry())
        OpenDocument(node->entry()->UrlInfoAbout);
}

void TkvFrameProgram::GotoInformation()
{
    if (TkvProgramNode *node = selectedNode(); node && node->update())
        OpenDocument(node->update()->MoreInfoURL);
}

void TkvFrameProgram::BrowseLocation(QObject *)
{
    TkvProgramNode *node = selectedNode();
    if (!node || !node->entry())
        return;
    // The target's "explorer.exe": only an existing folder opens, in the
    // desktop's file manager; a file or a missing path is reported as the
    // command's failure, and nothing the value names is ever run.
    ExecuteCommand(config::ExplorerProgram.toString() + u' ' + node->entry()->InstallLocation,
                   [this](const QString &key) { return text(key); }, false, m_host.runContext(),
                   [this](const QString &message) { m_host.DisplayMessage(message); });
}

void TkvFrameProgram::CompatibilityAlert(QObject *)
{
    QString productName;
    for (const QString &line : GetVersionInfo(QString())) {
        if (line.startsWith(u"ProductName="_s))
            productName = line.mid(int(qstrlen("ProductName=")));
    }
    QString message = ReplaceText(u"%APPLICATION_NAME%"_s, productName, text(u"OSPartiallyCompatible"_s));
    message = ReplaceText(u"%OS_NAME%"_s, m_host.systemSupport().Name(), message);
    m_host.DisplayMessage(message);
}

} // namespace kelvane
