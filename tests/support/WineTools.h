#pragma once

#include "platform/Error.h"
#include "platform/WineServerLock.h"

#include <QDeadlineTimer>
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
