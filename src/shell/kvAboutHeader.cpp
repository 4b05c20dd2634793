// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvUnitAbout.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

// A calm header: a pale band fading into the panel's white, the program
// mark (a list of programs, one of them being taken away) and the name.
QImage DrawAboutHeader()
{
    QImage image(340, 90, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient band(0, 0, image.width(), 0);
    band.setColorAt(0.0, QColor(0xd6, 0xe4, 0xf4));
    band.setColorAt(0.55, QColor(0xee, 0xf4, 0xfb));
    band.setColorAt(1.0, Qt::white);
    painter.fillRect(image.rect(), band);

    // The mark: a rounded tile holding three list rows.
    const QRectF tile(20, 16, 58, 58);
    QLinearGradient tileFill(tile.topLeft(), tile.bottomLeft());
    tileFill.setColorAt(0.0, QColor(0x3d, 0x7c, 0xc9));
    tileFill.setColorAt(1.0, QColor(0x24, 0x57, 0x9a));
    painter.setPen(QPen(QColor(0x1c, 0x46, 0x7d), 1.0));
    painter.setBrush(tileFill);
    painter.drawRoundedRect(tile, 9, 9);
    painter.setPen(Qt::NoPen);
    for (int row = 0; row < 3; ++row) {
        const qreal y = tile.top() + 13 + row * 13;
        painter.setBrush(QColor(255, 255, 255, row == 2 ? 110 : 235));
        painter.drawRoundedRect(QRectF(tile.left() + 10, y, 7, 7), 1.5, 1.5);
        painter.drawRoundedRect(QRectF(tile.left() + 21, y + 1, row == 1 ? 20 : 27, 5), 2.5, 2.5);
    }
    // The badge: a minus in a ring, over the last row.
    const QPointF badge(tile.right() - 2, tile.bottom() - 4);
    painter.setPen(QPen(Qt::white, 2.0));
    painter.setBrush(QColor(0xc8, 0x4b, 0x31));
    painter.drawEllipse(badge, 11, 11);
    painter.setPen(QPen(Qt::white, 3.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(badge + QPointF(-5, 0), badge + QPointF(5, 0));

    QFont name(u"DejaVu Sans"_s);
    name.setStyleHint(QFont::SansSerif);
    name.setPixelSize(30);
    name.setBold(true);
    painter.setFont(name);
    painter.setPen(QColor(0x1d, 0x3f, 0x6e));
    painter.drawText(QRectF(104, 14, 230, 40), Qt::AlignLeft | Qt::AlignVCenter, u"Kelvane"_s);
    // A thin rule under the name, fading out like the band.
    QLinearGradient rule(104, 0, 320, 0);
    rule.setColorAt(0.0, QColor(0x3d, 0x7c, 0xc9));
    rule.setColorAt(1.0, QColor(0x3d, 0x7c, 0xc9, 0));
    painter.fillRect(QRectF(106, 58, 214, 2), rule);
    return image;
}

} // namespace kelvane
