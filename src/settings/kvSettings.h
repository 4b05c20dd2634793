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

    // Missing file: defaults, true. Read error: false, fields unchanged.
    bool Load(const QString &path = {});
    // Whole file or nothing; false when the folder or the file cannot be written.
    bool Save(const TWindowState &mainWindow, const QString &path = {});

    std::unique_ptr<TIniFile> IniFile;
    QString FileName;
    QString Language;
    bool AllowEdition;
    bool Maximized;
    bool SaveWindow;
    bool ShowUpdates;
    qint32 Top = 0;
    qint32 Left = 0;
    qint32 Width = 0;
    qint32 Height = 0;
};

} // namespace kelvane
