// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registry/RegistryStore.h"

#include <vector>

namespace kelvane::test {

// A registry hive in memory. save() keeps a copy that reload() returns to,
// so tests see exactly what a file back end would have on disk. Switches
// make checkWritable() or save() fail.
class MemoryRegistryStore : public RegistryStore
{
public:
    MemoryRegistryStore();

    QString location() const override { return QStringLiteral("memory"); }

    bool keyExists(const QString &path) const override;
    QStringList subkeyNames(const QString &path) const override;
    std::optional<RegistryValue> value(const QString &path, const QString &name) const override;
    QList<RegistryValue> values(const QString &path) const override;

    void createKey(const QString &path) override;
    void setValue(const QString &path, const RegistryValue &value) override;
    void deleteTree(const QString &path) override;

    void checkWritable() const override;
    void save() override;
    bool changedOnDisk() const override { return false; }
    void reload() override;

    // Test helpers.
    void setText(const QString &path, const QString &name, const QString &text);
    void setDword(const QString &path, const QString &name, quint32 number);
    void setBytes(const QString &path, const QString &name, quint32 type, const QByteArray &bytes);
    // Puts the current state "on disk", as after a save.
    void commit();

    bool failSave = false;     // save() throws and leaves the saved state alone
    bool refuseWrites = false; // checkWritable() throws, as while a wineserver runs
    int saveCount = 0;         // successful saves

private:
    struct Key
    {
        QString name;
        QList<RegistryValue> values;
        std::vector<Key> children;
    };

    const Key *find(const QString &path) const;
    Key &obtain(const QString &path);

    Key m_root;
    Key m_saved;
};

} // namespace kelvane::test
