// SPDX-License-Identifier: GPL-3.0-or-later
#include "WineServerLock.h"

#include "host/Error.h"
#include "host/FileStamp.h"
#include "host/HostFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

Error cannotTell(const QString &prefixFolder, const QString &reason)
{
    return Error(u"Kelvane cannot tell whether a wineserver serves the Wine prefix %1, so it changes nothing: %2 "
                 u"Repair or remove that file while no Windows program of the prefix runs, and try again."_s.arg(
                     QDir::toNativeSeparators(prefixFolder), reason));
}

// Every folder a wineserver of this prefix may use, the one Wine makes for
// it first: Debian's build keeps it in a folder whose name the prefix stores
// in its "wineserver" file, under $TMPDIR; upstream Wine in /tmp/.wine-<uid>
// (or /run/user/<uid>/wine). Throws when that file is there but cannot be
// read (a named pipe, say): leaving its folder out could take a running
// server for none.
QStringList candidateFolders(const QString &prefixFolder)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(prefixFolder);
    if (::stat(native.constData(), &st) != 0)
        return {};
    const QString leaf = u"server-%1-%2"_s.arg(quint64(st.st_dev), 0, 16).arg(quint64(st.st_ino), 0, 16);
    const QString uid = QString::number(::getuid());
    const QStringList upstream{u"/tmp/.wine-"_s + uid + u'/' + leaf, u"/run/user/"_s + uid + u"/wine/"_s + leaf};
    const QString namePath = prefixFolder + u"/wineserver"_s;
    struct stat nameStatus {};
    if (::stat(QFile::encodeName(namePath).constData(), &nameStatus) != 0 && errno == ENOENT)
        return upstream; // upstream Wine writes no such file
    QByteArray bytes;
    try {
        bytes = HostFile(namePath).read(0, 256);
    } catch (const Error &error) {
        throw cannotTell(prefixFolder, error.message());
    }
    const QString name = QString::fromUtf8(bytes).trimmed();
    // A plain folder name only: the file is data from the prefix.
    if (name.isEmpty() || name.contains(u'/') || name == u".."_s || name == u"."_s)
        return upstream;
    QString tmp = qEnvironmentVariable("TMPDIR");
    if (tmp.isEmpty())
        tmp = u"/tmp"_s;
    return QStringList{tmp + u'/' + name + u'/' + leaf} + upstream;
}

// The server folder or lock file `path` cannot be made: nothing is changed.
Error cannotLock(const QString &prefixFolder, const QString &path, int error)
{
    return Error(u"Kelvane cannot make %1, where Wine keeps the lock that keeps a wineserver of the prefix %2 from "
                 u"starting during a save (%3), so it changes nothing."_s.arg(
                     path, QDir::toNativeSeparators(prefixFolder), systemReason(error)),
                 errorKindOf(error), prefixFolder);
}

// Makes the server folder as Wine would (each missing folder 0700), so that
// its lock can be taken before any wineserver ran. Refuses one that is not
// a folder of the user's own that only the user may enter: Wine refuses
// those too.
void makeServerFolder(const QString &prefixFolder, const QString &folder)
{
    const QString base = folder.left(folder.lastIndexOf(u'/'));
    for (const QString &level : {base, folder}) {
        const QByteArray native = QFile::encodeName(level);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            throw cannotLock(prefixFolder, level, errno);
        struct stat st {};
        if (::lstat(native.constData(), &st) != 0)
            throw cannotTell(prefixFolder, HostFile::failureMessage(level, u"examine"_s, errno));
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
            throw cannotTell(prefixFolder, u"%1 is not a private folder of this user."_s.arg(level));
    }
}

