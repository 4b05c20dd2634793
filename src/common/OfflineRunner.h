#pragma once

#include "CommandRunner.h"

namespace kelvane {

class Target;

// The runner of a target that has no Windows to run anything in (the sample,
// a registry file named on its own): it resolves each command line on the
// target's drives, so a missing program reads as missing, and answers
// StartCode::OfflineTarget for a program that exists. It never runs anything.
class OfflineRunner : public CommandRunner
{
public:
    explicit OfflineRunner(const Target &target);

    quint32 start(const QString &commandLine, std::unique_ptr<StartedCommand> &started) override;
    QString hostFolder(const QString &windowsFolder) const override;

private:
    const Target &m_target;
};

// The host folder of an existing Windows folder of `target`, else empty.
QString TargetHostFolder(const Target &target, const QString &windowsFolder);

} // namespace kelvane
