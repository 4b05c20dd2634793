#include "WineServerLock.h"

#include "Error.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// Every folder a wineserver of this prefix may use: upstream Wine keeps it in
// /tmp/.wine-<uid> (or /run/user/<uid>/wine), Debian's build in a folder
// whose name the prefix stores in its "wineserver" file, under $TMPDIR.
QStringList candidateFolders(const QString &prefixFolder)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(prefixFolder);
    if (::stat(native.constData(), &st) != 0)
        return {};
    const QString leaf = u"server-%1-%2"_s.arg(quint64(st.st_dev), 0, 16).arg(quint64(st.st_ino), 0, 16);
    const QString uid = QString::number(::getuid());
    QStringList result{u"/tmp/.wine-"_s + uid + u'/' + leaf, u"/run/user/"_s + uid + u"/wine/"_s + leaf};
    QFile nameFile(prefixFolder + u"/wineserver"_s);
    if (nameFile.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromUtf8(nameFile.read(256)).trimmed();
        // A plain folder name only: the file is data from the prefix.
        if (!name.isEmpty() && !name.contains(u'/') && name != u".."_s && name != u"."_s) {
            QString tmp = qEnvironmentVariable("TMPDIR");
            if (tmp.isEmpty())
                tmp = u"/tmp"_s;
            result.append(tmp + u'/' + name + u'/' + leaf);
        }
    }
    return result;
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
                 "Close the Windows programs of this prefix (or run wineserver -k) and try again."_s
                     .arg(QDir::toNativeSeparators(prefixFolder)));
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
        const QByteArray lock = QFile::encodeName(folder + u"/lock"_s);
        const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC);
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
        const QByteArray lock = QFile::encodeName(folder + u"/lock"_s);
        const int fd = ::open(lock.constData(), O_RDWR | O_CLOEXEC);
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
