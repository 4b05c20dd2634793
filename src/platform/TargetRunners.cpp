#include "TargetRunners.h"

#include "WindowsCommandLine.h"
#include "Target.h"

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

quint32 OfflineRunner::start(const QString &commandLine, std::unique_ptr<StartedCommand> &started)
{
    started.reset();
    const ResolvedCommand resolved = ResolveCommandLine(commandLine, m_target);
    return resolved.code != StartCode::Success ? resolved.code : StartCode::OfflineTarget;
}

} // namespace kelvane
