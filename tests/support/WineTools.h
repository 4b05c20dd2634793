// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host/Error.h"
#include "registry/WineServerLock.h"

#include "WineTestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>

namespace kelvane::test {

// Runs a tool that sets up a test prefix (wineboot, makensis, wine msiexec...)
// to its end. Empty when it exited with 0; else what failed, with its output.
inline QString runTool(const QProcessEnvironment &env, const QString &program, const QStringList &arguments,
                       const QString &folder = {}, int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    const QString what = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return QStringLiteral("did not finish in %1 ms: %2").arg(timeoutMs).arg(what);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("failed (exit %1): %2\n%3")
            .arg(process.exitCode())
            .arg(what, QString::fromLocal8Bit(process.readAll()));
    return {};
}

// Stops the wineserver of the environment's prefix, waiting up to 30 s: the
// clean-up of a test that ran Wine, so that no server outlives its prefix.
inline void stopWineServer(const QProcessEnvironment &env)
{
    runTool(env, QStringLiteral("wineserver"), {QStringLiteral("-k")}, {}, 30000);
}

// Makes a fresh prefix as a user's Wine would: `wineboot -i`, then
// `wineserver -w`, so that its registry is on disk. A Wine that fails while
// the prefix starts (it has exited with 53 at once, failing to load kernel32,
// on a loaded machine) gets up to `attempts` tries, each in a clean folder and
// said on the test's log; a failure that stays is returned, never hidden.
// Empty when the prefix is made.
inline QString makeTestPrefix(const QProcessEnvironment &env, int attempts = 3)
{
    const QString prefix = env.value(QStringLiteral("WINEPREFIX"));
    QString failed;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        failed = runTool(env, QStringLiteral("wineboot"), {QStringLiteral("-i")});
        if (failed.isEmpty())
            failed = runTool(env, QStringLiteral("wineserver"), {QStringLiteral("-w")});
        if (failed.isEmpty())
            return {};
        // Only a test's own prefix, named in full, is ever removed.
        if (attempt == attempts || prefix.isEmpty() || !QDir::isAbsolutePath(prefix))
            break;
        qWarning("Making the Wine prefix failed; trying again in a clean folder (%d of %d): %s", attempt + 1,
                 attempts, qPrintable(failed));
        stopWineServer(env);
        QDir(prefix).removeRecursively();
    }
    return failed;
}

// Starts a wineserver for the prefix that stays for a minute after its last
// client (`wineserver -p 60`), and waits until Kelvane sees it serve the
// prefix. Empty when it does; else what failed.
inline QString startLingeringWineServer(const QProcessEnvironment &env, const QString &prefix)
{
    if (const QString failed = runTool(env, QStringLiteral("wineserver"), {QStringLiteral("-p"), QStringLiteral("60")});
        !failed.isEmpty())
        return failed;
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        try {
            WineServerLock::ensureNoServer(prefix);
        } catch (const Error &) {
            return {};
        }
        QThread::msleep(50);
    }
    return QStringLiteral("the wineserver did not start for %1").arg(prefix);
}

} // namespace kelvane::test
