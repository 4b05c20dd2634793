// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace kelvane {

// Takes the bytes of a backup, a piece at a time; throws Error when they
// cannot be written.
using BackupSink = std::function<void(const char *data, qint64 size)>;

// Writes a new backup file in `folder` whole or not at all: `produce` writes
// it through the sink into a hidden temporary file, which is then flushed,
// checked and only then given the first free name of `name`, "name (2)"...
// (counted before its last dot); the folder is flushed last. An existing
// file is never replaced, and an empty or partial file never carries a
// backup's name, not even after a crash. Hidden temporaries that a killed
// run left in the folder are removed first. The folder, and each missing
// folder above it, is made private (0700); the file is 0600 from its first
// byte. Returns the file's path; throws Error saying what failed and why,
// of the kind its system error fits (disk full, read-only).
QString writeBackupFile(const QString &folder, const QString &name,
                        const std::function<void(const BackupSink &sink)> &produce);

} // namespace kelvane
