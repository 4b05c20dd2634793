// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace kelvane {

class Target;

// Where the program of a Windows command line lives on a target, found the
// way CreateProcess finds it when given no application name.
struct ResolvedCommand
{
    quint32 code = 0;       // 0, or a StartCode (2, 3, 5, CannotCheck, InvalidCommandLine)
    QString windowsProgram; // the program as a full Windows path ("C:\\windows\\system32\\msiexec.exe")
    QString hostProgram;    // the same file on the host
    QString arguments;      // the rest of the command line, as written
};

// The longest command line Windows accepts, and the longest program name.
inline constexpr qsizetype MaxCommandLineLength = 32767;
inline constexpr qsizetype MaxProgramNameLength = 259;

// Splits and resolves `commandLine` on `target`'s drives:
// - a program name in double quotes is taken as it stands (an unclosed quote
//   runs to the end); otherwise every prefix that ends before a blank is a
//   candidate, and the longest one naming an existing file wins (a longer
//   name cannot be planted in front of the intended one);
// - ".exe" is appended to a name whose last part has no extension;
// - a name without a folder is searched in the Windows folder's system32 and
//   system folders, the Windows folder, then the folders of the target's Path;
//   a name with a folder but no drive ("sub\\x.exe") has no current folder to
//   be relative to and is not found; "\\x.exe" is on drive C:;
// - names compare case-insensitively (Target::hostPath).
// Codes: 2 when no candidate exists, 3 when not even a candidate's folder
// exists, both only where that is provable on a mapped drive (a path
// relative to a current folder, which a target has not, counts as missing);
// CannotCheck when a candidate's drive is not mapped (a hive alone maps
// none) or it is a network path; 5 when the only existing candidates are
// folders, other non-files or unreadable files.
ResolvedCommand ResolveCommandLine(const QString &commandLine, const Target &target);

// The argument words of a command line's tail, as a Windows program's C
// runtime splits them: blanks separate, double quotes group, 2n backslashes
// before a quote give n and the quote groups, 2n+1 give n and a literal quote.
QStringList SplitArguments(const QString &arguments);

} // namespace kelvane
