// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace kelvane::test {

// The environment for Wine on a test's own prefix: quiet, no Mono or Gecko
// prompts, and no display to open windows on.
inline QProcessEnvironment wineTestEnvironment(const QString &prefix)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefix);
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    env.remove(QStringLiteral("DISPLAY"));
    return env;
}

// Stops the wineserver of the environment's prefix, waiting up to 30 s: the
// clean-up of a test that ran Wine, so that no server outlives its prefix.
inline void stopWineServer(const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("wineserver"), {QStringLiteral("-k")});
    process.waitForFinished(30000);
}

} // namespace kelvane::test
