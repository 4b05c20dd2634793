// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvUnitAbout.h"

#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "gui/kvCommonGui.h"
#include "language/kvLanguage.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text = {})
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

TkvAboutInfo TkvAboutInfo::fromConfig()
{
    return {config::AuthorName, config::WebsiteUrl, config::BugReportAddress};
}

TkvFormAbout::TkvFormAbout(TLang &lang, TkvAboutInfo info, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
    , m_lang(lang)
    , m_info(std::move(info))
{
    setObjectName(u"kvFormAbout"_s);
    setFont(ShellFont());
    setModal(true);
    setFixedSize(360, 240);

    PanelAboutHeader = new QFrame(this);
    PanelAboutHeader->setObjectName(u"PanelAboutHeader"_s);
    // A one-pixel groove: lowered outside, raised inside.
    PanelAboutHeader->setFrameStyle(QFrame::Box | QFrame::Sunken);
    PanelAboutHeader->setLineWidth(1);
    PanelAboutHeader->setAutoFillBackground(true);
    QPalette white = PanelAboutHeader->palette();
    white.setColor(QPalette::Window, Qt::white);
    PanelAboutHeader->setPalette(white);
    ImageAboutHeader = new QLabel(PanelAboutHeader);
    ImageAboutHeader->setObjectName(u"ImageAboutHeader"_s);
    // A picture, not text: it stays at the top left in either reading order.
    ImageAboutHeader->setAlignment(Qt::AlignAbsolute | Qt::AlignLeft | Qt::AlignTop);
    ImageAboutHeader->setPixmap(QPixmap::fromImage(DrawAboutHeader()));

    PanelAboutContent = new QFrame(this);
    PanelAboutContent->setObjectName(u"PanelAboutContent"_s);
    LabelAboutContentName = makeLabel(PanelAboutContent, u"LabelAboutContentName"_s);
    QFont nameFont = font();
    nameFont.setPixelSize(16);
    nameFont.setBold(true);
    LabelAboutContentName->setFont(nameFont);
    LabelAboutContentVersion = makeLabel(PanelAboutContent, u"LabelAboutContentVersion"_s);
    LabelAboutContentAuthor = makeLabel(PanelAboutContent, u"LabelAboutContentAuthor"_s);
    LabelAboutContentWebsite = makeLabel(PanelAboutContent, u"LabelAboutContentWebsite"_s);
    LabelAboutContentAuthorValue = makeLabel(PanelAboutContent, u"LabelAboutContentAuthorValue"_s, u"..."_s);
    LabelAboutContentWebsiteValue = makeLabel(PanelAboutContent, u"LabelAboutContentWebsiteValue"_s, u"..."_s);
    LabelAboutReportBug = makeLabel(this, u"LabelAboutReportBug"_s);
    ButtonAboutOk = new QPushButton(this);
    ButtonAboutOk->setObjectName(u"ButtonAboutOk"_s);
    ButtonAboutOk->setDefault(true);
    connect(ButtonAboutOk, &QPushButton::clicked, this, [this] { done(6); });

    placeControls();
    CreateForm();
}

void TkvFormAbout::placeControls()
{
    constexpr int M = config::DialogMargin;
    PlaceLogical(PanelAboutHeader, QRect(1, 1, width() - 2, 94));
    PlaceLogical(ImageAboutHeader, QRect(2, 2, PanelAboutHeader->width() - 4, PanelAboutHeader->height() - 4));
    PlaceLogical(PanelAboutContent, QRect(M, 1 + 94 + M, width() - 2 * M, 93));

    const int contentWidth = PanelAboutContent->width();
    const int nameHeight = LabelAboutContentName->fontMetrics().height();
    const int versionHeight = LabelAboutContentVersion->fontMetrics().height();
    PlaceLogical(LabelAboutContentName, QRect(0, 0, contentWidth, nameHeight));
    PlaceLogical(LabelAboutContentVersion, QRect(0, nameHeight + 2 + 2, contentWidth, versionHeight));
    PlaceLogical(LabelAboutContentAuthor, QRect(0, 48, 60, 16));
    PlaceLogical(LabelAboutContentWebsite, QRect(0, 64, 60, 16));
    // The values stretch with the panel.
    PlaceLogical(LabelAboutContentAuthorValue, QRect(68, 48, contentWidth - 68, 16));
    PlaceLogical(LabelAboutContentWebsiteValue, QRect(68, 64, contentWidth - 68, 16));

    for (QLabel *label : {LabelAboutContentName, LabelAboutContentVersion, LabelAboutContentAuthor,
                          LabelAboutContentWebsite, LabelAboutContentAuthorValue, LabelAboutContentWebsiteValue,
                          LabelAboutReportBug})
        label->setAlignment(ReadingEdge(label));

    const QRect ok(width() - M - 80, height() - M - 28, 80, 28);
    PlaceLogical(ButtonAboutOk, ok);
    PlaceLogical(LabelAboutReportBug, QRect(M, ok.top(), ok.left() - 2 * M, ok.height()));
}

void TkvFormAbout::CreateForm()
{
    LabelAboutContentName->setText(OwnVersionValue(u"ProductName"_s));
    // Fixed English words in every language.
    LabelAboutContentVersion->setText(u"Version "_s + OwnVersionValue(u"ProductVersion"_s) + u" ("_s
                                      + OwnVersionValue(u"FileVersion"_s) + u')');
    LabelAboutContentAuthorValue->setText(m_info.authorName);
    LabelAboutContentWebsiteValue->setText(m_info.websiteUrl);

    m_websiteLink = !m_info.websiteUrl.isEmpty();
    if (m_websiteLink) {
        LabelAboutContentWebsiteValue->installEventFilter(this);
        SetLinkStyle(LabelAboutContentWebsiteValue, true);
    }
    m_bugLink = !m_info.bugReportAddress.isEmpty();
    if (m_bugLink) {
        LabelAboutReportBug->installEventFilter(this);
        SetLinkStyle(LabelAboutReportBug, true);
    } else {
        LabelAboutReportBug->hide();
    }
}

void TkvFormAbout::ShowForm()
{
    m_lang.ApplyToForm(this);
}

int TkvFormAbout::ShowModal()
{
    ShowForm();
    if (const QWidget *over = parentWidget(); over && over->isVisible()) {
        QRect box(QPoint(), size());
        box.moveCenter(over->frameGeometry().center());
        move(box.topLeft());
    }
    ButtonAboutOk->setFocus(Qt::OtherFocusReason);
    return ExecDialog(*this, m_hook);
}

void TkvFormAbout::GotoWebsite()
{
    OpenDocument(LabelAboutContentWebsiteValue->text());
}

void TkvFormAbout::SendBugReport()
{
    OpenDocument(u"mailto:"_s + m_info.bugReportAddress);
}

bool TkvFormAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        auto *label = qobject_cast<QLabel *>(watched);
        if (mouse->button() == Qt::LeftButton && label && label->rect().contains(mouse->position().toPoint())) {
            if (label == LabelAboutContentWebsiteValue && m_websiteLink)
                GotoWebsite();
            else if (label == LabelAboutReportBug && m_bugLink)
                SendBugReport();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TkvFormAbout::changeEvent(QEvent *event)
{
    // The catalogue may switch the reading order: mirror the fixed layout.
    if (event->type() == QEvent::LayoutDirectionChange)
        placeControls();
    QDialog::changeEvent(event);
}

} // namespace kelvane
