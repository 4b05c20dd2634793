// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Failing disks on demand: defines the file seams of the saves, which count
// every write, flush, close, rename and folder flush, and make the chosen
// one fail. A test that links this file's object gets them; others keep the
// real calls.

#include "host/SavedFile.h"

#include <QString>

#include <functional>

namespace kelvane::test {

class FileFaults
{
public:
    // From now on the `nth` call (counted from 1) of `call` fails with `error`.
    static void failAt(FileCall call, int nth, int error);
    // No call fails from now on; the counts start again.
    static void clear();
    // The calls of this kind made since the last failAt() or clear().
    static int count(FileCall call);
    // Runs while a save holds its new contents, right before its last check;
    // empty: no pause.
    static void setPause(std::function<void(const QString &target)> pause);
};

} // namespace kelvane::test
