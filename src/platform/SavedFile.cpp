#include "SavedFile.h"

#include "Error.h"
#include "FileStamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

Error systemError(const QString &what, int error)
{
    return Error(u"%1 (%2)"_s.arg(what, QString::fromLocal8Bit(std::strerror(error))), errorKindOf(error));
}

void writeWhole(int fd, const char *data, qint64 size, const QString &what)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw systemError(u"%1 cannot be written"_s.arg(what), n < 0 ? errno : EIO);
        done += n;
    }
}

void flushData(int fd, const QString &what)
{
    if (::fdatasync(fd) != 0)
        throw systemError(u"%1 cannot be flushed to the disk"_s.arg(what), errno);
}

void flushFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw systemError(u"the folder %1 cannot be opened to flush it"_s.arg(QDir::toNativeSeparators(folder)), errno);
    const int flushed = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (flushed != 0)
        throw systemError(u"the folder %1 cannot be flushed to the disk"_s.arg(QDir::toNativeSeparators(folder)),
                          error);
}

void flushFolderOfSaved(const QString &file, const QString &shown)
{
    try {
        flushFolder(QFileInfo(file).absolutePath());
    } catch (const Error &error) {
        throw Error(u"%1 was saved, but %2: the change may not survive a crash of this machine."_s.arg(
                        shown, error.message()),
                    error.kind(), file);
    }
}

QByteArray temporaryBeside(const QString &target)
{
    const QFileInfo info(target);
    return QFile::encodeName(info.absolutePath() + u"/."_s + info.fileName() + u".kelvane-"_s) + "XXXXXX";
}

void removeLeftoverTemporaries(const QString &target)
{
    const QFileInfo info(target);
    // ".system.reg.kelvane-ab12CD", and ".system.reg.ab12CD" of earlier versions.
    const QRegularExpression ours(u"^\\."_s + QRegularExpression::escape(info.fileName())
                                  + u"\\.(kelvane-)?[A-Za-z0-9]{6}$"_s);
    const QDir folder(info.absolutePath());
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (ours.match(name).hasMatch())
            ::unlink(QFile::encodeName(folder.filePath(name)).constData());
    }
}

} // namespace kelvane
