// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace kelvane {

// Value types as Windows numbers them. Any other number is a valid type too:
// its bytes are kept as they are.
enum RegistryType : quint32 {
    RegNone = 0,
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegDwordBigEndian = 5,
    RegLink = 6,
    RegMultiSz = 7,
    RegQword = 11,
};

// The number of a REG_DWORD of exactly four bytes: how every reader takes a
// number, from a whole value or from a store's reading.
std::optional<quint32> dwordOf(quint32 type, const QByteArray &data);

// One named value of a key, with its data in the byte form Windows keeps:
// texts as UTF-16LE with their final NUL, numbers little-endian.
struct RegistryValue
{
    QString name; // empty for the key's default value
    quint32 type = RegNone;
    QByteArray data;

    bool isText() const { return type == RegSz || type == RegExpandSz; }
    // The text up to the first NUL (or the end), for any type.
    QString text() const;
    // The number of a REG_DWORD of exactly four bytes.
    std::optional<quint32> dword() const;
    // The texts of a REG_MULTI_SZ, without the empty one that ends the list.
    QStringList multiText() const;

    static RegistryValue fromText(const QString &name, const QString &text, quint32 type = RegSz);
    static RegistryValue fromDword(const QString &name, quint32 number);
    static RegistryValue fromBytes(const QString &name, quint32 type, const QByteArray &bytes);

    friend bool operator==(const RegistryValue &, const RegistryValue &) = default;
};

} // namespace kelvane
