// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Fixed names, paths and numbers shared by every part of Kelvane.

#include <QString>
#include <QStringView>

#include <array>

namespace kelvane::config {

// Set by whoever builds Kelvane (CMake cache options, passed to every file
// that sees this header); empty by default.
inline const QString AuthorName = QString::fromUtf8(KELVANE_AUTHOR_NAME);
inline constexpr QStringView FormPrefix = u"kv";
inline const QString WebsiteUrl = QString::fromUtf8(KELVANE_WEBSITE_URL);
inline const QString BugReportAddress = QString::fromUtf8(KELVANE_BUG_REPORT_ADDRESS);
// The folder of the language files, beside the program.
inline constexpr QStringView LanguageFolder = u"languages";
inline constexpr QStringView SampleFolder = u"sample";
// The desktop's name for Kelvane: its launcher, metadata and icon files.
inline constexpr QStringView ApplicationId = u"org.kelvane.Kelvane";
// The application icon's sizes, in the resources as ":/application/<size>.png".
inline constexpr int ApplicationIconSizes[] = {16, 32, 48, 64, 128, 256};
// The program's data in the installed layout, from the executable's folder.
inline constexpr QStringView InstalledDataFolder = u"../share/kelvane";
inline constexpr QStringView LanguageExtension = u".lng";
inline constexpr QStringView DefaultLanguage = u"default";
inline constexpr QStringView SettingsFolder = u"Kelvane";
inline constexpr QStringView SettingsFile = u"settings.ini";
// Largest files read: settings.ini is a few hundred bytes and a catalogue a
// few kilobytes; far more is not ours, and is refused.
inline constexpr qint64 MaxSettingsFileSize = 1024 * 1024;
inline constexpr qint64 MaxLanguageFileSize = 16 * 1024 * 1024;
inline constexpr bool DefaultAllowEdition = false;
inline constexpr bool DefaultShowUpdates = true;
inline constexpr bool DefaultMaximized = false;
inline constexpr bool DefaultSaveWindow = true;
inline constexpr const char SectionGeneral[] = "general";
inline constexpr const char SectionWindow[] = "window";
inline constexpr const char SectionProgram[] = "program";
inline constexpr const char SectionMain[] = "main";
inline constexpr const char SectionOptions[] = "options";
inline constexpr const char SectionCaptions[] = "captions";
inline constexpr const char SectionStrings[] = "strings";
// Kelvane's own settings, of no other section: the target chosen last.
inline constexpr const char SectionKelvane[] = "kelvane";
inline constexpr QStringView ExportExtension = u".txt";
// QDateTime pattern: 20070619_2222.
inline constexpr QStringView ExportDateFormat = u"yyyyMMdd'_'hhmm";
inline constexpr QStringView KeyArpCache = u"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache";
inline constexpr QStringView KeyInstallerProducts = u"\\SOFTWARE\\Classes\\Installer\\Products";
inline constexpr QStringView KeyUninstall = u"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Entries of 32-bit installers on a 64-bit Windows.
inline constexpr QStringView KeyUninstallWow64 = u"\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr QStringView KeyInstallerUserData = u"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
// Keys Kelvane reads besides the inventory's, below HKEY_LOCAL_MACHINE
// without a leading backslash (the registry store's own paths).
inline constexpr QStringView KeyWindowsNtVersion = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr QStringView KeyWindowsVersion = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
// Windows 11 still names itself "Windows 10" in ProductName; its builds
// start here.
inline constexpr unsigned FirstWindows11Build = 22000;
inline constexpr QStringView KeySystemEnvironment =
    u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
// A patch's key below an installer user's key: "<user>\\Products\\<code>\\Patches".
inline constexpr QStringView KeyPartProducts = u"\\Products\\";
inline constexpr QStringView KeyPartPatches = u"\\Patches";
// The registry file of a Wine prefix (HKEY_LOCAL_MACHINE).
inline constexpr QStringView WineSystemRegistry = u"system.reg";
// Of a launcher's file (Steam's library list, a Lutris game, a bottle), the
// bytes read when looking for prefixes; the rest of a longer one is ignored.
inline constexpr qint64 MaxLauncherFileSize = 1024 * 1024;
// The Windows program that opens a folder: "explorer.exe <folder>".
inline constexpr QStringView ExplorerProgram = u"explorer.exe";
inline constexpr int RefreshInterval = 1000;
// How often a registry a second start named is offered again while a
// question or a wait holds the window (ms).
inline constexpr int TargetOfferRetry = 1000;
// The Windows components dialog: Vista's program, and the older setup's.
inline constexpr QStringView ComponentsProgramVista = u"OptionalFeatures.exe";
inline constexpr QStringView ComponentsProgram = u"sysocmgr.exe /i:";
inline constexpr QStringView ComponentsInf = u"\\inf\\sysoc.inf";
// The longest part of a value a label lays out or a tooltip shows; no label
// shows more, and a megabyte-long registry value must not be laid out whole.
inline constexpr qsizetype LongestShownText = 4096;
// Remembered window coordinates beyond this are no screen's (and would
// overflow in geometry arithmetic).
inline constexpr int LargestWindowCoordinate = 1 << 20;
// 1-based positions before which a braced GUID has its dashes.
inline constexpr std::array<int, 4> GuidDashPositions = {9, 14, 19, 24};
inline constexpr std::array<int, 3> DateDashPositions = {5, 8, 11};
// Backups of registry keys before a delete: one regedit file per key in
// $XDG_DATA_HOME/Kelvane/backups, named "<local time> <key name>.reg".
inline constexpr QStringView DataFolder = u"Kelvane";
inline constexpr QStringView BackupFolder = u"backups";
inline constexpr QStringView BackupExtension = u".reg";
inline constexpr QStringView BackupDateFormat = u"yyyyMMdd'-'HHmmss";
// Longest key name kept in a backup's file name (UTF-16 units): well inside
// the 255 bytes a file name may take, even at four UTF-8 bytes a character.
inline constexpr qsizetype BackupNameLength = 48;
// The first line of a file regedit imports, and the hive a store stands for.
inline constexpr QStringView RegeditHeader = u"Windows Registry Editor Version 5.00";
inline constexpr QStringView RegeditRootKey = u"HKEY_LOCAL_MACHINE";
inline constexpr QStringView ShortcutUninstall = u"Del";
inline constexpr QStringView ShortcutUninstallQuiet = u"Shift+Del";

// Colours and font styles without a GUI dependency; the widgets map them.
struct Rgb
{
    int red;
    int green;
    int blue;
    // Taken from the palette's window-text colour when set.
    bool systemWindowText;
};
enum class FontStyle { Plain, Underlined };
inline constexpr Rgb LabelColor = {0, 0, 0, true};
inline constexpr Rgb LinkColor = {0, 0, 153, false};
inline constexpr FontStyle LinkStyle = FontStyle::Underlined;
inline constexpr FontStyle LabelStyle = FontStyle::Plain;
inline constexpr int DialogMargin = 8;
// Room a dialog leaves on its screen for its window frame: a message wider
// than the screen less this wraps.
inline constexpr int DialogScreenAllowance = 48;
// The width of the notice shown while other Windows programs keep a wait going.
inline constexpr int WaitNoticeWidth = 360;
// How long, in milliseconds, only other programs keep a wait going before
// Kelvane says so and lets the user stop it.
inline constexpr int WaitForOthersGrace = 5000;
// The longest ProductName of a target shown in a message.
inline constexpr qsizetype LongestSystemName = 100;
inline constexpr QStringView StatusTextIdle = u"";
inline constexpr QStringView UpdateTypeName = u"Update";
// The program list's group node of the Windows hotfixes.
inline constexpr QStringView WindowsName = u"Microsoft Windows";
// Key paths of hotfix entries (wildcard mask).
inline constexpr QStringView HotfixPattern = u"*KB[0-9][0-9][0-9][0-9][0-9][0-9]*";

} // namespace kelvane::config
