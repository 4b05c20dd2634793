// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CommandRunner.h"

namespace kelvane {

class Target;

// What the runners of a target share: resolution on its drives and its folders.
class TargetRunner : public CommandRunner
{
public:
    explicit TargetRunner(const Target &target);
    QString hostFolder(const QString &windowsFolder) const override;
    bool mapsPath(const QString &windowsPath) const override;

protected:
    const Target &m_target;
};

// The runner of a target that has no Windows to run anything in (the sample,
// a registry file named on its own): it resolves each command line on the
// target's drives, so a missing program reads as missing, and answers
// StartCode::OfflineTarget for a program that exists. It never runs anything.
class OfflineRunner : public TargetRunner
{
public:
    using TargetRunner::TargetRunner;
    quint32 start(const QString &commandLine, std::unique_ptr<StartedCommand> &started) override;
};

// The runner of a Wine prefix: the command line is resolved on the prefix's
// drives, then the program runs as `wine <program> <arguments...>` with
// WINEPREFIX set, an argv array and never a shell. No usable `wine` is
// StartCode::RunnerUnavailable, never "not found". Waiting ends when the
// program has ended and then the prefix's wineserver has exited: an NSIS
// uninstaller re-launches itself, and only then is the registry on disk.
class WineRunner : public TargetRunner
{
public:
    using TargetRunner::TargetRunner;
    quint32 start(const QString &commandLine, std::unique_ptr<StartedCommand> &started) override;
};

} // namespace kelvane
