// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QLabel;

namespace kelvane {

class TkvValueLabel;

// Opens a web or mail address (see OpenableAddress) with the desktop's
// handler. Any other text does nothing; a failure is not reported.
void OpenDocument(const QString &target);

// Gives a label the link look (link colour, underlined, hand cursor) or the
// plain look (window-text colour, plain, default cursor).
void SetLinkStyle(QLabel *label, bool isLink);

// Gives a value label the link look exactly when `address` is one Kelvane
// opens (see OpenableAddress), with the whole address as its tooltip; the
// plain look and no tooltip otherwise. True when it is a link.
bool SetLinkAddress(TkvValueLabel *label, const QString &address);

// True when the label currently has the link look (what the status hints test).
bool HasLinkStyle(const QLabel *label);

} // namespace kelvane
