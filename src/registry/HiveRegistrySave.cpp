// SPDX-License-Identifier: GPL-3.0-or-later
// Saving an offline hive: the checks before a write, the copy of the whole
// hive before the first one, and the save itself, whole or not at all.

#include "HiveRegistryFile.h"

#include "RegistryBackup.h"
#include "config/kvConfig.h"
#include "host/BackupFile.h"
#include "host/Error.h"
#include "host/FileStamp.h"
#include "host/HostFile.h"
#include "host/SavedFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

void HiveRegistryFile::checkWritable() const
{
    if (m_path.isEmpty())
        throw Error(u"The registry hive %1 has no file to save to."_s.arg(m_name));
    if (m_dirty)
        throw Error(u"The registry hive %1 was not written to the end: its log files %1.LOG1 and %1.LOG2 hold newer "
                    "changes that Windows would apply at its next start. Kelvane only reads such a hive; start that "
                    "Windows once, or have it repaired, to change it."_s.arg(m_name),
                    // Said in these words: no catalogue text tells of log files.
                    ErrorKind::Other, m_path);
    if (changedOnDisk())
        throw changedError();
    const QString folder = QFileInfo(m_path).absolutePath();
    struct statvfs volume {};
    if (::statvfs(QFile::encodeName(folder).constData(), &volume) == 0 && (volume.f_flag & ST_RDONLY))
        throw Error(u"The disk holding %1 is mounted read-only (a Windows that was hibernated or not shut down "
                    "is mounted so), so Kelvane cannot change it."_s.arg(m_name),
                    ErrorKind::ReadOnly, m_path);
    ensureReplaceable(m_path, u"registry hive"_s);
}

Error HiveRegistryFile::changedError() const
{
    return Error(u"The registry hive %1 was changed by another program since it was read; reload it and make "
                 "the change again."_s.arg(m_name),
                 ErrorKind::ChangedOnDisk, m_path);
}

bool HiveRegistryFile::changedOnDisk() const
{
    return !m_path.isEmpty() && m_stamp.differsFrom(m_path);
}

void HiveRegistryFile::backUpWholeHive() const
{
    const QString folder = RegistryBackup::defaultFolder();
    const QString name = QDateTime::currentDateTime().toString(config::BackupDateFormat.toString()) + u' '
                         + QFileInfo(m_path).fileName() + u".hive"_s;
    try {
        writeBackupFile(folder, name, [this](const BackupSink &sink) {
            // The original bytes, as they are on disk (unchanged: checked
            // before), a piece at a time: a hive may be hundreds of MB.
            constexpr qint64 Piece = 4 << 20;
            const HostFile source(m_path);
            for (qint64 offset = 0; offset < source.size(); offset += Piece) {
                const QByteArray piece = source.read(offset, Piece);
                if (piece.size() != std::min(Piece, source.size() - offset))
                    throw Error(u"the hive changed while it was copied"_s);
                sink(piece.constData(), piece.size());
            }
        });
    } catch (const Error &error) {
        throw Error(u"Kelvane keeps a copy of a hive before it first changes it, and could not write one in %1: "
                    "%2. Nothing was changed."_s.arg(QDir::toNativeSeparators(folder), error.message()),
                    ErrorKind::BackupFailed, folder);
    }
}

void HiveRegistryFile::save()
{
    if (m_path.isEmpty())
        throw Error(u"The registry hive %1 has no file to save to."_s.arg(m_name));
    if (!m_modified)
        return;
    checkWritable();
    if (!m_backedUp) {
        backUpWholeHive();
        m_backedUp = true;
    }
    replaceFileAtomically(
        m_path, u"the registry hive "_s + m_name,
        [this](int, const QByteArray &temp) {
            // hivex writes the file itself, by its name; the writer checks
            // and flushes it through the descriptor it holds.
            if (const int fault = injectedFault ? injectedFault(FileCall::Write) : 0)
                throw systemError(u"the new file cannot be written"_s, fault);
            errno = 0;
            if (hivex_commit(m_hive.get(), temp.constData(), 0) != 0)
                throw systemError(u"the new file cannot be written"_s, errno ? errno : EIO);
        },
        [this] {
            if (changedOnDisk())
                throw changedError();
        },
        [this](const FileStamp &inPlace) {
            // What is on disk now is what hivex holds: no need to read it again.
            m_stamp = inPlace;
            m_modified = false;
        });
}

} // namespace kelvane
