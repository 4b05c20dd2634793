// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A command runner for frame tests: it records what it is asked to run and
// answers with the start codes a test chooses.

#include "FakeFrameHost.h"
#include "target/CommandRunner.h"

#include <QList>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace kelvane::test {

class RecordingRunner : public CommandRunner
{
public:
    struct Command : StartedCommand
    {
        RecordingRunner &runner;
        int polls = 0;
        explicit Command(RecordingRunner &owner) : runner(owner) {}
        bool waitFor(int) override
        {
            if (runner.window)
                runner.enabledWhileWaiting.append(runner.window->isEnabled());
            return ++polls > 2 && !runner.othersKeepRunning;
        }
        // Ended, as far as the command goes, from the third poll on.
        bool waitingForOthers() const override { return polls > 2 && runner.othersKeepRunning; }
    };
    quint32 start(const QString &commandLine, std::unique_ptr<StartedCommand> &started) override
    {
        commandLines.append(commandLine);
        if (host)
            statusWhileRunning = host->statusText();
        const quint32 code = codes.isEmpty() ? StartCode::Success : codes.takeFirst();
        if (code == StartCode::Success)
            started = std::make_unique<Command>(*this);
        return code;
    }
    QString hostFolder(const QString &) const override { return {}; }

    QList<quint32> codes; // taken from the front; empty: started
    QStringList commandLines;
    QWidget *window = nullptr;
    FakeFrameHost *host = nullptr;
    QList<bool> enabledWhileWaiting;
    bool othersKeepRunning = false; // other programs keep every wait going, until it is stopped
    QString statusWhileRunning;
};

} // namespace kelvane::test
