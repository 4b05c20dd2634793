// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A file's bytes, read or written whole, for tests. Header-only, like
// HostilePaths.h.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace kelvane::test {

// The file's bytes; empty when it cannot be read.
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Replaces the file's bytes; false when that failed.
inline bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

} // namespace kelvane::test
