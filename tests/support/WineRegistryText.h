// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Registry text as Wine writes it, for tests that make their own registries.
// Header-only, so a test can include it by its relative path without linking
// the support library.

#include "registry/WineRegistryFile.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace kelvane::test {

// A file as Wine writes system.reg, holding `keys`.
inline QByteArray wineRegistryFile(const QByteArray &keys)
{
    return QByteArrayLiteral("WINE REGISTRY Version 2\n;; All keys relative to \\\\Registry\\\\Machine\n\n#arch=win64\n\n")
           + keys;
}

// The store reading such a file, named "test.reg" in messages.
inline std::unique_ptr<WineRegistryFile> parseWineRegistry(const QByteArray &keys)
{
    return WineRegistryFile::fromBytes(wineRegistryFile(keys), QStringLiteral("test.reg"));
}

// A link key as Wine writes it: `name` spelt as in the file (backslashes
// doubled), `target` the full path it leads to ("\Registry\Machine\...").
inline QByteArray linkKey(const QByteArray &name, const QString &target)
{
    QByteArray hex;
    for (const QChar c : target) {
        const char16_t unit = c.unicode();
        hex += QByteArray::number(unit & 0xff, 16).rightJustified(2, '0') + ','
               + QByteArray::number(unit >> 8, 16).rightJustified(2, '0') + ',';
    }
    hex.chop(1);
    return "[" + name + "] 1\n#time=1\n#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n\n";
}

} // namespace kelvane::test
