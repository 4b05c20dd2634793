// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvValueLabel.h"

#include "config/kvConfig.h"
#include "host/kvDisplayText.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QTextDocument>

namespace kelvane {

TkvValueLabel::TkvValueLabel(QWidget *parent, Qt::TextElideMode elideMode)
    : QLabel(parent)
    , m_elideMode(elideMode)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

void TkvValueLabel::setText(const QString &text)
{
    QLabel::setText(SingleLine(text));
    updateToolTip();
}

QString TkvValueLabel::shownText() const
{
    // Only what could ever fit is laid out: both ends for a middle elision.
    const QString &whole = text();
    const qsizetype longest = config::LongestShownText;
    const QString candidate = whole.size() <= longest   ? whole
                              : m_elideMode == Qt::ElideMiddle ? whole.left(longest / 2) + whole.right(longest / 2)
                                                                : whole.left(longest);
    return fontMetrics().elidedText(candidate, m_elideMode, contentsRect().width() - 2 * margin());
}

void TkvValueLabel::setOwnToolTip(const QString &tip)
{
    m_ownToolTip = tip;
    updateToolTip();
}

QSize TkvValueLabel::minimumSizeHint() const
{
    // Elided text needs no more room than its ellipsis.
    QSize hint = QLabel::minimumSizeHint();
    hint.setWidth(qMin(hint.width(), fontMetrics().horizontalAdvance(QStringLiteral("\u2026")) + 2 * frameWidth()));
    return hint;
}

void TkvValueLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), shownText(), foregroundRole());
}

void TkvValueLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateToolTip();
}

void TkvValueLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateToolTip();
}

void TkvValueLabel::updateToolTip()
{
    // Cut short, the label's whole text comes first, then its own tooltip
    // (a link's address stays in sight).
    QStringList lines;
    if (shownText() != text()) {
        const QString &whole = text();
        lines.append(whole.size() <= config::LongestShownText ? whole
                                                              : whole.left(config::LongestShownText) + QChar(0x2026));
    }
    if (!m_ownToolTip.isEmpty())
        lines.append(m_ownToolTip);
    setToolTip(lines.isEmpty() ? QString() : PlainToolTip(lines.join(u'\n')));
}

QString PlainToolTip(const QString &text)
{
    // A tooltip that looks like markup is rendered as markup: escaped and
    // marked as rich text, it shows the characters themselves.
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

} // namespace kelvane
