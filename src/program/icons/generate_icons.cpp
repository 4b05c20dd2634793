// SPDX-License-Identifier: GPL-3.0-or-later
// Draws Kelvane's own icons: the 32 x 32 "no icon" picture and the nine
// 16 x 16 pictures of the program list's popup menu. Run once after a change:
//   g++ -std=c++20 -fPIC generate_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/gen
//   QT_QPA_PLATFORM=offscreen /tmp/gen <this folder>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

const QColor Ink(0x3c, 0x46, 0x50);
const QColor Paper(0xfa, 0xfb, 0xfc);
const QColor Blue(0x2f, 0x6f, 0xb8);
const QColor Red(0xc8, 0x32, 0x2d);
const QColor Green(0x2e, 0x8b, 0x47);
const QColor Amber(0xe0, 0xa8, 0x2e);
const QColor Grey(0x9a, 0xa3, 0xad);

bool draw(const QString &file, int size, const std::function<void(QPainter &)> &paint)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    p.end();
    return image.save(file, "PNG");
}

QPen pen(const QColor &color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A small document sheet with a folded corner, used by several pictures.
void sheet(QPainter &p, const QRectF &r)
{
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 3, r.top());
    path.lineTo(r.right(), r.top() + 3);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(pen(Ink, 1));
    p.setBrush(Paper);
    p.drawPath(path);
}

// An installed program: a box seen from the front.
void box(QPainter &p, const QRectF &r)
{
    p.setPen(pen(Ink, 1));
    p.setBrush(QColor(0xd9, 0xb8, 0x7c));
    p.drawRect(r);
    p.drawLine(QPointF(r.left(), r.top() + 3), QPointF(r.right(), r.top() + 3));
}

