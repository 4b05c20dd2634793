// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvCommonGui.h"

#include "kvValueLabel.h"
#include "config/kvConfig.h"
#include "host/kvDisplayText.h"

#include <QDesktopServices>
#include <QLabel>
#include <QUrl>

namespace kelvane {

namespace {

QColor linkColor()
{
    return QColor(config::LinkColor.red, config::LinkColor.green, config::LinkColor.blue);
}

} // namespace

void OpenDocument(const QString &target)
{
    // Only web and mail addresses: a value from the registry must never get
    // the desktop to open or run a file of the host.
    const QUrl url = OpenableAddress(target);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

void SetLinkStyle(QLabel *label, bool isLink)
{
    // The colour goes into the label's own palette so that DisplayStatusHint
    // can tell a link by its font colour, as the status hints are defined.
    const config::Rgb &rgb = isLink ? config::LinkColor : config::LabelColor;
    const config::FontStyle style = isLink ? config::LinkStyle : config::LabelStyle;
    QPalette palette = label->palette();
    // The plain look takes the window-text colour the label would inherit.
    const QPalette inherited = label->parentWidget() ? label->parentWidget()->palette() : QPalette();
    palette.setColor(QPalette::WindowText, rgb.systemWindowText ? inherited.color(QPalette::WindowText)
                                                                : QColor(rgb.red, rgb.green, rgb.blue));
    label->setPalette(palette);
    QFont font = label->font();
    font.setUnderline(style == config::FontStyle::Underlined);
    label->setFont(font);
    if (isLink)
        label->setCursor(Qt::PointingHandCursor);
    else
        label->unsetCursor();
}

bool SetLinkAddress(TkvValueLabel *label, const QString &address)
{
    const bool isLink = OpenableAddress(address).isValid();
    SetLinkStyle(label, isLink);
    label->setOwnToolTip(isLink ? SingleLine(address) : QString());
    return isLink;
}

bool HasLinkStyle(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText) == linkColor();
}

} // namespace kelvane
