// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Texts in the byte form Windows keeps them, for tests. Header-only.

#include <QByteArray>
#include <QString>

namespace kelvane::test {

// The UTF-16LE bytes of a text, without a final NUL.
inline QByteArray utf16Bytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        bytes += char(c.unicode() & 0xff);
        bytes += char(c.unicode() >> 8);
    }
    return bytes;
}

// A registry text value's data: UTF-16LE with its final NUL.
inline QByteArray registryTextBytes(const QString &text)
{
    return utf16Bytes(text) + QByteArray(2, '\0');
}

} // namespace kelvane::test
