// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>

// Text from a registry or any file, made fit to show: registry values are
// data written by whatever ran in the prefix, never layout or addresses to
// follow blindly.
namespace kelvane {

// The text on one line: every control character (C0, DEL, C1) and the
// Unicode line and paragraph separators become a space. A line break in a
// name would otherwise overlap the rows below it, forge a line of a listing
// or export, or drive a terminal.
QString SingleLine(QStringView text);

// The address to open for a text that names a web or mail address: http,
// https, ftp or mailto (the address alone, without "?subject=..." or other
// fields), or a scheme-less host such as www.example.org (taken as http). Anything else (file:, javascript:, a local path, a host program)
// gives an empty, invalid QUrl: it is shown as text and never opened.
QUrl OpenableAddress(const QString &text);

} // namespace kelvane
