// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileStamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

FileStamp FileStamp::of(const struct stat &status)
{
    return {quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_mtim.tv_sec),
            qint64(status.st_mtim.tv_nsec), qint64(status.st_size)};
}

bool FileStamp::differsFrom(const QString &path) const
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return true;
    const FileStamp now = of(status);
    return now.device != device || now.inode != inode || now.modifiedSeconds != modifiedSeconds
           || now.modifiedNanoseconds != modifiedNanoseconds || now.size != size;
}

ErrorKind errorKindOf(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrorKind::ReadOnly;
    case ENOSPC:
    case EDQUOT:
        return ErrorKind::DiskFull;
    default:
        return ErrorKind::Other;
    }
}

void ensureReplaceable(const QString &file, const QString &what)
{
    // A file made read-only is taken as meant to stay as it is, also for
    // root, whom access() lets write anything.
    for (const QString &path : {file, QFileInfo(file).absolutePath()}) {
        struct stat status {};
        const bool modeWritable = ::stat(QFile::encodeName(path).constData(), &status) != 0
                                  || (status.st_mode & 0222) != 0;
        if (modeWritable
            && (::access(QFile::encodeName(path).constData(), W_OK) == 0 || errorKindOf(errno) != ErrorKind::ReadOnly))
            continue;
        throw Error(u"%1 is read-only, so Kelvane cannot change the %2 %3. Make it writable and try again."_s.arg(
                        QDir::toNativeSeparators(path), what, QDir::toNativeSeparators(file)),
                    ErrorKind::ReadOnly, path);
    }
}

} // namespace kelvane
