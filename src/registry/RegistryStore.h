// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RegistryValue.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <span>

namespace kelvane {

// One registry hive (for Kelvane: HKEY_LOCAL_MACHINE of the managed Windows).
//
// Paths are relative to the hive's root: names joined by '\', no leading '\';
// the empty path is the root. Key and value names compare without regard to
// case (Unicode lowercase) and keep the case they were stored with. Subkeys
// are listed in the store's own order.
//
// Reading never fails: a missing key or value is an empty answer. Every
// writing operation changes the in-memory hive only; save() puts all changes
// on disk, whole or not at all. Failures throw kelvane::Error with a message
// naming the file and the key.
class RegistryStore
{
public:
    virtual ~RegistryStore() = default;

    // The file (or folder) this hive lives in, for messages and the status bar.
    virtual QString location() const = 0;

    virtual bool keyExists(const QString &path) const = 0;
    virtual QStringList subkeyNames(const QString &path) const = 0;
    virtual std::optional<RegistryValue> value(const QString &path, const QString &name) const = 0;
    virtual QList<RegistryValue> values(const QString &path) const = 0;

    // A value as a reader wants it: a REG_SZ or REG_EXPAND_SZ as its text up
    // to the first NUL (as RegistryValue::text() reads it), any other type as
    // its bytes. A scan reads mostly texts: a back end may read them without
    // making their bytes first.
    struct Reading
    {
        quint32 type = RegNone;
        QString text; // of a text type only
        QByteArray data; // of any other type only

        bool isText() const { return type == RegSz || type == RegExpandSz; }
        std::optional<quint32> dword() const { return dwordOf(type, data); }
        friend bool operator==(const Reading &, const Reading &) = default;
        static Reading of(const RegistryValue &value)
        {
            return value.isText() ? Reading{value.type, value.text(), {}} : Reading{value.type, {}, value.data};
        }
    };
    // One value; nothing when missing.
    virtual std::optional<Reading> read(const QString &path, const QString &name) const
    {
        const auto found = value(path, name);
        return found ? std::optional<Reading>(Reading::of(*found)) : std::nullopt;
    }
    // Several values of one key: readings[i] for names[i], nothing where one
    // is missing. For a reader that wants most of a key, in one pass where
    // the back end can.
    virtual void readMany(const QString &path, std::span<const QString> names, std::optional<Reading> *readings) const
    {
        for (size_t i = 0; i < names.size(); ++i)
            readings[i] = read(path, names[i]);
    }

    // Whether `path` names a key that its parent lists but that cannot be
    // opened: a symbolic link that loops, passes too many links or leads to
    // no key. The default looks through the parent's subkey names; a back
    // end that knows its links answers without listing them.
    virtual bool isBrokenLink(const QString &path) const
    {
        if (keyExists(path))
            return false;
        const qsizetype cut = path.lastIndexOf(u'\\');
        const QString parent = cut < 0 ? QString() : path.left(cut);
        const QString name = path.mid(cut + 1);
        const QStringList listed = subkeyNames(parent);
        return std::any_of(listed.begin(), listed.end(), [&name](const QString &subkey) {
            return subkey.compare(name, Qt::CaseInsensitive) == 0;
        });
    }

    // Whether `path` names a symbolic link key itself (the link is not
    // followed at the end of the path). A back end without links has none.
    virtual bool isLink(const QString &path) const
    {
        Q_UNUSED(path);
        return false;
    }

    // Whether newer changes than what is read exist elsewhere (a hive's log
    // files): the list may be out of date, and nothing can be saved.
    virtual bool mayBeOutOfDate() const { return false; }

    // Creates the key and any missing parent. Creating an existing key does nothing.
    virtual void createKey(const QString &path) = 0;
    // Creates the key when missing; replaces a value of the same name.
    virtual void setValue(const QString &path, const RegistryValue &value) = 0;
    // Deletes the key with all its subkeys; a missing key is no error.
    virtual void deleteTree(const QString &path) = 0;

    // Throws when a change could not be saved now, with the ErrorKind that
    // says why: for a Wine prefix, while a wineserver serves it (Wine would
    // overwrite the edit), when the file changed on disk since it was read,
    // or when the file or its folder is read-only.
    virtual void checkWritable() const = 0;
    // Writes all changes since the last load or save. On failure the file
    // on disk is left as it was and the error is thrown (ErrorKind::ReadOnly
    // or DiskFull where the system said so).
    virtual void save() = 0;

    // Whether the file on disk differs from what was loaded: one stat, no parse.
    virtual bool changedOnDisk() const = 0;
    // Drops the in-memory hive, including unsaved changes, and reads the file again.
    virtual void reload() = 0;
};

} // namespace kelvane
