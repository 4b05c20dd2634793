// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileStamp.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

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
// Closes `fd`, which is gone afterwards whatever the outcome: a failure
// (an error of a network or full disk reported late) means lost data.
void closeWritten(int fd, const QString &what);
// Flushes a folder, so that a file renamed or named in it stays so after a crash.
void flushFolder(const QString &folder);
// Renames `from` to `to`, replacing it, or (`replace` false) only when no
// file is named `to`: then false when one is.
bool renameFile(const QByteArray &from, const QByteArray &to, bool replace);

// What puts the new contents into a temporary file: `fd` is open on it for
// writing, `path` names it. Throws Error when they cannot be written.
using ContentWriter = std::function<void(int fd, const QByteArray &path)>;

// Replaces `target` whole or not at all: the contents go into a hidden
// temporary beside it that has its mode, which is flushed and closed,
// every step checked; `lastCheck` then runs and may refuse by throwing;
// only then is the temporary renamed over the target, `replaced` is told
// the stamp of the file now in place, and the folder is flushed. Leftovers of an earlier save that was killed are removed first;
// on any failure the temporary is removed and the target is untouched,
// except when the folder cannot be flushed after the rename: that is said,
// never taken for done. `shown` names the target in messages ("the
// registry file /x/system.reg").
void replaceFileAtomically(const QString &target, const QString &shown, const ContentWriter &write,
                           const std::function<void()> &lastCheck,
                           const std::function<void(const FileStamp &inPlace)> &replaced);

// The mkstemp() template of the temporary that replaces `target`: hidden,
// beside it, and named so that only Kelvane's own are ever taken for leftovers.
QByteArray temporaryBeside(const QString &target);
// Removes what a save of `target` that was killed left beside it (its
// temporaries, named as temporaryBeside() names them, and as earlier
// versions of Kelvane named them). Wine's own temporaries are left alone.
void removeLeftoverTemporaries(const QString &target);

// The file calls above, as the fault tests count them.
enum class FileCall { Write, Flush, Close, Rename, FlushFolder };

// Seams of the tests, left undefined in the programs (weak): a fault test
// defines injectedFault() to make a call fail with the errno it returns
// (0: the call is made), and pauseBeforeReplacing() to act while a save
// holds its new contents, right before its last check.
int injectedFault(FileCall call) __attribute__((weak));
void pauseBeforeReplacing(const QString &target) __attribute__((weak));

} // namespace kelvane
