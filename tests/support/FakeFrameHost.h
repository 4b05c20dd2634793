// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/kvFrameHost.h"
#include "language/kvLanguage.h"
#include "settings/kvSettings.h"
#include "target/kvOSCheck.h"
#include "target/kvSystemSupport.h"
#include "target/Target.h"

#include <QStringList>
#include <QWidget>
#include <memory>

namespace kelvane::test {

// A main window stand-in: owns the settings, the catalogue (built-in texts)
// and a target, records every message and answers confirmations and save
// dialogs from queues the test fills.
class FakeFrameHost : public TkvFrameHost
{
public:
    // `targetPath`: a Wine prefix folder or registry file; `builtin`: what the
    // language list shows for the built-in English entry.
    explicit FakeFrameHost(const QString &targetPath, const QString &programFolder = {},
                           TLang::BuiltinInfo builtin = {});

    TSettings &settings() override { return m_settings; }
    TLang &lang() override { return m_lang; }
    Target &target() override { return *m_target; }
    const TSystemSupport &systemSupport() const override { return m_systemSupport; }
    QWidget *mainWindow() override { return &m_window; }
    void DisplayStatusHint(QObject *sender) override;
    void ResetStatusHint(QObject *sender) override;
    void setStatusText(const QString &text) override { m_status = text; }
    QString statusText() const override { return m_status; }
    void DisplayMessage(const QString &text) override { messages.append(text); }
    bool DisplayConfirmation(const QString &text) override;
    QString GetSaveFileName(const QString &defaultName, const QString &filter) override;
    // `runner` (else the target's), waiting with the stand-in window disabled;
    // folders are recorded in openedFolders, not opened.
    RunContext runContext() override;

    QStringList messages;
    QStringList confirmations;
    QList<bool> confirmationAnswers;      // taken from the front; empty answers "no"
    QStringList saveFileNames;            // taken from the front; empty cancels
    QStringList saveDialogDefaults;       // the default names the dialogs were given
    QObject *lastHintSender = nullptr;
    QStringList openedFolders;            // host folders "explorer.exe" was asked to open
    CommandRunner *runner = nullptr;      // runs the commands instead of the target's runner
    std::function<bool()> keepWaitingForOthers; // the host's answer while others keep a wait going
    int othersGrace = 0;                          // asked at once

private:
    TSettings m_settings;
    TLang m_lang;
    std::unique_ptr<Target> m_target;
    std::unique_ptr<TOSCheck> m_osCheck;
    TSystemSupport m_systemSupport;
    QWidget m_window;
    QString m_status;
};

} // namespace kelvane::test
