// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes registry hive files for tests. hivex edits hives but cannot make one
// from nothing: emptyHive() is the smallest valid hive (a base block with its
// checksum, one bin, the root key and its security cell), which hivex then
// fills.

#include "registry/RegistryValue.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

struct hive_h;

namespace kelvane::test {

// The base block's fields a test may damage.
inline constexpr int HivePrimarySequence = 0x04;
inline constexpr int HiveSecondarySequence = 0x08;
inline constexpr int HiveRootOffset = 0x24;
inline constexpr int HiveChecksum = 0x1fc;
inline constexpr int HiveBaseBlockSize = 0x1000;

QByteArray emptyHive();

// The base block's checksum: the XOR of its first 127 double words.
quint32 hiveChecksum(const QByteArray &hive);
// Writes the checksum of the base block as it is now.
void resealHive(QByteArray &hive);

// A hive file made by emptyHive() and filled through hivex, as a Windows
// disk would hold one.
class HiveBuilder
{
public:
    explicit HiveBuilder(const QString &path);
    ~HiveBuilder();
    HiveBuilder(const HiveBuilder &) = delete;
    HiveBuilder &operator=(const HiveBuilder &) = delete;

    // Adds the key below the hive's root (and the keys on its way) with these values.
    void add(const QString &keyPath, const QList<RegistryValue> &values = {});
    // Writes the hive to its file.
    void commit();

private:
    size_t node(const QString &keyPath);

    QString m_path;
    hive_h *m_hive = nullptr;
    // Keys made or found, by path: hivex looks children up one by one.
    QHash<QString, size_t> m_nodes;
};

} // namespace kelvane::test
