// SPDX-License-Identifier: GPL-3.0-or-later
#include "TargetRunners.h"

#include "Target.h"
#include "WindowsCommandLine.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

class WineCommand : public StartedCommand
{
public:
    WineCommand(std::unique_ptr<QProcess> program, QProcessEnvironment environment)
        : m_program(std::move(program))
        , m_environment(std::move(environment))
    {
    }

    ~WineCommand() override
    {
        // Not waited for to the end: the program goes on; its QProcess goes
        // when it ends. `wineserver -w` only waits: it is no longer wanted.
        if (m_server && m_server->state() != QProcess::NotRunning) {
            m_server->kill();
            m_server->waitForFinished(1000);
        }
        if (m_program && m_program->state() != QProcess::NotRunning) {
            QProcess *running = m_program.release();
            QObject::connect(running, &QProcess::finished, running, &QObject::deleteLater);
        }
    }

    bool waitFor(int milliseconds) override
    {
        // One deadline for the program and the server together: the caller
        // lets events through between calls, so no call may take longer.
        const QDeadlineTimer deadline(milliseconds);
        const auto remaining = [&deadline] { return int(deadline.remainingTime()); };
        if (m_program->state() != QProcess::NotRunning && !m_program->waitForFinished(remaining()))
            return false;
        if (!m_server) {
            const QString wineserver = QStandardPaths::findExecutable(u"wineserver"_s);
            if (wineserver.isEmpty())
                return true;
            m_server = std::make_unique<QProcess>();
            m_server->setProcessEnvironment(m_environment);
            m_server->setProgram(wineserver);
            m_server->setArguments({u"-w"_s});
            // Not waited for here: waitForFinished copes with a server still
            // starting, and one that failed to start is NotRunning.
            m_server->start();
        }
        return m_server->state() == QProcess::NotRunning || m_server->waitForFinished(remaining());
    }

    bool waitingForOthers() const override
    {
        return m_program->state() == QProcess::NotRunning && m_server && m_server->state() != QProcess::NotRunning;
    }

private:
    std::unique_ptr<QProcess> m_program;
    std::unique_ptr<QProcess> m_server;
    QProcessEnvironment m_environment;
};

} // namespace

quint32 WineRunner::start(const QString &commandLine, std::unique_ptr<StartedCommand> &started)
{
    started.reset();
    const ResolvedCommand resolved = ResolveCommandLine(commandLine, m_target);
    if (resolved.code != StartCode::Success)
        return resolved.code;
    const QString wine = QStandardPaths::findExecutable(u"wine"_s);
    if (wine.isEmpty())
        return StartCode::RunnerUnavailable;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"WINEPREFIX"_s, m_target.driveFolder());
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setProgram(wine);
    process->setArguments(QStringList{resolved.windowsProgram} + SplitArguments(resolved.arguments));
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(QIODevice::NotOpen);
    if (!process->waitForStarted())
        return StartCode::RunnerUnavailable;
    started = std::make_unique<WineCommand>(std::move(process), environment);
    return StartCode::Success;
}

} // namespace kelvane
