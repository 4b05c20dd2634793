// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostFile.h"

#include "Error.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return u"a folder"_s;
    if (S_ISFIFO(mode))
        return u"a named pipe"_s;
    if (S_ISCHR(mode))
        return u"a character device"_s;
    if (S_ISBLK(mode))
        return u"a block device"_s;
    if (S_ISSOCK(mode))
        return u"a socket"_s;
    return u"not a regular file"_s;
}

QString notTextMessage(const QString &name)
{
    return u"The name %1 is not valid UTF-8 text, so Kelvane cannot open it. Rename the file or folder "
           u"(or make a link to it whose name is valid UTF-8) and try again."_s.arg(QDir::toNativeSeparators(name));
}

} // namespace

HostFile::HostFile(const QString &path)
    : m_path(path)
{
    if (path.isEmpty())
        throw Error(u"No file name was given."_s);
    if (const QString problem = nameProblem(path); !problem.isEmpty())
        throw Error(problem);
    const QByteArray encoded = QFile::encodeName(path);
    // Refused by its type before it is opened: opening a device can act on it
    // (a watchdog arms, a tape rewinds), and Wine's Z: drive lets a registry
    // value name anything under /dev. A failing stat is left to open to word.
    if (::stat(encoded.constData(), &m_status) == 0 && !S_ISREG(m_status.st_mode))
        throw Error(notRegularMessage(m_path, m_status.st_mode));
    // O_NONBLOCK: opening a named pipe put in place meanwhile must not wait
    // for a writer. It has no effect on the regular files we go on to read.
    do
        m_fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0)
        fail(u"open"_s, errno);
    if (::fstat(m_fd, &m_status) != 0)
        fail(u"examine"_s, errno);
    if (!S_ISREG(m_status.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        throw Error(notRegularMessage(m_path, m_status.st_mode));
    }
}

HostFile::~HostFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

HostFile::HostFile(HostFile &&other) noexcept
    : m_path(std::move(other.m_path))
    , m_fd(other.m_fd)
    , m_status(other.m_status)
{
    other.m_fd = -1;
}

QString HostFile::shownPath() const
{
    return QDir::toNativeSeparators(m_path);
}

void HostFile::fail(const QString &action, int error)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    throw Error(failureMessage(m_path, action, error));
}

QString HostFile::failureMessage(const QString &path, const QString &action, int error)
{
    const QString shown = QDir::toNativeSeparators(path);
    switch (error) {
    case ENOENT:
        return u"%1 does not exist."_s.arg(shown);
    case ENOTDIR:
        return u"%1 does not exist: a part of the path is not a folder."_s.arg(shown);
    case EACCES:
    case EPERM:
        return u"Could not %1 %2: permission denied (on the file or one of the folders above it)."_s.arg(action, shown);
    default:
        return u"Could not %1 %2: %3."_s.arg(action, shown, systemReason(error));
    }
}

QString HostFile::notRegularMessage(const QString &path, mode_t mode)
{
    return u"%1 is %2, not a regular file; Kelvane reads only regular files."_s.arg(QDir::toNativeSeparators(path),
                                                                                   kindOf(mode));
}

QByteArray HostFile::read(qint64 offset, qint64 length) const
{
    if (offset < 0 || length <= 0 || offset >= size())
        return {};
    length = qMin(length, size() - offset);
    QByteArray bytes(qsizetype(length), Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, bytes.data() + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Error(failureMessage(m_path, u"read"_s, errno));
        if (n == 0)
            break; // truncated meanwhile: what is left is what there is
        done += n;
    }
    bytes.truncate(qsizetype(done));
    return bytes;
}

QByteArray HostFile::readAll(qint64 maxBytes) const
{
    if (size() > maxBytes)
        throw Error(u"%1 is too large to read (%2 bytes; at most %3 are read)."_s.arg(shownPath()).arg(size()).arg(maxBytes));
    QByteArray bytes(qsizetype(size()), Qt::Uninitialized);
    readInto(bytes.data());
    return bytes;
}

void HostFile::readInto(char *buffer) const
{
    const qint64 expected = size();
    qint64 done = 0;
    while (done < expected) {
        const ssize_t n = ::pread(m_fd, buffer + done, size_t(expected - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Error(failureMessage(m_path, u"read"_s, errno));
        if (n == 0)
            break;
        done += n;
    }
    // One byte more must find the end: else the file grew meanwhile.
    char more = 0;
    ssize_t extra = 0;
    do
        extra = ::pread(m_fd, &more, 1, off_t(expected));
    while (extra < 0 && errno == EINTR);
    if (extra < 0)
        throw Error(failureMessage(m_path, u"read"_s, errno));
    if (done != expected || extra != 0)
        throw Error(u"%1 changed while being read; try again when the program writing it is done."_s.arg(shownPath()));
}

QString HostFile::nameProblem(const QString &path)
{
    // A name decoded from bytes that were not valid text holds replacement
    // characters, and encoding it again gives other bytes.
    return path.contains(QChar::ReplacementCharacter) ? notTextMessage(path) : QString();
}

QString HostFile::rawNameProblem(const QByteArray &raw)
{
    const QString decoded = QFile::decodeName(raw);
    return QFile::encodeName(decoded) == raw ? QString() : notTextMessage(decoded);
}

} // namespace kelvane
