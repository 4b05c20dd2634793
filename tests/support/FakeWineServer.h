// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A running wineserver as Kelvane sees one: the write lock on the lock file
// of the prefix's server folder. Header-only, like HostilePaths.h.

#include "registry/WineServerLock.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvane::test {

// Gives the prefix a server folder in Debian's layout,
// $TMPDIR/<name in the prefix's "wineserver" file>/server-<dev>-<ino>, with
// TMPDIR set to `root`. Returns that folder, made; empty when that failed.
inline QString makeServerFolder(const QString &prefix, const QString &root)
{
    QFile name(prefix + QStringLiteral("/wineserver"));
    if (!name.open(QIODevice::WriteOnly | QIODevice::Truncate) || name.write("wine-kelvanetest\n") != 17)
        return {};
    name.close();
    qputenv("TMPDIR", QFile::encodeName(root));
    const QString server = WineServerLock::serverFolder(prefix);
    if (!server.startsWith(root + QStringLiteral("/wine-kelvanetest/server-")) || !QDir().mkpath(server))
        return {};
    return server;
}

// Holds the write lock on `lockFile` in a child process (fcntl locks are per
// process, so our own would not show), as a running wineserver does, until
// destroyed.
class ServerLockHolder
{
public:
    explicit ServerLockHolder(const QString &lockFile)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        if (::pipe(m_release) != 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return;
        }
        const QByteArray path = QFile::encodeName(lockFile); // the child only makes system calls
        m_pid = ::fork();
        if (m_pid == 0) {
            const int fd = ::open(path.constData(), O_RDWR | O_CREAT, 0600);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_len = 1;
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            char c;
            (void)!::read(m_release[0], &c, 1);
            ::_exit(0);
        }
        char ok = 0;
        m_locked = m_pid > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~ServerLockHolder()
    {
        if (m_pid > 0) {
            (void)!::write(m_release[1], "x", 1);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_release[0] >= 0) {
            ::close(m_release[0]);
            ::close(m_release[1]);
        }
    }
    ServerLockHolder(const ServerLockHolder &) = delete;
    ServerLockHolder &operator=(const ServerLockHolder &) = delete;

    bool locked() const { return m_locked; }

private:
    int m_release[2] = {-1, -1};
    pid_t m_pid = -1;
    bool m_locked = false;
};

} // namespace kelvane::test
