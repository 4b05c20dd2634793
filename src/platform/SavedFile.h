#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace kelvane {

class Error;

// The steps a file saved whole takes, each checked: a failure throws Error
// naming what (`what`) and why, of the kind its system error fits.

// "<what> (<the system's reason>)", of the kind `error` fits.
Error systemError(const QString &what, int error);

// Writes all of `data` to `fd`.
void writeWhole(int fd, const char *data, qint64 size, const QString &what);
// Flushes the file's data to the disk (fdatasync).
void flushData(int fd, const QString &what);
// Flushes a folder, so that a file renamed or named in it stays so after a crash.
void flushFolder(const QString &folder);
// flushFolder() for the folder of `file`, just saved and renamed into place
// as `shown` ("The registry file /x/system.reg"): a failure says that the
// save is in place but may not survive a crash, never that it is done.
void flushFolderOfSaved(const QString &file, const QString &shown);

// The mkstemp() template of the temporary that replaces `target`: hidden,
// beside it, and named so that only Kelvane's own are ever taken for leftovers.
QByteArray temporaryBeside(const QString &target);
// Removes what a save of `target` that was killed left beside it (its
// temporaries, named as temporaryBeside() names them, and as earlier
// versions of Kelvane named them). Wine's own temporaries are left alone.
void removeLeftoverTemporaries(const QString &target);

} // namespace kelvane
