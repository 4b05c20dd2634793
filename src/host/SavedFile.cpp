// SPDX-License-Identifier: GPL-3.0-or-later
#include "SavedFile.h"

#include "Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// The errno a fault test makes `call` fail with, or 0.
int faultOf(FileCall call)
{
    return injectedFault ? injectedFault(call) : 0;
}

// Flushes the folder of `file`, just renamed into place: a failure says that
// the new file is in place but may not survive a crash, never that it is done.
void flushFolderOfSaved(const QString &file, const QString &shown)
{
    try {
        flushFolder(QFileInfo(file).absolutePath());
    } catch (const Error &error) {
        QString said = shown;
        said[0] = said[0].toUpper();
        throw Error(u"%1 was saved, but %2: the change may not survive a crash of this machine."_s.arg(
                        said, error.message()),
                    error.kind(), file);
    }
}

} // namespace

Error systemError(const QString &what, int error)
{
    return Error(u"%1 (%2)"_s.arg(what, systemReason(error)), errorKindOf(error));
}

void writeWhole(int fd, const char *data, qint64 size, const QString &what)
{
    qint64 done = 0;
    while (done < size) {
        if (const int fault = faultOf(FileCall::Write))
            throw systemError(u"%1 cannot be written"_s.arg(what), fault);
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
    const int fault = faultOf(FileCall::Flush);
    if (fault != 0 || ::fdatasync(fd) != 0)
        throw systemError(u"%1 cannot be flushed to the disk"_s.arg(what), fault ? fault : errno);
}

void closeWritten(int fd, const QString &what)
{
    const int fault = faultOf(FileCall::Close);
    if (::close(fd) != 0 || fault != 0)
        throw systemError(u"%1 cannot be closed"_s.arg(what), fault ? fault : errno);
}

void flushFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw systemError(u"the folder %1 cannot be opened to flush it"_s.arg(QDir::toNativeSeparators(folder)), errno);
    const int fault = faultOf(FileCall::FlushFolder);
    const int flushed = fault ? -1 : ::fsync(fd);
    const int error = fault ? fault : errno;
    ::close(fd);
    if (flushed != 0)
        throw systemError(u"the folder %1 cannot be flushed to the disk"_s.arg(QDir::toNativeSeparators(folder)),
                          error);
}

bool renameFile(const QByteArray &from, const QByteArray &to, bool replace)
{
    const auto refused = [&to](int error) {
        return systemError(u"%1 cannot be named"_s.arg(QDir::toNativeSeparators(QFile::decodeName(to))), error);
    };
    if (const int fault = faultOf(FileCall::Rename))
        throw refused(fault);
    if (replace) {
        if (::rename(from.constData(), to.constData()) != 0)
            throw refused(errno);
        return true;
    }
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (const int error = errno; error == EEXIST)
        return false;
    else if (error != EINVAL && error != ENOSYS)
        throw refused(error);
    // A file system without an exclusive rename: a link claims the name as surely.
    if (::link(from.constData(), to.constData()) != 0) {
        const int error = errno;
        if (error == EEXIST)
            return false;
        throw refused(error);
    }
    ::unlink(from.constData());
    return true;
}

void replaceFileAtomically(const QString &target, const QString &shown, const ContentWriter &write,
                           const std::function<void()> &lastCheck,
                           const std::function<void(const FileStamp &inPlace)> &replaced)
{
    const QByteArray native = QFile::encodeName(target);
    struct stat old {};
    if (::stat(native.constData(), &old) != 0) {
        const int error = errno;
        throw Error(u"Could not examine %1: %2"_s.arg(shown, systemReason(error)),
                    errorKindOf(error), target);
    }
    removeLeftoverTemporaries(target);
    QByteArray temp = temporaryBeside(target);
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Error(u"Could not create a temporary file beside %1: %2"_s.arg(
                        QDir::toNativeSeparators(target), systemReason(error)),
                    errorKindOf(error), target);
    }
    bool open = true;
    const QString step = u"the new file"_s;
    struct stat written {};
    const auto discard = [&] {
        if (open)
            ::close(fd);
        ::unlink(temp.constData());
    };
    try {
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            throw systemError(u"its mode cannot be set"_s, errno);
        write(fd, temp);
        flushData(fd, step);
        if (::fstat(fd, &written) != 0)
            throw systemError(u"the new file cannot be examined"_s, errno);
        open = false;
        closeWritten(fd, step);
        if (pauseBeforeReplacing)
            pauseBeforeReplacing(target);
        if (lastCheck)
            lastCheck();
        renameFile(temp, native, true);
    } catch (const Error &error) {
        discard();
        if (!error.path().isEmpty())
            throw; // a refusal of the last check, complete in itself
        throw Error(u"Could not save %1: %2"_s.arg(shown, error.message()), error.kind(), target);
    } catch (...) {
        discard();
        throw;
    }
    // What is on disk now is what was written: the rename keeps the inode.
    replaced(FileStamp::of(written));
    flushFolderOfSaved(target, shown);
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
