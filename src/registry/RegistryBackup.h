// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

namespace kelvane {

class RegistryStore;

// Keeps a key before Kelvane deletes it: its whole subtree as a regedit file
// (see RegeditExport.h), one file per key, in a private folder of the user's.
// No backup, no delete: a caller changes nothing when write() throws.
class RegistryBackup
{
public:
    // $XDG_DATA_HOME/Kelvane/backups (~/.local/share/Kelvane/backups).
    static QString defaultFolder();

    explicit RegistryBackup(QString folder = defaultFolder());

    const QString &folder() const { return m_folder; }

    // Writes the subtree of `path` (below the hive) whole to a new file in
    // the folder, which is made (mode 0700) when missing, and returns the
    // file's path. Never replaces a file: a name already taken gets a
    // counter. Throws Error (ErrorKind::BackupFailed, its path the folder)
    // saying why when the backup cannot be written; no file is left then.
    QString write(const RegistryStore &store, const QString &path,
                  const QDateTime &when = QDateTime::currentDateTime()) const;

    // "<local time> <key name>.reg": the last name of the key path, with
    // what a file system may refuse (/ \ : * ? " < > |, control and other
    // invisible characters) as '_', cut short when long.
    static QString fileName(const QString &keyPath, const QDateTime &when);

private:
    QString m_folder;
};

} // namespace kelvane
