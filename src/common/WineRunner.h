#pragma once

#include "CommandRunner.h"

namespace kelvane {

class Target;

// The runner of a Wine prefix: the command line is resolved on the prefix's
// drives, then the program runs as `wine <program> <arguments...>` with
// WINEPREFIX set, an argv array and never a shell. No usable `wine` is
// StartCode::RunnerUnavailable, never "not found". Waiting ends when the
// program has ended and then the prefix's wineserver has exited: an NSIS
// uninstaller re-launches itself, and only then is the registry on disk.
class WineRunner : public CommandRunner
{
public:
    explicit WineRunner(const Target &target);

    quint32 start(const QString &commandLine, std::unique_ptr<StartedCommand> &started) override;
    QString hostFolder(const QString &windowsFolder) const override;

private:
    const Target &m_target;
};

} // namespace kelvane
