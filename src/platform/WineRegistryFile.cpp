// Opening, reading again and saving a WineRegistryFile.
#include "WineRegistryTree.h"

#include "Error.h"
#include "HostFile.h"
#include "SavedFile.h"
#include "WineServerLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// Reads the file whole; a file read only in part must never be written
// back. A large buffer asks for transparent huge pages and is populated at
// once: faulting in thousands of small pages one by one can cost more than
// the reading itself, several times so in virtual machines. Either request
// failing only costs that speed.
QByteArray readWhole(const HostFile &file)
{
    const qint64 size = file.size();
    checkRegistrySize(size, file.path()); // before the memory is taken
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    constexpr qint64 largeFile = 4 << 20;
    if (size >= largeFile) {
        const quintptr page = quintptr(::sysconf(_SC_PAGESIZE));
        const quintptr first = (reinterpret_cast<quintptr>(bytes.data()) + page - 1) & ~(page - 1);
        const quintptr last = (reinterpret_cast<quintptr>(bytes.data()) + quintptr(size)) & ~(page - 1);
        void *start = reinterpret_cast<void *>(first);
        ::madvise(start, last - first, MADV_HUGEPAGE);
        ::madvise(start, last - first, MADV_POPULATE_WRITE);
    }
    file.readInto(bytes.data());
    return bytes;
}

} // namespace

WineRegistryFile::WineRegistryFile() = default;
WineRegistryFile::~WineRegistryFile() = default;

std::unique_ptr<WineRegistryFile> WineRegistryFile::open(const QString &path)
{
    std::unique_ptr<WineRegistryFile> file(new WineRegistryFile);
    file->m_path = QFileInfo(path).absoluteFilePath();
    file->m_name = file->m_path;
    file->reload();
    return file;
}

std::unique_ptr<WineRegistryFile> WineRegistryFile::fromBytes(const QByteArray &bytes, const QString &nameForMessages)
{
    std::unique_ptr<WineRegistryFile> file(new WineRegistryFile);
    file->m_name = nameForMessages;
    file->load(bytes);
    return file;
}

QString WineRegistryFile::location() const
{
    return m_name;
}

void WineRegistryFile::checkWritable() const
{
    if (m_path.isEmpty())
        throw Error(u"The registry %1 has no file to save to."_s.arg(m_name));
    const QString folder = QFileInfo(m_path).absolutePath();
    WineServerLock::ensureNoServer(folder);
    if (changedOnDisk())
        throw changedError();
    ensureReplaceable(m_path, u"registry file"_s);
}

Error WineRegistryFile::changedError() const
{
    return Error(u"The registry file %1 was changed by another program since it was read; "
                 "reload it and make the change again."_s.arg(QDir::toNativeSeparators(m_path)),
                 ErrorKind::ChangedOnDisk, m_path);
}

bool WineRegistryFile::changedOnDisk() const
{
    return !m_path.isEmpty() && m_stamp.differsFrom(m_path);
}

void WineRegistryFile::reload()
{
    if (m_path.isEmpty())
        throw Error(u"The registry %1 has no file to read again."_s.arg(m_name));
    // Opened without blocking and refused unless it is a regular file: a
    // named pipe would wait for a writer forever, a device never end.
    const HostFile file(m_path);
    const QByteArray bytes = readWhole(file);
    load(bytes);
    m_stamp = FileStamp::of(file.status());
}

void WineRegistryFile::save()
{
    if (m_path.isEmpty())
        throw Error(u"The registry %1 has no file to save to."_s.arg(m_name));
    if (!m_modified)
        return;
    const QString shown = QDir::toNativeSeparators(m_path);
    const QFileInfo info(m_path);
    // Held until the file is in place, so that no wineserver starts meanwhile.
    const WineServerLock lock(info.absolutePath());
    if (changedOnDisk())
        throw changedError();
    const QByteArray bytes = toBytes();

    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        throw Error(u"Could not examine the registry file %1: %2"_s.arg(shown, QString::fromLocal8Bit(std::strerror(errno))));
    // A save killed midway left its temporary: ours, and gone from here on.
    removeLeftoverTemporaries(m_path);
    QByteArray temp = temporaryBeside(m_path);
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int error = errno;
        throw Error(u"Could not create a temporary file beside %1: %2"_s.arg(shown, QString::fromLocal8Bit(std::strerror(error))),
                    errorKindOf(error), m_path);
    }
    auto fail = [&](const QString &what) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.constData());
        return Error(u"Could not save the registry file %1 (%2): %3"_s.arg(shown, what, QString::fromLocal8Bit(std::strerror(error))),
                     errorKindOf(error), m_path);
    };
    if (::fchmod(fd, st.st_mode & 07777) != 0)
        throw fail(u"setting its mode"_s);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw fail(u"writing"_s);
        done += n;
    }
    if (::fsync(fd) != 0)
        throw fail(u"flushing"_s);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        throw Error(u"Could not save the registry file %1 (closing): %2"_s.arg(shown, QString::fromLocal8Bit(std::strerror(error))),
                    errorKindOf(error), m_path);
    }
    if (::rename(temp.constData(), QFile::encodeName(m_path).constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        throw Error(u"Could not save the registry file %1 (replacing it): %2"_s.arg(shown, QString::fromLocal8Bit(std::strerror(error))),
                    errorKindOf(error), m_path);
    }
    // What is on disk now is what we hold.
    load(bytes);
    struct stat after {};
    if (::stat(QFile::encodeName(m_path).constData(), &after) == 0)
        m_stamp = FileStamp::of(after);
    flushFolderOfSaved(m_path, u"The registry file "_s + shown);
}

} // namespace kelvane
