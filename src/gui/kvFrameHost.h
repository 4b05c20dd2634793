// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/kvCommon.h"

#include <QString>

class QObject;
class QWidget;

namespace kelvane {

class TLang;
class TSettings;
class TSystemSupport;
class Target;

// What the frames of the main window ask of it. TkvFormMain implements it;
// frame tests give the frames a fake one.
class TkvFrameHost
{
public:
    virtual ~TkvFrameHost() = default;

    virtual TSettings &settings() = 0;
    virtual TLang &lang() = 0;
    virtual Target &target() = 0;
    // Whether the target's Windows is managed partly, and its name.
    virtual const TSystemSupport &systemSupport() const = 0;

    // The window that relabelling and waiting for a started command act on.
    virtual QWidget *mainWindow() = 0;

    // The hint of `sender` (a button, or a label in the link style) into the
    // first status panel; a missing hint text leaves the panel as it is.
    virtual void DisplayStatusHint(QObject *sender) = 0;
    // The idle text back into the first status panel.
    virtual void ResetStatusHint(QObject *sender) = 0;
    // The first status panel, shared with the program list's counts.
    virtual void setStatusText(const QString &text) = 0;
    virtual QString statusText() const = 0;

    // The message dialog: "|" in the text is a line break.
    virtual void DisplayMessage(const QString &text) = 0;
    virtual bool DisplayConfirmation(const QString &text) = 0;

    // How the frames start commands: the target's runner, the host's file
    // manager for "explorer.exe <folder>", and a wait that keeps this window
    // painting while it is disabled.
    virtual RunContext runContext() = 0;

    // The save-file dialog; the empty text when the user cancels.
    virtual QString GetSaveFileName(const QString &defaultName, const QString &filter) = 0;
};

} // namespace kelvane
