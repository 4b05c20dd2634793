// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTest>
#include <QtGlobal>

// Skips a test (or row) that needs a tool this machine lacks. Under CI (CI
// set), which installs every tool the tests use, that is a failure instead:
// a skip there would read as a pass for a check that never ran.
#define KELVANE_SKIP_WITHOUT_TOOL(message)                                                                             \
    do {                                                                                                               \
        if (!qEnvironmentVariableIsEmpty("CI"))                                                                           \
            QFAIL(message);                                                                                            \
        QSKIP(message);                                                                                                \
    } while (false)
