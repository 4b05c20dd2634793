#include "OfflineRunner.h"

#include "WindowsCommandLine.h"
#include "platform/Target.h"

#include <QFileInfo>

namespace kelvane {

OfflineRunner::OfflineRunner(const Target &target)
    : m_target(target)
{
}

quint32 OfflineRunner::start(const QString &commandLine, std::unique_ptr<StartedCommand> &started)
{
    started.reset();
    const ResolvedCommand resolved = ResolveCommandLine(commandLine, m_target);
    return resolved.code != StartCode::Success ? resolved.code : StartCode::OfflineTarget;
}

QString OfflineRunner::hostFolder(const QString &windowsFolder) const
{
    return TargetHostFolder(m_target, windowsFolder);
}

QString TargetHostFolder(const Target &target, const QString &windowsFolder)
{
    if (windowsFolder.size() > MaxCommandLineLength)
        return {};
    const QString host = target.hostPath(windowsFolder);
    return !host.isEmpty() && QFileInfo(host).isDir() ? host : QString();
}

} // namespace kelvane
