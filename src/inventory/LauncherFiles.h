// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace kelvane {

// The few values Kelvane reads from the files of Wine launchers. Each file
// is untrusted: read through HostFile (regular files only), at most
// config::MaxLauncherFileSize bytes of it, and a file that cannot be read
// gives nothing. No launcher file is ever written.

// The bytes of a launcher file as text, or empty when it cannot be read;
// `note` is then told why.
QString readLauncherFile(const QString &path, QString *note);

// Steam's VDF and ACF text: every value of a quoted key named `key`
// (case-insensitive) at any depth, in file order, escapes undone.
QStringList vdfValues(const QString &text, const QString &key);

// A YAML mapping's scalar `key: value`, at any indentation (Lutris'
// "game: / prefix:", Bottles' "Name:"), quotes removed; the first one found.
QString yamlValue(const QString &text, const QString &key);

} // namespace kelvane
