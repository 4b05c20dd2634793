// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kvShellCommon.h"

#include <QDialog>
#include <QImage>

class QFrame;
class QLabel;
class QPushButton;

namespace kelvane {

class TLang;

// Who made this build; configuration, any of it may be empty.
struct TkvAboutInfo
{
    QString authorName;
    QString websiteUrl;
    QString bugReportAddress;

    static TkvAboutInfo fromConfig();
};

// The about box's header picture, 340 x 90, drawn rather than stored.
QImage DrawAboutHeader();

// Product name, version, maker and links; relabelled on every show.
class TkvFormAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TkvFormAbout(TLang &lang, TkvAboutInfo info = TkvAboutInfo::fromConfig(), QWidget *parent = nullptr);

    // Shows the box modally, centred over its parent window.
    int ShowModal();
    void setTestHook(DialogHook hook) { m_hook = std::move(hook); }

    void GotoWebsite();
    void SendBugReport();

    QFrame *PanelAboutHeader;
    QLabel *ImageAboutHeader;
    QFrame *PanelAboutContent;
    QLabel *LabelAboutContentName;
    QLabel *LabelAboutContentVersion;
    QLabel *LabelAboutContentAuthor;
    QLabel *LabelAboutContentWebsite;
    QLabel *LabelAboutContentAuthorValue;
    QLabel *LabelAboutContentWebsiteValue;
    QLabel *LabelAboutReportBug;
    QPushButton *ButtonAboutOk;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void CreateForm();
    void ShowForm();
    void placeControls();

    TLang &m_lang;
    TkvAboutInfo m_info;
    DialogHook m_hook;
    bool m_websiteLink = false;
    bool m_bugLink = false;
};

} // namespace kelvane
