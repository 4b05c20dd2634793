// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Error.h"

#include <QString>

struct stat;

namespace kelvane {

// What tells a file's contents apart without reading them: its device,
// inode, modification time and size. A store keeps the stamp of the file it
// read, to see whether another program has changed it since.
struct FileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 modifiedSeconds = 0;
    qint64 modifiedNanoseconds = 0;
    qint64 size = -1;

    static FileStamp of(const struct stat &status);
    // Whether the file at `path` is another, or changed, or gone.
    bool differsFrom(const QString &path) const;
};

// What a failed call's errno means to the user: a refusal of the file system
// (read-only) or no room left, else a failure like any other.
ErrorKind errorKindOf(int error);

// Throws ReadOnly naming the first of the file and its folder that cannot be
// written: saving replaces the file from beside it. `what` is how the file
// is called in the message ("registry file", "registry hive").
void ensureReplaceable(const QString &file, const QString &what);

} // namespace kelvane
