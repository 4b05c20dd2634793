// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

namespace kelvane {

// A file of the host that Kelvane reads but did not write: a registry, the
// settings, a language file, a program or icon that a registry value names.
// Any of them may be a pipe that never ends, a device, a folder, or a file
// that another program truncates while it is read. HostFile opens without
// blocking and refuses anything but a regular file; it reads with read(2)
// only, never through a memory map (a truncated map kills the process).
//
// Every failure throws kelvane::Error with a message that names the file and
// says what is wrong, ready to be shown as it stands.
class HostFile
{
public:
    // Opens `path` for reading. Throws when it is missing, not accessible,
    // not a regular file, or its name cannot be represented (see nameProblem).
    explicit HostFile(const QString &path);
    ~HostFile();
    HostFile(HostFile &&other) noexcept;
    HostFile(const HostFile &) = delete;
    HostFile &operator=(const HostFile &) = delete;
    HostFile &operator=(HostFile &&) = delete;

    const QString &path() const { return m_path; }
    // The path as messages show it.
    QString shownPath() const;
    // The file's status at opening time.
    const struct stat &status() const { return m_status; }
    qint64 size() const { return qint64(m_status.st_size); }
    // The open file, for a library that reads by name: "/proc/self/fd/<n>"
    // names this very file, whatever is put at its path meanwhile.
    QByteArray descriptorName() const { return "/proc/self/fd/" + QByteArray::number(m_fd); }

    // Up to `length` bytes from `offset`; fewer where the file ends.
    QByteArray read(qint64 offset, qint64 length) const;
    // The whole file as it was when opened. Throws when it is larger than
    // maxBytes, or grew or shrank while being read.
    QByteArray readAll(qint64 maxBytes) const;
    // Reads the whole file into `buffer` (already sized to size()), so a
    // caller can prepare the memory; same checks as readAll.
    void readInto(char *buffer) const;

    // Why `action` ("open", "examine") failed on `path` with errno `error`,
    // in the words every host file's failure is told in.
    static QString failureMessage(const QString &path, const QString &action, int error);
    // `path` is of type `mode` (from stat), not a regular file: in words.
    static QString notRegularMessage(const QString &path, mode_t mode);
    // Empty when Kelvane can name the file; else why not, in words. File
    // names are bytes on Linux, and Kelvane keeps them as Unicode text: a
    // name that is not valid UTF-8 (or the locale's encoding) cannot be
    // spelled again and so cannot be opened.
    static QString nameProblem(const QString &path);
    // The same check for a name given as raw bytes (an environment variable
    // or a command-line argument): empty when the bytes decode faithfully.
    static QString rawNameProblem(const QByteArray &raw);

private:
    // Closes the file (when open) and throws failureMessage's error.
    [[noreturn]] void fail(const QString &action, int error);

    QString m_path;
    int m_fd = -1;
    struct stat m_status {};
};

} // namespace kelvane
