// SPDX-License-Identifier: GPL-3.0-or-later
// Opening, reading again and saving a WineRegistryFile.
#include "WineRegistryTree.h"

#include "WineServerLock.h"
#include "host/Error.h"
#include "host/HostFile.h"
#include "host/SavedFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/mman.h>
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
    // Held until the file is in place, so that no wineserver starts meanwhile.
    const WineServerLock lock(QFileInfo(m_path).absolutePath());
    if (changedOnDisk())
        throw changedError();
    const QByteArray bytes = toBytes();
    replaceFileAtomically(
        m_path, u"the registry file "_s + QDir::toNativeSeparators(m_path),
        [&bytes](int fd, const QByteArray &) { writeWhole(fd, bytes.constData(), bytes.size(), u"the new file"_s); },
        [this, &lock] {
            // Once more with the new file written: a Wine of this prefix
            // that started or saved meanwhile wins, and we refuse.
            lock.ensureStillAlone();
            if (changedOnDisk())
                throw changedError();
        },
        [this, &bytes](const FileStamp &inPlace) {
            // What is on disk now is what we hold.
            load(bytes);
            m_stamp = inPlace;
        });
}

} // namespace kelvane
