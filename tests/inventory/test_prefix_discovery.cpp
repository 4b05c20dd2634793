// SPDX-License-Identifier: GPL-3.0-or-later
// The prefixes found in a home laid out as each launcher lays out its own,
// with the files a hostile or broken home may hold.
#include "inventory/LauncherFiles.h"
#include "inventory/PrefixDiscovery.h"

#include "FileBytes.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

// Makes the folders of `path` and the file, holding `bytes`.
void put(const QString &path, const QByteArray &bytes = "WINE REGISTRY Version 2\n")
{
    QDir().mkpath(QFileInfo(path).path());
    test::writeFileBytes(path, bytes);
}

} // namespace

class TestPrefixDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void everyLauncher()
    {
        QTemporaryDir root;
        const QString home = root.filePath(u"home"_s);
        const auto at = [&home](const QString &relative) -> QString { return home + u'/' + relative; };
        put(root.filePath(u"custom/system.reg"_s));
        put(at(u".wine/system.reg"_s));
        put(at(u".local/share/bottles/bottles/office/system.reg"_s));
        put(at(u".local/share/bottles/bottles/office/bottle.yml"_s), "Arch: win64\nName: 'My Office'\n");
        put(at(u".var/app/com.usebottles.bottles/data/bottles/bottles/games/system.reg"_s));
        put(at(u".config/lutris/games/witcher-1700000000.yml"_s),
            "game:\n  exe: /x/witcher.exe\n  prefix: " + at(u"Games/witcher"_s).toUtf8() + "\nwine:\n  version: x\n");
        put(at(u"Games/witcher/system.reg"_s));
        put(at(u".local/share/lutris/games/tilde-1.yml"_s), "game:\n  prefix: \"~/Games/tilde\"\n");
        put(at(u"Games/tilde/system.reg"_s));
        QVERIFY(::mkfifo(QFile::encodeName(at(u".config/lutris/games/pipe-2.yml"_s)).constData(), 0600) == 0);
        // Steam: a second library named in libraryfolders.vdf, ~/.steam/steam
        // a link to the first; a hostile 10 MB line after the paths.
        const QString library = root.filePath(u"SteamLibrary"_s);
        put(at(u".local/share/Steam/steamapps/libraryfolders.vdf"_s),
            "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + at(u".local/share/Steam"_s).toUtf8()
                + "\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + library.toUtf8() + "\"\n\t}\n}\n"
                + QByteArray(10 << 20, 'x'));
        QDir().mkpath(at(u".steam"_s));
        QVERIFY(QFile::link(at(u".local/share/Steam"_s), at(u".steam/steam"_s)));
        put(at(u".local/share/Steam/steamapps/compatdata/228980/pfx/drive_c/x"_s)); // never started: no system.reg
        put(library + u"/steamapps/compatdata/1091500/pfx/system.reg"_s);
        put(library + u"/steamapps/appmanifest_1091500.acf"_s,
            "\"AppState\"\n{\n\t\"appid\"\t\t\"1091500\"\n\t\"name\"\t\t\"Cyberpunk \\\"2077\\\"\"\n}\n");
        // Heroic: the same prefix by its folder and by a game's settings.
        put(at(u"Games/Heroic/Prefixes/Fortnite/system.reg"_s));
        put(at(u".config/heroic/GamesConfig/abc.json"_s),
            "{\"abc\": {\"winePrefix\": \"" + at(u"Games/Heroic/Prefixes/Fortnite"_s).toUtf8() + "\"}, \"version\": \"v0\"}");
        put(at(u".PlayOnLinux/wineprefix/Notepad/system.reg"_s));
        QVERIFY(QFile::link(at(u".PlayOnLinux/wineprefix/loop"_s), at(u".PlayOnLinux/wineprefix/loop"_s)));
        QDir().mkpath(at(u".cxoffice/Win10"_s));
        QVERIFY(::mkfifo(QFile::encodeName(at(u".cxoffice/Win10/system.reg"_s)).constData(), 0600) == 0);

        QProcessEnvironment environment;
        environment.insert(u"WINEPREFIX"_s, root.filePath(u"custom"_s));
        const PrefixSearch found = findPrefixes(home, environment);
        const QList<FoundPrefix> expected{
            {root.filePath(u"custom"_s), u"Wine"_s, u"WINEPREFIX"_s, true},
            {at(u".wine"_s), u"Wine"_s, u"~/.wine"_s, true},
            {at(u".local/share/bottles/bottles/office"_s), u"Bottles"_s, u"My Office"_s, true},
            {at(u".var/app/com.usebottles.bottles/data/bottles/bottles/games"_s), u"Bottles"_s, u"games"_s, true},
            {at(u"Games/witcher"_s), u"Lutris"_s, u"witcher"_s, true},
            {at(u"Games/tilde"_s), u"Lutris"_s, u"tilde"_s, true},
            {library + u"/steamapps/compatdata/1091500/pfx"_s, u"Steam"_s, u"1091500 Cyberpunk \"2077\""_s, true},
            {at(u"Games/Heroic/Prefixes/Fortnite"_s), u"Heroic"_s, u"Fortnite"_s, true},
            {at(u".PlayOnLinux/wineprefix/Notepad"_s), u"PlayOnLinux"_s, u"Notepad"_s, true},
            {at(u".cxoffice/Win10"_s), u"CrossOver"_s, u"Win10"_s, false},
        };
        QCOMPARE(found.prefixes, expected);
        QCOMPARE(found.notes.size(), 2);
        QVERIFY2(found.notes[0].contains(u"pipe-2.yml"_s) && found.notes[0].contains(u"named pipe"_s),
                 qPrintable(found.notes[0]));
        QVERIFY2(found.notes[1].contains(u"loop"_s), qPrintable(found.notes[1]));
    }

    void vdfValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("nested") << u"\"a\" { \"path\" \"/x\" \"b\" { \"PATH\" \"/y\" } }"_s << QStringList{u"/x"_s, u"/y"_s};
        QTest::newRow("escapes") << u"\"path\" \"C:\\\\a \\\"b\\\"\""_s << QStringList{u"C:\\a \"b\""_s};
        QTest::newRow("a section named path") << u"\"path\" { \"x\" \"y\" }"_s << QStringList();
        QTest::newRow("comment") << u"// \"path\" \"/no\"\n\"path\" \"/yes\""_s << QStringList{u"/yes"_s};
        QTest::newRow("unterminated") << u"\"path\" \"/x"_s << QStringList{u"/x"_s};
    }

    void vdfValues()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, values);
        QCOMPARE(kelvane::vdfValues(text, u"path"_s), values);
    }
};

QTEST_GUILESS_MAIN(TestPrefixDiscovery)
#include "test_prefix_discovery.moc"
