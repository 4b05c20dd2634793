// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace kelvane {

// The lock a wineserver holds on its server folder while it serves a prefix.
// Probing never starts or contacts a wineserver; it only tests the lock file.
class WineServerLock
{
public:
    // Throws Error naming the prefix when a wineserver serves it now
    // (ErrorKind::ServerRunning, its path the prefix folder), or when
    // that cannot be told (the prefix's "wineserver" file or a lock file is
    // there but is no regular file, or cannot be read).
    static void ensureNoServer(const QString &prefixFolder);

    // Takes the server lock for the prefix, making its server folder and lock
    // file as Wine would when no wineserver ran yet, so that none starts
    // while we write; throws Error when one serves it, or cannot be told.
    explicit WineServerLock(const QString &prefixFolder);
    ~WineServerLock();
    WineServerLock(const WineServerLock &) = delete;
    WineServerLock &operator=(const WineServerLock &) = delete;

    // Throws as ensureNoServer() does when a wineserver of the prefix has
    // started since the lock was taken, in a folder the lock does not cover
    // (the prefix named a new one): the last check before a file is replaced.
    void ensureStillAlone() const;

    // The server folder a wineserver starting now would use for this prefix,
    // whether it exists or not (empty when the prefix folder cannot be
    // examined); throws as ensureNoServer does when that cannot be told.
    static QString serverFolder(const QString &prefixFolder);

private:
    // ensureNoServer() over these server folders only.
    static void ensureNoServerIn(const QString &prefixFolder, const QStringList &folders);

    QString m_prefixFolder;
    QStringList m_candidates;
    int m_fd = -1;
};

} // namespace kelvane
