// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvSettings.h"

#include "config/kvConfig.h"
#include "host/Error.h"
#include "host/IniFile.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

using namespace config;

QString DefaultSettingsPath()
{
    QString base = qEnvironmentVariable("appdata");
    if (base.isEmpty())
        base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + u"/.config"_s;
    return base + u'/' + SettingsFolder + u'/' + SettingsFile;
}

TSettings::TSettings()
    : Language(DefaultLanguage.toString())
    , AllowEdition(DefaultAllowEdition)
    , Maximized(DefaultMaximized)
    , SaveWindow(DefaultSaveWindow)
    , ShowUpdates(DefaultShowUpdates)
{
}

TSettings::~TSettings() = default;

bool TSettings::Load(const QString &path)
{
    if (!path.isEmpty())
        FileName = path;
    LastError.clear();
    try {
        IniFile = std::make_unique<TIniFile>(TIniFile::fromFile(FileName, config::MaxSettingsFileSize));
        const TIniFile &ini = *IniFile;
        Language = ini.readString(SectionGeneral, "language", DefaultLanguage.toString());
        SaveWindow = ini.readBool(SectionWindow, "save", DefaultSaveWindow);
        Maximized = ini.readBool(SectionWindow, "maximized", DefaultMaximized);
        Top = ini.readInteger(SectionWindow, "top", -1);
        Left = ini.readInteger(SectionWindow, "left", -1);
        Width = ini.readInteger(SectionWindow, "width", -1);
        Height = ini.readInteger(SectionWindow, "height", -1);
        ShowUpdates = ini.readBool(SectionProgram, "showUpdates", DefaultShowUpdates);
        AllowEdition = ini.readBool(SectionProgram, "allowEdition", DefaultAllowEdition);
        Target = ini.readString(SectionKelvane, "target", QString());
    } catch (const Error &error) {
        IniFile.reset();
        LastError = error.message();
        return false;
    }
    IniFile.reset();
    return true;
}

bool TSettings::Save(const TWindowState &mainWindow, const QString &path)
{
    if (!path.isEmpty())
        FileName = path;
    LastError.clear();
    try {
        // Start from the file as it stands so values change in place and keys
        // this save does not write keep their values. A file that cannot be
        // read is never written over, and a name that cannot be spelled gets
        // no folder made for it.
        IniFile = std::make_unique<TIniFile>(TIniFile::fromFile(FileName, config::MaxSettingsFileSize));
        const QString folder = QFileInfo(FileName).absolutePath();
        if (!QDir().mkpath(folder))
            throw Error(u"Could not create the folder %1 for the settings."_s.arg(QDir::toNativeSeparators(folder)));
        TIniFile &ini = *IniFile;
        ini.writeString(SectionGeneral, "language", Language);
        ini.writeBool(SectionWindow, "save", SaveWindow);
        if (SaveWindow) {
            ini.writeBool(SectionWindow, "maximized", mainWindow.maximized);
            if (!mainWindow.maximized) {
                ini.writeInteger(SectionWindow, "top", mainWindow.top);
                ini.writeInteger(SectionWindow, "left", mainWindow.left);
                ini.writeInteger(SectionWindow, "width", mainWindow.width);
                ini.writeInteger(SectionWindow, "height", mainWindow.height);
            }
        } else {
            ini.writeBool(SectionWindow, "maximized", false);
            for (const char *key : {"top", "left", "width", "height"})
                ini.writeInteger(SectionWindow, key, -1);
        }
        ini.writeBool(SectionProgram, "showUpdates", ShowUpdates);
        ini.writeBool(SectionProgram, "allowEdition", AllowEdition);
        if (!Target.isEmpty())
            ini.writeString(SectionKelvane, "target", Target);
        ini.saveToFile(FileName);
    } catch (const Error &error) {
        IniFile.reset();
        LastError = error.message();
        return false;
    }
    IniFile.reset();
    return true;
}

} // namespace kelvane
