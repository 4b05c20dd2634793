// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registry/RegistryStore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <span>
#include <utility>

namespace kelvane {

struct RegistryValue;

// The one way into the registry (the target's HKEY_LOCAL_MACHINE): at most
// one current key; a path with a leading '\' is absolute, else relative to
// the current key (or the hive when none is open). Texts stay Unicode.
//
// Every write goes to disk at once. A write refused (e.g. a wineserver serves
// the prefix) or a failed save throws kelvane::Error, with the kind and path
// the store gave it, and leaves the store as it was on disk.
class RegistryAccess
{
public:
    explicit RegistryAccess(RegistryStore &store);

    // False when the key is missing; the previous key then stays current.
    bool OpenForRead(const QString &path);
    // Creates the key when missing.
    bool OpenForWrite(const QString &path);
    void CloseCurrent();
    bool KeyPresent(const QString &path) const;
    // Deletes the key with all its subkeys; false when it was not there.
    // backUp, when given, is called with the key's path below the hive once
    // the store has agreed to be written and before anything changes: an
    // Error it throws refuses the delete.
    bool DeleteTree(const QString &path, const std::function<void(const QString &)> &backUp = {});

    // The first key on the way to path that its parent lists but that cannot
    // be opened: a link that loops, passes too many links or leads to no key
    // of this hive. Empty when the path opens, or is simply not there.
    QString UnreachableKey(const QString &path) const;

    // Subkey names of the current key; empty when none is open.
    QStringList SubkeyNames() const;

    // The single-value reads below are the access interface of the program's
    // design; the scan itself reads each key in one pass, through ReadValues.

    // Text of a plain or expandable text value, unexpanded; "" when missing.
    // Throws for a value of another kind.
    QString ReadText(const QString &name) const;
    // A REG_DWORD as a signed 32-bit number; throws when missing or not one.
    qint32 ReadNumber(const QString &name) const;
    bool ReadFlag(const QString &name) const { return ReadNumber(name) != 0; }
    // A binary value's bytes; empty when missing. Throws when it is not
    // binary or longer than maxSize.
    QByteArray ReadBytes(const QString &name, qsizetype maxSize) const;
    bool HasValue(const QString &name) const;
    // Several values of the current key in one read: readings[i] for
    // names[i], nothing where a value is missing or no key is open.
    void ReadValues(std::span<const QString> names, std::optional<RegistryStore::Reading> *readings) const;
    void WriteText(const QString &name, const QString &text);
    // Writes text values into the current key in one save, all or none.
    // backUp, when given, is called with the key's path as DeleteTree's is.
    void WriteTexts(const QList<std::pair<QString, QString>> &values,
                    const std::function<void(const QString &)> &backUp = {});

    // Path of the current key below the hive, no leading '\'; "" when none.
    QString CurrentKeyPath() const { return m_current.value_or(QString()); }

private:
    QString resolve(const QString &path) const;
    std::optional<RegistryValue> currentValue(const QString &name) const;
    QString describe(const QString &valueName) const;
    // checkWritable, change, save; a failed save drops the change.
    template<typename Change>
    void write(const QString &what, Change change);

    RegistryStore &m_store;
    std::optional<QString> m_current;
};

} // namespace kelvane
