// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

namespace kelvane {

// Codes a command start reports: the Windows system error codes that the
// callers interpret, and Kelvane's own. Kelvane's codes carry the customer
// bit (bit 29) of Windows error codes, so they can never be mistaken for a
// system code, above all not for "not found", which offers to delete an entry.
namespace StartCode {
inline constexpr quint32 Success = 0;
inline constexpr quint32 FileNotFound = 2; // no such program
inline constexpr quint32 PathNotFound = 3; // its folder does not exist, or its drive is not mapped
inline constexpr quint32 AccessDenied = 5; // it exists but is a folder, not a regular file, or unreadable
// The program exists, but the target is an offline registry (a sample or a
// registry file without its Windows): commands are never run there.
inline constexpr quint32 OfflineTarget = 0x20000001;
// The runner itself could not start (for a Wine prefix: no usable `wine`).
inline constexpr quint32 RunnerUnavailable = 0x20000002;
// The command line cannot be a command: empty, or too long for Windows.
inline constexpr quint32 InvalidCommandLine = 0x20000003;
// The host's file manager could not open an existing folder.
inline constexpr quint32 FolderNotOpened = 0x20000004;
// Whether the program exists cannot be told: its drive is not mapped on this
// target (a hive named on its own has no drive at all), or it is a network
// path. Never "not found": the entry may well be valid.
inline constexpr quint32 CannotCheck = 0x20000005;
} // namespace StartCode

// A command that was started; destroying it does not stop the command.
class StartedCommand
{
public:
    virtual ~StartedCommand();
    // Waits up to `milliseconds` for the command to end; true when it has ended.
    virtual bool waitFor(int milliseconds) = 0;
    // True once the command itself has ended and only other programs keep
    // the wait going (on a Wine prefix: those that keep its wineserver up,
    // which saves the registry only when they have all ended).
    virtual bool waitingForOthers() const { return false; }
};

// Starts Windows command lines the way the managed Windows would
// (CreateProcess with no application name). One per target.
class CommandRunner
{
public:
    virtual ~CommandRunner();
    // StartCode::Success with `started` set, or an error code with `started` left empty.
    virtual quint32 start(const QString &commandLine, std::unique_ptr<StartedCommand> &started) = 0;
    // The host folder of an absolute Windows folder of the target, or empty
    // when no such folder exists there (for "explorer.exe <folder>").
    virtual QString hostFolder(const QString &windowsFolder) const = 0;
    // False when the path is on a drive letter the target does not map (a
    // hive on its own maps none): whether it exists cannot be told.
    virtual bool mapsPath(const QString &windowsPath) const
    {
        Q_UNUSED(windowsPath);
        return true;
    }
};

} // namespace kelvane
