#pragma once

#include <QString>

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

    // Takes the server lock for the prefix (when its server folder exists), so
    // that no wineserver starts while we write; throws Error when one serves it.
    explicit WineServerLock(const QString &prefixFolder);
    ~WineServerLock();
    WineServerLock(const WineServerLock &) = delete;
    WineServerLock &operator=(const WineServerLock &) = delete;

    // The server folder Wine uses for this prefix, whether it exists or not
    // (empty when the prefix folder cannot be examined); throws as
    // ensureNoServer does when that cannot be told.
    static QString serverFolder(const QString &prefixFolder);

private:
    int m_fd = -1;
};

} // namespace kelvane
