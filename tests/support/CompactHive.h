// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writes a whole registry hive at once, laid out as Windows lays one out:
// each cell once, subkey lists sorted with their name hashes. A hive that
// hivex fills key by key never reuses a freed cell, so it grows with the
// square of a key's subkeys (10,000 Uninstall entries make hundreds of MB);
// benchmarks need hives of the size Windows keeps.

#include "registry/RegistryStore.h"
#include "registry/RegistryValue.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

namespace kelvane::test {

struct HiveKey
{
    QString name;
    QList<RegistryValue> values;
    std::vector<HiveKey> children;
};

// The hive file's bytes, `root` its root key. Value data up to 16,344 bytes.
QByteArray compactHive(const HiveKey &root);

// The key at `path` of a store, with its subtree, named `name`.
HiveKey hiveKeyFrom(const RegistryStore &store, const QString &path, const QString &name);

} // namespace kelvane::test
