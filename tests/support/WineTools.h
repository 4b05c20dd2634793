#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

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

} // namespace kelvane::test
