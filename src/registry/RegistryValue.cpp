// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegistryValue.h"

#include <QtEndian>

namespace kelvane {

QString RegistryValue::text() const
{
    const qsizetype units = data.size() / 2;
    qsizetype length = 0;
    while (length < units && qFromLittleEndian<quint16>(data.constData() + 2 * length) != 0)
        ++length;
    QString result(length, Qt::Uninitialized);
    qFromLittleEndian<quint16>(data.constData(), length, result.data());
    return result;
}

std::optional<quint32> dwordOf(quint32 type, const QByteArray &data)
{
    if (type != RegDword || data.size() != 4)
        return std::nullopt;
    return qFromLittleEndian<quint32>(data.constData());
}

std::optional<quint32> RegistryValue::dword() const
{
    return dwordOf(type, data);
}

QStringList RegistryValue::multiText() const
{
    QStringList result;
    QString current;
    const qsizetype units = data.size() / 2;
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t unit = qFromLittleEndian<quint16>(data.constData() + 2 * i);
        if (unit != 0) {
            current.append(QChar(unit));
            continue;
        }
        if (current.isEmpty())
            break; // the empty text that ends the list
        result.append(current);
        current.clear();
    }
    if (!current.isEmpty())
        result.append(current);
    return result;
}

RegistryValue RegistryValue::fromText(const QString &name, const QString &text, quint32 type)
{
    QByteArray bytes(2 * (text.size() + 1), '\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), bytes.data() + 2 * i);
    return {name, type, bytes};
}

RegistryValue RegistryValue::fromDword(const QString &name, quint32 number)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(number, bytes.data());
    return {name, RegDword, bytes};
}

RegistryValue RegistryValue::fromBytes(const QString &name, quint32 type, const QByteArray &bytes)
{
    return {name, type, bytes};
}

} // namespace kelvane
