// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstring>
#include <exception>

namespace kelvane {

// What kind of failure an Error reports, so that a user interface can word a
// refusal its own way (in the user's language); the message stays the full
// English account.
enum class ErrorKind {
    Other,
    ServerRunning, // a wineserver serves the prefix: Wine would overwrite the change
    ChangedOnDisk, // the registry file changed on disk since it was read
    ReadOnly, // the registry file or its folder cannot be written
    DiskFull, // no room (or no quota) left where the registry file is saved
    BackupFailed, // the backup a delete waits for could not be written
    EntryGone, // the entry's key is no longer in the registry: another program removed it
};

// The one error type of the core. Its message says what failed and where
// (file, line, key path), ready to be shown to the user as it stands.
class Error : public std::exception
{
public:
    // path: the file or folder the kind is about, for a message of the user
    // interface's own: the prefix folder (ServerRunning), the registry file
    // (ChangedOnDisk, ReadOnly, DiskFull), the backup folder (BackupFailed),
    // the key below HKEY_LOCAL_MACHINE (EntryGone).
    explicit Error(QString message, ErrorKind kind = ErrorKind::Other, QString path = QString())
        : m_message(std::move(message))
        , m_utf8(m_message.toUtf8())
        , m_kind(kind)
        , m_path(std::move(path))
    {
    }

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }
    ErrorKind kind() const noexcept { return m_kind; }
    const QString &path() const noexcept { return m_path; }

private:
    QString m_message;
    QByteArray m_utf8;
    ErrorKind m_kind = ErrorKind::Other;
    QString m_path;
};

// The system's words for errno `error`, in the user's language: the one
// place a failed call is put into text.
inline QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace kelvane
