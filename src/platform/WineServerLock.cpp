#include "WineServerLock.h"

#include "Error.h"
#include "HostFile.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

Error cannotTell(const QString &prefixFolder, const QString &reason)
{
    return Error(u"Kelvane cannot tell whether a wineserver serves the Wine prefix %1, so it changes nothing: %2 "
                 u"Repair or remove that file while no Windows program of the prefix runs, and try again."_s.arg(
                     QDir::toNativeSeparators(prefixFolder), reason));
}

// Every folder a wineserver of this prefix may use: upstream Wine keeps it in
// /tmp/.wine-<uid> (or /run/user/<uid>/wine), Debian's build in a folder
// whose name the prefix stores in its "wineserver" file, under $TMPDIR.
// Throws when that file is there but cannot be read (a named pipe, say):
// leaving its folder out could take a running server for none.
QStringList candidateFolders(const QString &prefixFolder)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(prefixFolder);
    if (::stat(native.constData(), &st) != 0)
        return {};
    const QString leaf = u"server-%1-%2"_s.arg(quint64(st.st_dev), 0, 16).arg(quint64(st.st_ino), 0, 16);
    const QString uid = QString::number(::getuid());
    QStringList result{u"/tmp/.wine-"_s + uid + u'/' + leaf, u"/run/user/"_s + uid + u"/wine/"_s + leaf};
    const QString namePath = prefixFolder + u"/wineserver"_s;
    struct stat nameStatus {};
    if (::stat(QFile::encodeName(namePath).constData(), &nameStatus) != 0 && errno == ENOENT)
        return result; // upstream Wine writes no such file
    QByteArray bytes;
    try {
        bytes = HostFile(namePath).read(0, 256);
    } catch (const Error &error) {
        throw cannotTell(prefixFolder, error.message());
    }
    const QString name = QString::fromUtf8(bytes).trimmed();
    // A plain folder name only: the file is data from the prefix.
    if (!name.isEmpty() && !name.contains(u'/') && name != u".."_s && name != u"."_s) {
        QString tmp = qEnvironmentVariable("TMPDIR");
        if (tmp.isEmpty())
            tmp = u"/tmp"_s;
        result.append(tmp + u'/' + name + u'/' + leaf);
    }
    return result;
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
    for (const QString &folder : candidates) {
        if (QFile::exists(folder))
            return folder;
    }
    return candidates.isEmpty() ? QString() : candidates.constLast();
}

void WineServerLock::ensureNoServer(const QString &prefixFolder)
{
    for (const QString &folder : candidateFolders(prefixFolder)) {
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
{
    ensureNoServer(prefixFolder);
    // The folder Wine uses for this prefix: the one whose lock file exists.
    for (const QString &folder : candidateFolders(prefixFolder)) {
        const int fd = openLock(prefixFolder, folder, O_RDWR);
        if (fd < 0)
            continue;
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 0;
        fl.l_len = 1;
        if (::fcntl(fd, F_SETLK, &fl) != 0) {
            ::close(fd);
            throw serverRunning(prefixFolder);
        }
        // While we hold it, a wineserver starting for this prefix cannot take it.
        m_fd = fd;
        return;
    }
}

WineServerLock::~WineServerLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace kelvane
