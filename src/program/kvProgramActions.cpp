// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's actions that hand control to an application's own
// installer: uninstalling (normally or quietly) and modifying; and the words
// for a registry edit that was refused.

#include "kvUnitProgram.h"

#include "common/kvCommon.h"
#include "gui/kvFrameHost.h"
#include "host/Error.h"
#include "host/kvDisplayText.h"
#include "language/kvLanguage.h"
#include "target/CommandRunner.h"
#include "target/Target.h"

#include <QDir>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

void TkvFrameProgram::UninstallApplication(QObject *sender)
{
    TkvProgramNode *node = selectedNode();
    if (!node)
        return;
    const bool quietRequest = sender && sender->objectName() == u"PopupProgramUninstallQuiet"_s;
    TAppItemPtr entry;
    QString command;
    if (node->entry()) {
        entry = node->entry();
        const QString confirm = ReplaceText(u"%APPLICATION_NAME%"_s, entry->DisplayName, text(u"ConfirmUninstall"_s));
        if (!quietRequest && !entry->UninstallString.isEmpty())
            command = entry->UninstallString;
        else if (!entry->QuietUninstallString.isEmpty() && m_host.DisplayConfirmation(confirm))
            command = entry->QuietUninstallString;
    } else if (const TAppSubItemPtr &update = node->update()) {
        if (update->Uninstallable && !update->UninstallCommand.isEmpty())
            command = update->UninstallCommand;
    }
    if (command.isEmpty())
        return; // nothing ran: the list stays as it is

    const quint32 code = runAndWait(command);
    if (code == StartCode::FileNotFound || code == StartCode::PathNotFound) {
        // Only an entry is offered for removal, never an update.
        if (entry && m_host.DisplayConfirmation(
                         ReplaceText(u"%ERROR%"_s, text(u"ErrorFileNotFound"_s), text(u"ConfirmExecuteRemoveEntry"_s)))) {
            try {
                entry->DeleteEntry();
            } catch (const Error &error) {
                m_host.DisplayMessage(RefusalText(error));
            }
        }
    } else if (code == StartCode::AccessDenied) {
        m_host.DisplayMessage(text(u"ErrorAccessDenied"_s));
    } else if (code != StartCode::Success) {
        // Nothing ran (no Wine, an offline registry, a command line that is
        // none): saying nothing would pass for a finished uninstall.
        m_host.DisplayMessage(StartFailureText(code, [this](const QString &key) { return text(key); }));
    }
    RescanList(sender);
    m_tree->setFocus(Qt::OtherFocusReason);
}

void TkvFrameProgram::ModifyApplication(QObject *sender)
{
    TkvProgramNode *node = selectedNode();
    if (!node || !node->entry() || node->entry()->ModifyPath.isEmpty())
        return;
    const QString command = node->entry()->ModifyPath;
    const quint32 code = runAndWait(command);
    if (code != StartCode::Success)
        m_host.DisplayMessage(StartFailureText(code, [this](const QString &key) { return text(key); }));
    RescanList(sender);
    m_tree->setFocus(Qt::OtherFocusReason);
}

QString TkvFrameProgram::RefusalText(const Error &error, const QString &entryName) const
{
    QString key;
    switch (error.kind()) {
    case ErrorKind::EntryGone:
        key = u"ErrorEntryGone"_s;
        break;
    case ErrorKind::ServerRunning:
        key = u"ErrorRegistryInUse"_s;
        break;
    case ErrorKind::ChangedOnDisk:
        key = u"ErrorRegistryChanged"_s;
        break;
    case ErrorKind::ReadOnly:
        key = u"ErrorRegistryReadOnly"_s;
        break;
    case ErrorKind::DiskFull:
        key = u"ErrorDiskFull"_s;
        break;
    case ErrorKind::BackupFailed:
        key = u"ErrorBackupFailed"_s;
        break;
    case ErrorKind::Other:
        break;
    }
    const QString words = key.isEmpty() ? QString() : text(key);
    if (words.isEmpty())
        return error.message();
    if (error.kind() == ErrorKind::EntryGone)
        return ReplaceText(u"%APPLICATION_NAME%"_s, SingleLine(entryName), words);
    return ReplaceText(u"%ERROR%"_s, error.message(),
                       ReplaceText(u"%PATH%"_s, QDir::toNativeSeparators(error.path()), words));
}

quint32 TkvFrameProgram::runAndWait(const QString &command)
{
    // The window is disabled while the program runs and keeps painting; the
    // status bar says what it waits for.
    m_host.setStatusText(ReplaceText(u"%PROGRAM%"_s, SingleLine(command), text(u"StatusProgramWaiting"_s)));
    RunContext context = m_host.runContext();
    // Once the program has ended, other Windows programs of the prefix may
    // keep its registry unsaved: the status bar says so, and the host may
    // let the user stop waiting (the list is then read again; edits stay
    // refused while the prefix's wineserver runs).
    context.keepWaitingForOthers = [this, hostAnswer = std::move(context.keepWaitingForOthers)] {
        m_host.setStatusText(SingleLine(ReplaceText(u"%PATH%"_s,
                                                    QDir::toNativeSeparators(m_host.target().description()),
                                                    text(u"StatusServerWaiting"_s))));
        return !hostAnswer || hostAnswer();
    };
    const quint32 code = RunCommand(command, true, context);
    m_host.setStatusText(QString());
    return code;
}

} // namespace kelvane
