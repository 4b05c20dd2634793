// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

namespace kelvane {

class RegistryStore;
struct RegistryValue;

// Writes keys of a RegistryStore as a file that regedit imports, Wine's and
// Windows' alike: "Windows Registry Editor Version 5.00", UTF-16LE with its
// byte-order mark, CR LF line ends, one section per key (parent first,
// subkeys in the store's order), values in regedit's own syntax with its line
// continuations.
//
// Every value comes back byte for byte when the file is imported: a text that
// a quoted string cannot carry (a NUL inside it or none at its end, an odd
// byte, a line break or another control character) is written as hex(1), a
// REG_DWORD that is not four bytes as hex(4).
//
// Refused with kelvane::Error: a key that does not exist, a symbolic link key
// in the subtree (regedit would import a plain key with the link's data, not
// the link), and a key or value name holding a NUL or a line break (no
// regedit syntax can carry one). A device may then hold an incomplete file.

// The lines of one value ("name"=data), continuation lines included, joined
// by CR LF, without a final line end. `keyPath` names the key in messages.
QString regeditValueText(const RegistryValue &value, const QString &keyPath);

// The whole file for the subtree of `path` (below the hive; "" for all of it).
QByteArray regeditExport(const RegistryStore &store, const QString &path);

// The same bytes, written to `device` as they are made: a key that holds a
// large value is never held twice in memory. Throws Error when the device
// fails; what was written before then is incomplete.
void writeRegeditExport(QIODevice &device, const RegistryStore &store, const QString &path);

} // namespace kelvane