// A round badge in the lower right corner.
void badge(QPainter &p, const QColor &color, const std::function<void(QPainter &)> &glyph)
{
    p.setPen(pen(Qt::white, 1));
    p.setBrush(color);
    p.drawEllipse(QRectF(8.5, 8.5, 7, 7));
    glyph(p);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;

    // An application window with an empty face: neutral, clearly "no icon".
    ok &= draw(out.filePath(QStringLiteral("noicon.png")), 32, [](QPainter &p) {
        p.setPen(pen(Grey.darker(130), 1.5));
        p.setBrush(QColor(0xee, 0xf0, 0xf2));
        p.drawRoundedRect(QRectF(3.5, 5.5, 25, 21), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(Grey);
        p.drawRect(QRectF(4.25, 6.25, 23.5, 4.5));
        p.setBrush(QColor(0xee, 0xf0, 0xf2));
        p.drawEllipse(QRectF(23, 7.25, 2.5, 2.5));
        QPen dashed(Grey, 1, Qt::DashLine);
        p.setPen(dashed);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(11.5, 13.5, 9, 9));
    });

    // 0 Refresh: a circular arrow.
    ok &= draw(out.filePath(QStringLiteral("popup-refresh.png")), 16, [](QPainter &p) {
        p.setPen(pen(Green, 2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 280 * 16);
        QPainterPath head;
        head.moveTo(6.5, 0.5);
        head.lineTo(10.5, 3.0);
        head.lineTo(6.5, 5.5);
        head.closeSubpath();
        p.setPen(pen(Green, 1));
        p.setBrush(Green);
        p.drawPath(head);
    });

    // 1 Export: a sheet with lines and an arrow leaving it.
    ok &= draw(out.filePath(QStringLiteral("popup-export.png")), 16, [](QPainter &p) {
        sheet(p, QRectF(1.5, 1.5, 9, 13));
        p.setPen(pen(Grey, 1));
        for (int y = 5; y <= 11; y += 2)
            p.drawLine(QPointF(3.5, y + 0.5), QPointF(8.5, y + 0.5));
        p.setPen(pen(Blue, 2));
        p.drawLine(QPointF(8, 10), QPointF(14, 10));
        p.setPen(pen(Blue, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QList<QPointF>{{11.5, 7.5}, {14.5, 10}, {11.5, 12.5}});
    });

    // 2 Uninstall: a program box with a red minus badge.
    ok &= draw(out.filePath(QStringLiteral("popup-uninstall.png")), 16, [](QPainter &p) {
        box(p, QRectF(1.5, 2.5, 10, 9));
        badge(p, Red, [](QPainter &q) {
            q.setPen(pen(Qt::white, 1.5));
            q.drawLine(QPointF(10.5, 12), QPointF(13.5, 12));
        });
    });

    // 3 Quiet uninstall: the same with a muted badge (no questions, no windows).
    ok &= draw(out.filePath(QStringLiteral("popup-uninstall-quiet.png")), 16, [](QPainter &p) {
        box(p, QRectF(1.5, 2.5, 10, 9));
        badge(p, Red.lighter(125), [](QPainter &q) {
            q.setPen(pen(Qt::white, 1.5));
            q.drawLine(QPointF(10.5, 12), QPointF(13.5, 12));
        });
        p.setPen(pen(Ink, 1));
        p.setBrush(Qt::NoBrush);
        // A sleeping "z": it runs without asking anything.
        p.setPen(pen(Ink, 1.25));
        p.drawPolyline(QList<QPointF>{{11.5, 0.75}, {15, 0.75}, {11.5, 5}, {15, 5}});
    });

    // 4 Modify: a program box with a gear badge.
    ok &= draw(out.filePath(QStringLiteral("popup-modify.png")), 16, [](QPainter &p) {
        box(p, QRectF(1.5, 2.5, 10, 9));
        badge(p, Blue, [](QPainter &q) {
            // A cog: four teeth and a hub with a hole.
            q.setPen(pen(Qt::white, 1.5));
            q.drawLine(QPointF(12, 9.75), QPointF(12, 14.25));
            q.drawLine(QPointF(9.75, 12), QPointF(14.25, 12));
            q.setPen(Qt::NoPen);
            q.setBrush(Qt::white);
            q.drawEllipse(QRectF(10.25, 10.25, 3.5, 3.5));
            q.setBrush(Blue);
            q.drawEllipse(QRectF(11.25, 11.25, 1.5, 1.5));
        });
    });

    // 5 Remove entry: a list row (the registry entry) struck out by a red cross.
    ok &= draw(out.filePath(QStringLiteral("popup-remove.png")), 16, [](QPainter &p) {
        p.setPen(pen(Ink, 1));
        p.setBrush(Paper);
        p.drawRect(QRectF(1.5, 3.5, 13, 9));
        p.setPen(pen(Grey, 1));
        p.drawLine(QPointF(3.5, 6.5), QPointF(12.5, 6.5));
        p.drawLine(QPointF(3.5, 9.5), QPointF(9.5, 9.5));
        p.setPen(pen(Red, 2));
        p.drawLine(QPointF(9, 8), QPointF(14, 13));
        p.drawLine(QPointF(14, 8), QPointF(9, 13));
    });

    // 6 Rename: a text field with a caret and a pencil.
    ok &= draw(out.filePath(QStringLiteral("popup-rename.png")), 16, [](QPainter &p) {
        p.setPen(pen(Ink, 1));
        p.setBrush(Paper);
        p.drawRect(QRectF(0.5, 5.5, 11, 6));
        p.setPen(pen(Grey, 1));
        p.drawLine(QPointF(2.5, 8.5), QPointF(6.5, 8.5));
        p.setPen(pen(Ink, 1));
        p.drawLine(QPointF(8.5, 6.5), QPointF(8.5, 10.5));
        p.save();
        p.translate(12.5, 8.5);
        p.rotate(45);
        p.setPen(pen(Ink, 0.75));
        p.setBrush(Amber);
        p.drawRect(QRectF(-1.5, -6.5, 3, 9));
        QPainterPath tip;
        tip.moveTo(-1.5, 2.5);
        tip.lineTo(1.5, 2.5);
        tip.lineTo(0, 5);
        tip.closeSubpath();
        p.setBrush(Paper);
        p.drawPath(tip);
        p.restore();
    });

    // 7 Browse: an open folder.
    ok &= draw(out.filePath(QStringLiteral("popup-browse.png")), 16, [](QPainter &p) {
        p.setPen(pen(Ink, 1));
        p.setBrush(Amber.darker(115));
        QPainterPath back;
        back.moveTo(1.5, 13.5);
        back.lineTo(1.5, 3.5);
        back.lineTo(5.5, 3.5);
        back.lineTo(7, 5);
        back.lineTo(12.5, 5);
        back.lineTo(12.5, 13.5);
        back.closeSubpath();
        p.drawPath(back);
        p.setBrush(Amber);
        QPainterPath front;
        front.moveTo(1.5, 13.5);
        front.lineTo(4, 7.5);
        front.lineTo(15, 7.5);
        front.lineTo(12.5, 13.5);
        front.closeSubpath();
        p.drawPath(front);
    });

    // 8 Edit commands: a console window with a prompt.
    ok &= draw(out.filePath(QStringLiteral("popup-edit-commands.png")), 16, [](QPainter &p) {
        p.setPen(pen(Ink, 1));
        p.setBrush(QColor(0x26, 0x2c, 0x33));
        p.drawRoundedRect(QRectF(0.5, 2.5, 15, 11), 1.5, 1.5);
        p.setPen(Qt::NoPen);
        p.setBrush(Grey);
        p.drawRect(QRectF(1, 3, 14, 2));
        p.setPen(pen(QColor(0x8f, 0xd1, 0x9e), 1.25));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QList<QPointF>{{3, 7}, {5.5, 9}, {3, 11}});
        p.drawLine(QPointF(7, 11), QPointF(11, 11));
    });

    return ok ? 0 : 1;
}
