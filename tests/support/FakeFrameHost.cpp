// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeFrameHost.h"

#include "gui/kvCommonGui.h"
#include "target/CommandRunner.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>

using namespace Qt::Literals::StringLiterals;

namespace kelvane::test {

FakeFrameHost::FakeFrameHost(const QString &targetPath, const QString &programFolder,
                             TLang::BuiltinInfo builtin)
    : m_lang(programFolder, std::move(builtin))
    , m_target(Target::open(targetPath))
    , m_osCheck(std::make_unique<TOSCheck>(*m_target->registry()))
    , m_systemSupport(*m_osCheck, *m_target->registry())
{
    m_lang.LoadDefaults();
}

void FakeFrameHost::DisplayStatusHint(QObject *sender)
{
    lastHintSender = sender;
    QString key;
    if (qobject_cast<QAbstractButton *>(sender))
        key = u"Hint"_s + sender->objectName();
    else if (auto *label = qobject_cast<QLabel *>(sender); label && HasLinkStyle(label))
        key = u"HintGotoLink"_s;
    const QString text = key.isEmpty() ? QString() : m_lang.Strings.value(key);
    if (!text.isEmpty())
        m_status = text;
}

void FakeFrameHost::ResetStatusHint(QObject *)
{
    m_status.clear();
}

bool FakeFrameHost::DisplayConfirmation(const QString &text)
{
    confirmations.append(text);
    return confirmationAnswers.isEmpty() ? false : confirmationAnswers.takeFirst();
}

QString FakeFrameHost::GetSaveFileName(const QString &defaultName, const QString &)
{
    saveDialogDefaults.append(defaultName);
    return saveFileNames.isEmpty() ? QString() : saveFileNames.takeFirst();
}

RunContext FakeFrameHost::runContext()
{
    RunContext context;
    context.runner = runner ? runner : &m_target->runner();
    context.processEvents = [] { QCoreApplication::processEvents(); };
    context.setMainWindowEnabled = [this](bool enabled) {
        m_window.setEnabled(enabled);
        if (enabled)
            m_window.activateWindow();
    };
    context.keepWaitingForOthers = keepWaitingForOthers;
    context.othersGrace = othersGrace;
    context.openFolder = [this](const QString &hostFolder) {
        openedFolders.append(hostFolder);
        return true;
    };
    return context;
}

} // namespace kelvane::test
