// SPDX-License-Identifier: GPL-3.0-or-later
// An entry's backup on a real Wine prefix: refused while a wineserver runs,
// and after the delete, Wine's own regedit brings every value back.
#include "WineTestEnvironment.h"
#include "WineTools.h"
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "registry/RegistryBackup.h"
#include "registry/WineRegistryFile.h"

#include "FileBytes.h"
#include "RequiredTool.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QString EntryKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KelvaneRoundTrip"_s;

QByteArray units(std::initializer_list<char16_t> list)
{
    QByteArray bytes;
    for (const char16_t unit : list) {
        bytes += char(unit & 0xff);
        bytes += char(unit >> 8);
    }
    return bytes;
}

// Every key and value of the subtree, one line each, in name order: what
// must be the same after the round trip.
void dump(const RegistryStore &store, const QString &path, QStringList &lines)
{
    lines.append(path.toLower());
    QList<RegistryValue> values = store.values(path);
    std::sort(values.begin(), values.end(),
              [](const RegistryValue &a, const RegistryValue &b) { return a.name.toLower() < b.name.toLower(); });
    for (const RegistryValue &value : values)
        lines.append(u"  \"%1\" type %2: %3"_s.arg(value.name).arg(value.type).arg(QString::fromLatin1(value.data.toHex(','))));
    QStringList children = store.subkeyNames(path);
    std::sort(children.begin(), children.end(),
              [](const QString &a, const QString &b) { return a.toLower() < b.toLower(); });
    for (const QString &child : children)
        dump(store, path + u'\\' + child, lines);
}

} // namespace

class TestBackupRoundTrip : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_prefix;
    QString m_registry;
    QString m_backups;
    QProcessEnvironment m_env;
    QStringList m_before;

    // Runs a Wine tool to its end; an empty answer is success.
    QString run(const QString &program, const QStringList &arguments, const QString &folder = {})
    {
        return test::runTool(m_env, program, arguments, folder, 180000);
    }

    QString regAdd(const QString &subkey, const QString &name, const QString &type, const QString &data)
    {
        return run(u"wine"_s, {u"reg"_s, u"add"_s, u"HKLM\\"_s + EntryKey + subkey, u"/v"_s, name, u"/t"_s, type,
                               u"/d"_s, data, u"/f"_s});
    }

    QStringList backups() const { return QDir(m_backups).entryList(QDir::Files); }

private slots:
    void initTestCase()
    {
        for (const QString &tool : {u"wine"_s, u"wineboot"_s, u"wineserver"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                KELVANE_SKIP_WITHOUT_TOOL(qPrintable(tool + u" is not on PATH"_s));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_prefix = m_dir->filePath(u"prefix"_s);
        m_registry = m_prefix + u"/system.reg"_s;
        m_env = test::wineTestEnvironment(m_prefix);
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath(u"data"_s)));
        m_backups = RegistryBackup::defaultFolder();
        QVERIFY(m_backups.startsWith(m_dir->path()));

        QCOMPARE(test::makeTestPrefix(m_env), QString());
        // Through Wine itself: every type reg.exe knows.
        QCOMPARE(regAdd({}, u"DisplayName"_s, u"REG_SZ"_s, u"Round \"trip\" \\ \u00e9\u6f22"_s), QString());
        QCOMPARE(regAdd({}, u"UninstallString"_s, u"REG_SZ"_s, u"C:\\rt\\uninst.exe /x"_s), QString());
        QCOMPARE(regAdd({}, u"Path"_s, u"REG_EXPAND_SZ"_s, u"%ProgramFiles%\\rt"_s), QString());
        QCOMPARE(regAdd({}, u"Parts"_s, u"REG_MULTI_SZ"_s, u"one\\0two\\0three"_s), QString());
        QCOMPARE(regAdd({}, u"EstimatedSize"_s, u"REG_DWORD"_s, u"1500"_s), QString());
        QCOMPARE(regAdd({}, u"Stamp"_s, u"REG_QWORD"_s, u"0x0123456789abcdef"_s), QString());
        QString blob;
        for (int i = 0; i < 60; ++i) // continuation lines
            blob += u"%1"_s.arg(i * 7 % 256, 2, 16, QChar(u'0'));
        QCOMPARE(regAdd({}, u"Blob"_s, u"REG_BINARY"_s, blob), QString());
        QCOMPARE(regAdd(u"\\Sub\\Deeper"_s, u"v\"\\"_s, u"REG_SZ"_s, u"deep"_s), QString());
        QCOMPARE(run(u"wineserver"_s, {u"-w"_s}), QString());

        // Through Kelvane's store: what reg.exe cannot write. (Left out: a
        // text without its final NUL; Wine's regedit adds one on import.)
        auto store = WineRegistryFile::open(m_registry);
        store->setValue(EntryKey, RegistryValue::fromText(u"Lines"_s, u"a\r\nb"_s));
        store->setValue(EntryKey, RegistryValue::fromBytes(u"Nul"_s, RegSz, units({u'a', 0, u'b', 0})));
        store->setValue(EntryKey, RegistryValue::fromBytes(u"NoBytes"_s, RegSz, {}));
        store->setValue(EntryKey, RegistryValue::fromBytes(u"Short"_s, RegDword, QByteArray::fromHex("010203")));
        store->setValue(EntryKey, RegistryValue::fromBytes(u"Odd type"_s, 0x100, QByteArray::fromHex("0102")));
        store->setValue(EntryKey, RegistryValue::fromText(QString(), u"default"_s));
        store->save();
        dump(*store, EntryKey, m_before);
        QVERIFY(m_before.size() > 15);
    }

    void cleanupTestCase()
    {
        if (m_prefix.isEmpty())
            return;
        test::stopWineServer(m_env);
    }

    void refusedWhileServerRuns()
    {
        const auto store = std::shared_ptr<RegistryStore>(WineRegistryFile::open(m_registry));
        const QByteArray before = test::fileBytes(m_registry);
        QCOMPARE(test::startLingeringWineServer(m_env, m_prefix), QString());
        TAppItem entry(store);
        entry.KeyPath = EntryKey;
        try {
            entry.DeleteEntry();
            QFAIL("deleted while a wineserver runs");
        } catch (const Error &error) {
            QCOMPARE(error.kind(), ErrorKind::ServerRunning);
            QCOMPARE(error.path(), m_prefix);
        }
        QCOMPARE(run(u"wineserver"_s, {u"-k"_s}), QString());
        QCOMPARE(run(u"wineserver"_s, {u"-w"_s}), QString());
        QCOMPARE(test::fileBytes(m_registry), before);
        QVERIFY(backups().isEmpty());
    }

    void roundTrip()
    {
        const auto store = std::shared_ptr<RegistryStore>(WineRegistryFile::open(m_registry));
        TAppItem entry(store);
        entry.KeyPath = EntryKey;
        entry.DeleteEntry();
        QVERIFY(!WineRegistryFile::open(m_registry)->keyExists(EntryKey));
        const QStringList files = backups();
        QCOMPARE(files.size(), 1);

        QCOMPARE(run(u"wine"_s, {u"regedit"_s, u"/s"_s, files.first()}, m_backups), QString());
        QCOMPARE(run(u"wineserver"_s, {u"-w"_s}), QString());
        QStringList after;
        dump(*WineRegistryFile::open(m_registry), EntryKey, after);
        QCOMPARE(after.join(u'\n'), m_before.join(u'\n'));
    }
};

QTEST_GUILESS_MAIN(TestBackupRoundTrip)
#include "test_backup_round_trip.moc"
