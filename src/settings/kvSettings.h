// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace kelvane {

class TIniFile;

// What Save needs of the main window, so the store stays free of widgets.
struct TWindowState
{
    bool maximized = false;
    qint32 top = 0;
    qint32 left = 0;
    qint32 width = 0;
    qint32 height = 0;
};

// $appdata when set, else $XDG_CONFIG_HOME (~/.config); + Kelvane/settings.ini.
QString DefaultSettingsPath();

// The user's settings, remembered in settings.ini.
class TSettings : public QObject
{
    Q_OBJECT
public:
    TSettings();
    ~TSettings() override;

    // Missing file: defaults, true. A file that cannot be read (not a regular
    // file, no permission, a name that is not UTF-8, over
    // config::MaxSettingsFileSize): false, fields unchanged, so the caller
    // keeps its defaults; LastError says why.
    bool Load(const QString &path = {});
    // Whole file or nothing. False, with LastError, when the file as it
    // stands cannot be read (it is then left alone) or cannot be written.
    bool Save(const TWindowState &mainWindow, const QString &path = {});

    std::unique_ptr<TIniFile> IniFile;
    QString FileName;
    // Why the last Load or Save failed, naming the file; empty after a success.
    QString LastError;
    QString Language;
    bool AllowEdition;
    bool Maximized;
    bool SaveWindow;
    bool ShowUpdates;
    qint32 Top = 0;
    qint32 Left = 0;
    qint32 Width = 0;
    qint32 Height = 0;
    // The registry chosen in the program last (a prefix folder, a registry
    // or hive file, a partition's root); empty: none chosen.
    QString Target;
};

} // namespace kelvane