// The lock file of a server folder opened with `mode` (O_RDONLY to test the
// lock, O_RDWR to take it), or -1 when there is none: no server ever ran
// there. Anything else that is there is refused in words: a named pipe would
// block the open, a device would be acted on, and neither tells whether a
// server runs.
int openLock(const QString &prefixFolder, const QString &folder, int mode)
{
    const QString path = folder + u"/lock"_s;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return -1;
        throw cannotTell(prefixFolder, HostFile::failureMessage(path, u"examine"_s, errno));
    }
    if (!S_ISREG(st.st_mode))
        throw cannotTell(prefixFolder, HostFile::notRegularMessage(path, st.st_mode));
    int fd = -1;
    do
        fd = ::open(native.constData(), mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT)
            return -1; // removed meanwhile
        throw cannotTell(prefixFolder, HostFile::failureMessage(path, u"open"_s, errno));
    }
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        throw cannotTell(prefixFolder, HostFile::failureMessage(path, u"examine"_s, error));
    }
    if (!S_ISREG(st.st_mode)) { // replaced between the stat and the open
        ::close(fd);
        throw cannotTell(prefixFolder, HostFile::notRegularMessage(path, st.st_mode));
    }
    return fd;
}

bool lockHeld(int fd)
{
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    if (::fcntl(fd, F_GETLK, &fl) != 0)
        return false;
    return fl.l_type != F_UNLCK;
}

Error serverRunning(const QString &prefixFolder)
{
    return Error(u"A wineserver is running for the Wine prefix %1; Wine would overwrite the change. "
                 "Close the Windows programs of this prefix, or wait for them to end "
                 "(WINEPREFIX=\"%1\" wineserver -w), and try again."_s.arg(QDir::toNativeSeparators(prefixFolder)),
                 ErrorKind::ServerRunning, prefixFolder);
}

} // namespace

QString WineServerLock::serverFolder(const QString &prefixFolder)
{
    const QStringList candidates = candidateFolders(prefixFolder);
    return candidates.isEmpty() ? QString() : candidates.constFirst();
}

void WineServerLock::ensureNoServer(const QString &prefixFolder)
{
    ensureNoServerIn(prefixFolder, candidateFolders(prefixFolder));
}

void WineServerLock::ensureNoServerIn(const QString &prefixFolder, const QStringList &folders)
{
    for (const QString &folder : folders) {
        const int fd = openLock(prefixFolder, folder, O_RDONLY);
        if (fd < 0)
            continue;
        const bool held = lockHeld(fd);
        ::close(fd);
        if (held)
            throw serverRunning(prefixFolder);
    }
}

WineServerLock::WineServerLock(const QString &prefixFolder)
    : m_prefixFolder(prefixFolder)
{
    ensureNoServer(prefixFolder);
    m_candidates = candidateFolders(prefixFolder);
    if (m_candidates.isEmpty())
        return; // no prefix folder: nothing to save there either
    // The folder a wineserver starting now would lock, made if need be.
    const QString folder = m_candidates.constFirst();
    m_fd = openLock(prefixFolder, folder, O_RDWR);
    // A registry file outside a prefix (a copy, the sample) has no Wine to
    // keep out: the checks alone do there, and nothing is made for it.
    if (m_fd < 0 && !QFileInfo::exists(prefixFolder + u"/drive_c"_s))
        return;
    if (m_fd < 0) {
        makeServerFolder(prefixFolder, folder);
        const QString path = folder + u"/lock"_s;
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      0600);
        if (m_fd < 0)
            throw cannotLock(prefixFolder, path, errno);
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(std::exchange(m_fd, -1));
            throw cannotTell(prefixFolder, HostFile::notRegularMessage(path, st.st_mode));
        }
    }
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    if (::fcntl(m_fd, F_SETLK, &fl) != 0) {
        ::close(std::exchange(m_fd, -1));
        throw serverRunning(prefixFolder);
    }
    // While we hold it, a wineserver starting for this prefix cannot take it:
    // it ends, and its Windows program with it, without reading the registry.
}

void WineServerLock::ensureStillAlone() const
{
    // A "wineserver" file written meanwhile names a folder the lock does not
    // cover: a Wine of this prefix has started.
    const QStringList now = candidateFolders(m_prefixFolder);
    if (m_fd >= 0 && now != m_candidates)
        throw serverRunning(m_prefixFolder);
    // Not the folder whose lock we hold: closing any descriptor of that lock
    // file would release our lock, and holding it proves no server is there.
    ensureNoServerIn(m_prefixFolder, m_fd >= 0 ? now.mid(1) : now);
}

WineServerLock::~WineServerLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace kelvane
