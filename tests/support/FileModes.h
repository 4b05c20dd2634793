// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ChildProcess.h"

namespace kelvane::test {

// While one lives, the calling thread's file permission checks apply to
// root as to any user: root's override (CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH) leaves the effective set and comes back at the end.
// So a test of a read-only file or folder is run, not skipped, as root (CI).
// Nothing changes for another user. Opening, writing and renaming follow the
// effective set; access(), and with it QFileInfo::isReadable() and
// isWritable(), still answers as root: for those, dropRootOverrideForGood()
// in a child process.
class FileModesApply
{
public:
    FileModesApply();
    ~FileModesApply();
    FileModesApply(const FileModesApply &) = delete;
    FileModesApply &operator=(const FileModesApply &) = delete;

    // False when the override could not be lowered: the modes are not checked.
    bool applies() const { return m_applies; }

private:
    bool m_applies = true;
    bool m_lowered = false;
    unsigned m_savedEffective = 0;
};

// Gives up root's override for the rest of the process (effective,
// permitted and inheritable), so that also access() and QFileInfo's
// permission checks, which look at the permitted set, answer as for a user.
// For a child process of a test (answerFromChild). False when that failed.
bool dropRootOverrideForGood();

// What `work` returns in a child process that gave up root's override for
// good (answerFromChild, stopped after `seconds`); "(cannot drop root's
// permission override)" when it could not.
inline QByteArray answerWithoutRootOverride(const std::function<QByteArray()> &work, int seconds)
{
    return answerFromChild(
        [&]() -> QByteArray {
            if (!dropRootOverrideForGood())
                return "(cannot drop root's permission override)";
            return work();
        },
        seconds);
}

} // namespace kelvane::test
