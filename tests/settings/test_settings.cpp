// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/kvConfig.h"
#include "host/Error.h"
#include "host/IniFile.h"
#include "settings/kvSettings.h"

#include "HostilePaths.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using kelvane::TIniFile;
using kelvane::TSettings;
using kelvane::TWindowState;
using kelvane::test::Hostile;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A device that fails after delivering some bytes.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 good) : m_good(good) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        if (m_good <= 0) {
            setErrorString(u"device broke"_s);
            return -1;
        }
        const qint64 n = qMin(max, m_good);
        memset(data, 'x', size_t(n));
        m_good -= n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 m_good;
};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void defaults()
    {
        TSettings s;
        QCOMPARE(s.Language, u"default"_s);
        QVERIFY(s.ShowUpdates);
        QVERIFY(!s.AllowEdition);
        QVERIFY(s.SaveWindow);
        QVERIFY(!s.Maximized);
        QCOMPARE(s.Top, 0);
    }

    void missingFileGivesDefaults()
    {
        QTemporaryDir dir;
        TSettings s;
        s.Top = 5;
        QVERIFY(s.Load(dir.filePath(u"none/settings.ini"_s)));
        QCOMPARE(s.Top, -1);
        QCOMPARE(s.Width, -1);
        QCOMPARE(s.Language, u"default"_s);
    }

    void firstSaveLinesAndOrder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"sub/Kelvane/settings.ini"_s);
        TSettings s;
        QVERIFY(s.Save(TWindowState{false, 296, 387, 608, 429}, path));
        QCOMPARE(readAll(path),
                 QByteArray("[general]\nlanguage=default\n[window]\nsave=1\nmaximized=0\ntop=296\nleft=387\n"
                            "width=608\nheight=429\n[program]\nshowUpdates=1\nallowEdition=0\n"));
        // Memory is not touched by Save.
        QCOMPARE(s.Top, 0);
    }

    void maximisedAndNotSavedWindow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"settings.ini"_s);
        TSettings s;
        QVERIFY(s.Save(TWindowState{false, 1, 2, 3, 4}, path));
        QVERIFY(s.Save(TWindowState{true, 9, 9, 9, 9}, path));
        TSettings r;
        QVERIFY(r.Load(path));
        QVERIFY(r.Maximized);
        QCOMPARE(r.Top, 1);
        QCOMPARE(r.Height, 4);
        s.SaveWindow = false;
        QVERIFY(s.Save(TWindowState{true, 9, 9, 9, 9}, path));
        QVERIFY(r.Load(path));
        QVERIFY(!r.Maximized);
        QVERIFY(!r.SaveWindow);
        QCOMPARE(r.Left, -1);
        QCOMPARE(r.Width, -1);
    }

    void valuesInPlaceAndNewKeysAppended()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"settings.ini"_s);
        writeAll(path, "; mine\r\n[Program]\r\nALLOWEDITION=1\r\nother=x\r\n\r\n[extra]\r\nk=v\r\n");
        TSettings s;
        QVERIFY(s.Load(path));
        QVERIFY(s.AllowEdition);
        s.AllowEdition = false;
        QVERIFY(s.Save(TWindowState{false, 1, 2, 3, 4}, {}));
        QCOMPARE(readAll(path),
                 QByteArray("; mine\r\n[Program]\r\nallowEdition=0\r\nother=x\r\nshowUpdates=1\r\n\r\n[extra]\r\nk=v\r\n"
                            "[general]\r\nlanguage=default\r\n[window]\r\nsave=1\r\nmaximized=0\r\ntop=1\r\n"
                            "left=2\r\nwidth=3\r\nheight=4\r\n"));
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("top");
        QTest::addColumn<bool>("showUpdates");
        QTest::addColumn<bool>("allowEdition");
        QTest::newRow("hex 0x") << QByteArray("[window]\ntop=0x10") << u"default"_s << 16 << true << false;
        QTest::newRow("hex 0X") << QByteArray("[window]\ntop=0XfF") << u"default"_s << 255 << true << false;
        QTest::newRow("hex $") << QByteArray("[window]\ntop=$FFFFFFFF") << u"default"_s << -1 << true << false;
        QTest::newRow("negative") << QByteArray("[window]\ntop=-20") << u"default"_s << -20 << true << false;
        QTest::newRow("blanks trimmed") << QByteArray("  [ WINDOW ] \n  Top = 7 ") << u"default"_s << 7 << true << false;
        QTest::newRow("unreadable") << QByteArray("[window]\ntop=12px\n[program]\nshowUpdates=true\nallowEdition=yes")
                                    << u"default"_s << -1 << true << false;
        QTest::newRow("overflow") << QByteArray("[window]\ntop=2147483648") << u"default"_s << -1 << true << false;
        QTest::newRow("bare 0x") << QByteArray("[window]\ntop=0x") << u"default"_s << -1 << true << false;
        QTest::newRow("bool nonzero") << QByteArray("[program]\nshowUpdates=0\nallowEdition=$2") << u"default"_s << -1
                                      << false << true;
        QTest::newRow("empty language") << QByteArray("[general]\nlanguage=") << QString() << -1 << true << false;
        QTest::newRow("utf-8 language") << QByteArray("[GENERAL]\nLanguage=Fran\xc3\xa7" "ais") << u"Fran\u00e7ais"_s
                                        << -1 << true << false;
        QTest::newRow("first section wins") << QByteArray("[window]\ntop=1\ntop=2\n[window]\ntop=3") << u"default"_s
                                            << 1 << true << false;
        QTest::newRow("key outside section") << QByteArray("top=5\n[window]") << u"default"_s << -1 << true << false;
    }

    void load()
    {
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"settings.ini"_s);
        writeAll(path, file);
        TSettings s;
        QVERIFY(s.Load(path));
        QTEST(s.Language, "language");
        QTEST(int(s.Top), "top");
        QTEST(s.ShowUpdates, "showUpdates");
        QTEST(s.AllowEdition, "allowEdition");
    }

    void unreadableFileKeepsFields()
    {
        QTemporaryDir dir;
        // A folder where the file should be cannot be read.
        QVERIFY(QDir(dir.path()).mkdir(u"settings.ini"_s));
        TSettings s;
        s.Top = 42;
        QVERIFY(!s.Load(dir.filePath(u"settings.ini"_s)));
        QCOMPARE(s.Top, 42);
        QVERIFY(!s.IniFile);
    }

    // Whatever stands at the settings path, Load answers at once: false with
    // the fields as they were (the main window keeps its defaults) and a
    // message naming the file; Save then leaves the thing alone.
    void unusableFile_data()
    {
        QTest::addColumn<int>("kind"); // a Hostile, or -1: a regular file over the size cap
        for (const Hostile kind : kelvane::test::hostileKinds()) {
            if (kind != Hostile::Missing) // defaults and true: missingFileGivesDefaults
                QTest::newRow(kelvane::test::hostileName(kind)) << int(kind);
        }
        QTest::newRow("too large") << -1;
    }

    void unusableFile()
    {
        QFETCH(int, kind);
        const kelvane::test::ScratchFolder dir;
        const QByteArray good = "[window]\ntop=7\n";
        QString path = dir.path() + u"/settings.ini"_s;
        if (kind < 0) {
            writeAll(path, good);
            QVERIFY(QFile::resize(path, kelvane::config::MaxSettingsFileSize + 1));
        } else {
            path = kelvane::test::makeHostile(Hostile(kind), dir.path(), u"settings.ini"_s, good);
        }
        QVERIFY(!path.isEmpty());
        const QFileInfo before(path);
        TSettings s;
        s.Top = 42;
        QVERIFY(!s.Load(path));
        QCOMPARE(s.Top, 42);
        QVERIFY2(s.LastError.contains(path), qPrintable(s.LastError));
        QVERIFY(!s.Save(TWindowState{false, 1, 2, 3, 4}));
        QVERIFY2(s.LastError.contains(path), qPrintable(s.LastError));
        const QFileInfo after(path);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.isFile(), before.isFile());
        QCOMPARE(after.size(), before.size());

        writeAll(dir.path() + u"/good.ini"_s, good);
        QVERIFY(s.Load(dir.path() + u"/good.ini"_s));
        QCOMPARE(s.Top, 7);
        QVERIFY(s.LastError.isEmpty());
    }

    void failingDevice()
    {
        FailingDevice device(100);
        QVERIFY_THROWS_EXCEPTION(kelvane::Error, TIniFile::fromDevice(device, u"dev"_s));
        QBuffer buffer;
        buffer.setData("[a]\nb=c");
        buffer.open(QIODevice::ReadOnly);
        QCOMPARE(TIniFile::fromDevice(buffer, u"buf"_s).value("A", "B"), std::optional<QByteArray>("c"));
    }

    void failedSaveWritesNothing()
    {
        QTemporaryDir dir;
        const QString blocker = dir.filePath(u"file"_s);
        writeAll(blocker, "not a folder");
        TSettings s;
        QVERIFY(!s.Save(TWindowState{}, blocker + u"/Kelvane/settings.ini"_s));
        QCOMPARE(readAll(blocker), QByteArray("not a folder"));
        // The target is a folder: the write fails, the folder stays as it was.
        const QString target = dir.filePath(u"asdir"_s);
        QVERIFY(QDir(dir.path()).mkdir(u"asdir"_s));
        QVERIFY(!s.Save(TWindowState{}, target));
        QVERIFY(QFileInfo(target).isDir());
    }

    void rawSections()
    {
        const TIniFile ini = TIniFile::fromBytes("[Strings]\nA=1\na=2\nB=\xe9\n[x]\n[strings]\nC=3\nnoequals\n;c=4\n");
        const auto sections = ini.sections();
        QCOMPARE(sections.size(), 2);
        QCOMPARE(sections[0].name, QByteArray("Strings"));
        QCOMPARE(sections[0].entries.size(), 3);
        QCOMPARE(sections[0].entries[1].value, QByteArray("\xe9"));
        QCOMPARE(sections[0].entries[2].key, QByteArray("C"));
    }

    void badNamesRefused_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("newline value") << QByteArray("s") << QByteArray("k") << QByteArray("a\nb");
        QTest::newRow("= in key") << QByteArray("s") << QByteArray("k=") << QByteArray("v");
        QTest::newRow("] in section") << QByteArray("s]") << QByteArray("k") << QByteArray("v");
        QTest::newRow("empty key") << QByteArray("s") << QByteArray() << QByteArray("v");
    }

    void badNamesRefused()
    {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        TIniFile ini;
        QVERIFY_THROWS_EXCEPTION(kelvane::Error, ini.writeValue(section, key, value));
        QVERIFY(ini.toBytes().isEmpty());
    }

    void settingsPath()
    {
        qputenv("appdata", "/x/appdata");
        QCOMPARE(kelvane::DefaultSettingsPath(), u"/x/appdata/Kelvane/settings.ini"_s);
        qunsetenv("appdata");
        qputenv("XDG_CONFIG_HOME", "/x/cfg");
        QCOMPARE(kelvane::DefaultSettingsPath(), u"/x/cfg/Kelvane/settings.ini"_s);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
