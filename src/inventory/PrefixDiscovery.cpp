// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrefixDiscovery.h"

#include "LauncherFiles.h"
#include "config/kvConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

class Search
{
public:
    explicit Search(QString home)
        : m_home(std::move(home))
    {
    }

    PrefixSearch result;

    QString home(const QString &relative) const { return m_home + u'/' + relative; }

    // Adds `folder` when it holds system.reg and was not found before.
    void consider(const QString &folder, const QString &launcher, const QString &name)
    {
        // A launcher file's relative path would be taken from our own working folder.
        if (QDir::isRelativePath(folder))
            return;
        const QFileInfo info(folder);
        if (!info.exists()) {
            if (info.isSymLink())
                result.notes.append(u"%1: a symbolic link that leads nowhere"_s.arg(folder));
            return;
        }
        // Links are followed once, to the folder they name: a loop or a
        // dangling link names none.
        const QString canonical = info.canonicalFilePath();
        if (canonical.isEmpty()) {
            result.notes.append(u"%1: a symbolic link that leads nowhere"_s.arg(folder));
            return;
        }
        const QString registry = canonical + u'/' + config::WineSystemRegistry;
        struct stat st {};
        if (::lstat(QFile::encodeName(registry).constData(), &st) != 0)
            return;
        if (m_seen.contains(canonical))
            return;
        m_seen.insert(canonical);
        result.prefixes.append({canonical, launcher, name.isEmpty() ? info.fileName() : name, S_ISREG(st.st_mode)});
    }

    // The subfolders of `folder`, by name; a folder that exists but cannot be read is noted.
    QStringList subfolders(const QString &folder)
    {
        const QFileInfo info(folder);
        if (!info.isDir())
            return {};
        if (!info.isReadable() || !info.isExecutable()) {
            result.notes.append(u"%1: the folder cannot be read"_s.arg(folder));
            return {};
        }
        // System: links that lead nowhere too, to be noted.
        return QDir(folder).entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }

    // The files of `folder` whose names end with `suffix`.
    QStringList files(const QString &folder, const QString &suffix)
    {
        QStringList found;
        if (!QFileInfo(folder).isDir())
            return found;
        if (!QFileInfo(folder).isReadable()) {
            result.notes.append(u"%1: the folder cannot be read"_s.arg(folder));
            return found;
        }
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
            if (name.endsWith(suffix))
                found.append(folder + u'/' + name);
        return found;
    }

    QString read(const QString &path)
    {
        QString note;
        const QString text = readLauncherFile(path, &note);
        if (!note.isEmpty())
            result.notes.append(note);
        return text;
    }

private:
    QString m_home;
    QSet<QString> m_seen;
};

void bottles(Search &search)
{
    for (const QString &root : {search.home(u".local/share/bottles/bottles"_s),
                                search.home(u".var/app/com.usebottles.bottles/data/bottles/bottles"_s)}) {
        for (const QString &folder : search.subfolders(root)) {
            const QString path = root + u'/' + folder;
            QString name;
            if (QFileInfo::exists(path + u"/bottle.yml"_s))
                name = yamlValue(search.read(path + u"/bottle.yml"_s), u"Name"_s);
            search.consider(path, u"Bottles"_s, name);
        }
    }
}

void lutris(Search &search)
{
    for (const QString &root : {search.home(u".config/lutris/games"_s), search.home(u".local/share/lutris/games"_s)}) {
        for (const QString &file : search.files(root, u".yml"_s)) {
            const QString prefix = yamlValue(search.read(file), u"prefix"_s);
            if (prefix.isEmpty())
                continue;
            // "<game>-<time it was added>.yml"
            QString name = QFileInfo(file).completeBaseName();
            if (const qsizetype dash = name.lastIndexOf(u'-'); dash > 0)
                name.truncate(dash);
            search.consider(prefix.startsWith(u"~/"_s) ? search.home(prefix.mid(2)) : prefix, u"Lutris"_s, name);
        }
    }
}

void steam(Search &search)
{
    QStringList libraries;
    for (const QString &root : {search.home(u".steam/steam"_s), search.home(u".local/share/Steam"_s),
                                search.home(u".var/app/com.valvesoftware.Steam/data/Steam"_s)}) {
        if (!QFileInfo(root).isDir())
            continue;
        libraries.append(root);
        const QString list = root + u"/steamapps/libraryfolders.vdf"_s;
        if (QFileInfo::exists(list))
            libraries.append(vdfValues(search.read(list), u"path"_s));
    }
    QSet<QString> seen;
    for (const QString &library : std::as_const(libraries)) {
        const QString canonical = QFileInfo(library).canonicalFilePath();
        if (canonical.isEmpty() || seen.contains(canonical))
            continue;
        seen.insert(canonical);
        const QString apps = canonical + u"/steamapps"_s;
        for (const QString &id : search.subfolders(apps + u"/compatdata"_s)) {
            QString name = id;
            const QString manifest = apps + u"/appmanifest_"_s + id + u".acf"_s;
            if (QFileInfo::exists(manifest)) {
                const QStringList names = vdfValues(search.read(manifest), u"name"_s);
                if (!names.isEmpty())
                    name += u' ' + names.first();
            }
            search.consider(apps + u"/compatdata/"_s + id + u"/pfx"_s, u"Steam"_s, name);
        }
    }
}

void heroic(Search &search)
{
    const QString prefixes = search.home(u"Games/Heroic/Prefixes"_s);
    for (const QString &folder : search.subfolders(prefixes))
        search.consider(prefixes + u'/' + folder, u"Heroic"_s, folder);
    for (const QString &file : search.files(search.home(u".config/heroic/GamesConfig"_s), u".json"_s)) {
        const QJsonObject games = QJsonDocument::fromJson(search.read(file).toUtf8()).object();
        for (auto game = games.begin(); game != games.end(); ++game) {
            const QString prefix = game.value().toObject().value(u"winePrefix"_s).toString();
            if (!prefix.isEmpty())
                search.consider(prefix, u"Heroic"_s, game.key());
        }
    }
}

void inFolder(Search &search, const QString &root, const QString &launcher)
{
    for (const QString &folder : search.subfolders(root))
        search.consider(root + u'/' + folder, launcher, folder);
}

} // namespace

PrefixSearch findPrefixes(const QString &home, const QProcessEnvironment &environment)
{
    Search search(home);
    const QString named = environment.value(u"WINEPREFIX"_s);
    if (!named.isEmpty())
        search.consider(named, u"Wine"_s, u"WINEPREFIX"_s);
    search.consider(search.home(u".wine"_s), u"Wine"_s, u"~/.wine"_s);
    bottles(search);
    lutris(search);
    steam(search);
    heroic(search);
    inFolder(search, search.home(u".PlayOnLinux/wineprefix"_s), u"PlayOnLinux"_s);
    inFolder(search, search.home(u".cxoffice"_s), u"CrossOver"_s);
    return search.result;
}

} // namespace kelvane
