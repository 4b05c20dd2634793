// SPDX-License-Identifier: GPL-3.0-or-later
#include "TargetRunners.h"

#include "Target.h"
#include "WindowsCommandLine.h"

#include <QFileInfo>

namespace kelvane {

TargetRunner::TargetRunner(const Target &target)
    : m_target(target)
{
}

QString TargetRunner::hostFolder(const QString &windowsFolder) const
{
    if (windowsFolder.size() > MaxCommandLineLength)
        return {};
    const QString host = m_target.hostPath(windowsFolder);
    return !host.isEmpty() && QFileInfo(host).isDir() ? host : QString();
}

bool TargetRunner::mapsPath(const QString &windowsPath) const
{
    // Only a path on a drive letter can be on a drive that is not here.
    const bool onDrive = windowsPath.size() >= 2 && windowsPath.at(1) == u':' && windowsPath.at(0).isLetter()
                         && windowsPath.at(0).unicode() < 0x80;
    return !onDrive || !m_target.driveRoot(windowsPath.at(0)).isEmpty();
}

quint32 OfflineRunner::start(const QString &commandLine, std::unique_ptr<StartedCommand> &started)
{
    started.reset();
    const ResolvedCommand resolved = ResolveCommandLine(commandLine, m_target);
    return resolved.code != StartCode::Success ? resolved.code : StartCode::OfflineTarget;
}

} // namespace kelvane
