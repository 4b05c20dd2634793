// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QRect>

namespace kelvane {

// Where a remembered window geometry (outer frame, screen pixels) may go on
// the screens there are now (their available areas). settings.ini is only a
// file: a size of 30000 or a place far off every screen must not give a
// window that covers everything or cannot be reached. The window keeps its
// place and size when its title bar can be grabbed on a screen and it fits
// on one; otherwise it is shrunk to the screen it is most on (or the first,
// the primary one) and moved just far enough to lie on it.
QRect PlaceOnScreens(const QRect &wanted, const QList<QRect> &screens, int titleBarHeight);

} // namespace kelvane
