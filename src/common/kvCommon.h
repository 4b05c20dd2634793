// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include "config/kvConfig.h"

#include <functional>

namespace kelvane {

class CommandRunner;

// A catalogue's text for a key (empty when the key is missing).
using TextLookup = std::function<QString(const QString &key)>;

struct DateStrings
{
    qint32 Year = 0;
    qint32 Month = 0;
    qint32 Day = 0;
    QString Text;
};

// Where the program's own data (languages/, sample/) is, ending in a
// separator: the executable's folder when it holds either (a build tree, a
// copy moved anywhere), else ../share/kelvane from it (the installed layout)
// when that exists, else the executable's folder.
QString ProgramFolderFor(const QString &executableFolder);
// ProgramFolderFor the running executable.
QString GetProgramFolder();
// The bundled sample registry's folder, in the program's data folder
// (installed, or the build tree's copy beside the programs).
QString GetSampleFolder();

// "key=value" lines of the version strings; an empty name means Kelvane itself.
QStringList GetVersionInfo(const QString &fileName);

// Byte count for display ("1.50 KB"); `text` comes back unchanged below 2.
QString FormatSize(qint32 size, const TextLookup &texts, const QString &text = {});

// yyyymmdd as the catalogue's "DateFormat"; throws Error when a part is not a number.
DateStrings FormatDate(const QString &date, const TextLookup &texts);

// Every occurrence of `placeholder`, left to right; inserted text is not searched again.
QString ReplaceText(const QString &placeholder, const QString &value, const QString &text);

// Strict split at `delimiter`; a part opening with '"' runs to its closing quote ("" is one quote).
void SplitText(QStringList *list, const QString &text, QChar delimiter);

// What starting a command needs of its caller. The hooks may be empty.
struct RunContext
{
    CommandRunner *runner = nullptr; // the target's runner; none: every start fails with RunnerUnavailable
    std::function<void()> processEvents; // lets the user interface paint while a command is waited for
    // false before a wait; true after it, which also gives the main window the focus.
    std::function<void(bool enabled)> setMainWindowEnabled;
    // Opens a host folder in the desktop's file manager ("explorer.exe <folder>");
    // empty: explorer.exe is started like any other program.
    std::function<bool(const QString &hostFolder)> openFolder;
    // Asked at each poll once only other programs have kept a wait going
    // (the command has ended) for othersGrace: false stops waiting. Empty:
    // the wait goes on. The grace keeps an uninstaller that relaunched
    // itself, or a wineserver about to end, from being taken for others.
    std::function<bool()> keepWaitingForOthers{};
    int othersGrace = config::WaitForOthersGrace;
};

// Starts a command line, waiting for it when `wait` is set (polling every
// 100 ms with the main window disabled) until it has ended, or only other
// programs keep the wait going and keepWaitingForOthers says no more. 0, or
// a StartCode; never throws.
quint32 RunCommand(const QString &commandLine, bool wait, const RunContext &context);

// The message for a start that failed with `code`: the catalogue's text for
// not found (2, 3), access denied (5) and each of Kelvane's own codes (its
// "%CODE%" the code in hex), else "ErrorUnknown", else a plain sentence
// with the code.
QString StartFailureText(quint32 code, const TextLookup &strings);

// RunCommand, and when the start fails one message naming the reason through
// `displayMessage` (texts of `strings`). True when the command was started.
bool ExecuteCommand(const QString &commandLine, const TextLookup &strings, bool wait, const RunContext &context,
                    const std::function<void(const QString &)> &displayMessage);

} // namespace kelvane
