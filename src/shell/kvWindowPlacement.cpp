// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvWindowPlacement.h"

#include <algorithm>

namespace kelvane {

namespace {

// How much of the title bar must be on a screen to grab it.
constexpr int GrabWidth = 100;

qint64 area(const QRect &rect)
{
    return rect.isEmpty() ? 0 : qint64(rect.width()) * rect.height();
}

bool titleBarReachable(const QRect &window, const QList<QRect> &screens, int titleBarHeight)
{
    const QRect titleBar(window.left(), window.top(), window.width(), titleBarHeight);
    const int needed = std::min(window.width(), GrabWidth);
    return std::any_of(screens.begin(), screens.end(), [&](const QRect &screen) {
        const QRect shared = screen.intersected(titleBar);
        return shared.height() == titleBarHeight && shared.width() >= needed;
    });
}

} // namespace

QRect PlaceOnScreens(const QRect &wanted, const QList<QRect> &screens, int titleBarHeight)
{
    if (screens.isEmpty())
        return wanted;
    QRect home = screens.first();
    qint64 most = 0;
    for (const QRect &screen : screens) {
        if (const qint64 shared = area(screen.intersected(wanted)); shared > most) {
            most = shared;
            home = screen;
        }
    }
    QRect placed = wanted;
    placed.setWidth(std::min(wanted.width(), home.width()));
    placed.setHeight(std::min(wanted.height(), home.height()));
    if (placed.size() == wanted.size() && titleBarReachable(placed, screens, titleBarHeight))
        return placed;
    placed.moveLeft(std::clamp(placed.left(), home.left(), home.right() - placed.width() + 1));
    placed.moveTop(std::clamp(placed.top(), home.top(), home.bottom() - placed.height() + 1));
    return placed;
}

} // namespace kelvane
