// SPDX-License-Identifier: GPL-3.0-or-later
// The SOFTWARE hive of an offline Windows as a registry store: what hivex
// wrote is read back exactly, damaged hives are refused in words, and edits
// are saved whole, after a copy of the hive, or refused.
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "registry/HiveRegistryFile.h"
#include "registry/RegistryBackup.h"

#include "CompactHive.h"
#include "EmptyHive.h"
#include "FileBytes.h"
#include "RequiredTool.h"
#include "Utf16.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using namespace kelvane::test;

namespace {

const QString AppKey = u"Microsoft\\Windows\\CurrentVersion\\Uninstall\\App"_s;
const QString StoreAppKey = u"SOFTWARE\\"_s + AppKey;

// Every form a value takes in real hives.
QList<RegistryValue> sampleValues()
{
    QByteArray big(20000, '\0'); // stored as a big-data block
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7);
    return {
        RegistryValue::fromBytes(u"DisplayName"_s, RegSz, test::registryTextBytes(u"App é 名前"_s)),
        RegistryValue::fromBytes(u"NoFinalNul"_s, RegSz, test::utf16Bytes(u"cut"_s)),
        RegistryValue::fromBytes(u"OddLength"_s, RegSz, test::registryTextBytes(u"odd"_s).left(5)),
        RegistryValue::fromBytes(u"EmbeddedNul"_s, RegSz,
                                 test::registryTextBytes(u"a"_s) + test::registryTextBytes(u"b"_s)),
        RegistryValue::fromBytes(u"Path"_s, RegExpandSz, test::registryTextBytes(u"%ProgramFiles%\\App"_s)),
        RegistryValue::fromDword(u"EstimatedSize"_s, 1234),
        RegistryValue::fromBytes(u"Big"_s, RegQword, QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8)),
        RegistryValue::fromBytes(u"Blob"_s, RegBinary, big),
        RegistryValue::fromBytes(u"List"_s, RegMultiSz,
                                 test::registryTextBytes(u"one"_s) + test::registryTextBytes(u"two"_s)
                                     + test::registryTextBytes(QString())),
        RegistryValue::fromBytes(QString(), RegSz, test::registryTextBytes(u"default"_s)),
        RegistryValue::fromBytes(u"Ünïcode 名"_s, RegSz, test::registryTextBytes(u"x"_s)),
        RegistryValue::fromText(u"UninstallString"_s, u"C:\\App\\uninst.exe"_s),
    };
}

// Key path -> value name -> (type, bytes).
using Tree = QMap<QString, QMap<QString, QPair<quint32, QByteArray>>>;

void visit(const RegistryStore &store, const QString &path, Tree &tree)
{
    auto &values = tree[path];
    for (const RegistryValue &value : store.values(path))
        values.insert(value.name, {value.type, value.data});
    for (const QString &name : store.subkeyNames(path))
        visit(store, path + u'\\' + name, tree);
}

// hivexregedit's export: a key line, then one line per value (dword: or
// hex(N):). Perl prints a name within Latin-1 as Latin-1 bytes, any other as UTF-8.
Tree parseExport(const QByteArray &text)
{
    Tree tree;
    QString key;
    for (const QByteArray &bytes : text.split('\n')) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString line = utf8(bytes);
        if (utf8.hasError())
            line = QString::fromLatin1(bytes);
        if (line.startsWith(u'[')) {
            key = line.mid(1, line.size() - 2).section(u'\\', 1);
            if (key.endsWith(u'\\')) // the root: "[HKEY_LOCAL_MACHINE\SOFTWARE\]"
                key.chop(1);
            tree[key];
            continue;
        }
        if (!line.startsWith(u'"') && !line.startsWith(u'@'))
            continue;
        qsizetype end = 1;
        QString name;
        if (line.startsWith(u'"')) {
            for (; end < line.size() && line[end] != u'"'; ++end)
                name += line[end] == u'\\' ? line[++end] : line[end];
            ++end;
        }
        const QString data = line.mid(end + 1);
        if (data.startsWith(u"dword:"_s)) {
            QByteArray bytes(4, '\0');
            qToLittleEndian<quint32>(data.mid(6).toUInt(nullptr, 16), bytes.data());
            tree[key].insert(name, {RegDword, bytes});
        } else {
            const QString type = data.section(u':', 0, 0);
            const quint32 number = type == u"hex"_s ? RegBinary : type.mid(4, type.size() - 5).toUInt(nullptr, 16);
            tree[key].insert(name, {number, QByteArray::fromHex(data.section(u':', 1).remove(u',').toLatin1())});
        }
    }
    return tree;
}

} // namespace

class TestHiveRegistry : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_hive;

    void buildHive()
    {
        HiveBuilder builder(m_hive);
        builder.add(AppKey, sampleValues());
        builder.add(u"Microsoft\\Windows\\CurrentVersion\\Uninstall\\Café"_s);
        builder.add(u"Microsoft\\Windows\\CurrentVersion\\Uninstall\\名前"_s);
        builder.add(u"Microsoft\\Windows NT\\CurrentVersion"_s,
                    {RegistryValue::fromBytes(u"ProductName"_s, RegSz, test::registryTextBytes(u"Windows 10 Pro"_s))});
        builder.commit();
    }

private slots:
    void init()
    {
        m_hive = m_dir.filePath(u"SOFTWARE"_s);
        QFile::remove(m_hive);
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(u"data"_s)));
        QDir(m_dir.filePath(u"data"_s)).removeRecursively();
        buildHive();
    }

    void cleanup() { qunsetenv("XDG_DATA_HOME"); }

    void readsWhatHivexWrote()
    {
        const auto store = HiveRegistryFile::open(m_hive);
        QVERIFY(!store->mayBeOutOfDate());
        QCOMPARE(store->subkeyNames(QString()), QStringList{u"SOFTWARE"_s});
        QVERIFY(store->keyExists(u"software\\MICROSOFT\\windows\\CurrentVersion\\Uninstall\\app"_s));
        QVERIFY(!store->keyExists(u"SYSTEM\\CurrentControlSet"_s)); // HKLM holds the hive alone
        QStringList uninstall = store->subkeyNames(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s);
        uninstall.sort();
        QCOMPARE(uninstall, (QStringList{u"App"_s, u"Café"_s, u"名前"_s}));
        QVERIFY(store->keyExists(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CAFÉ"_s));
        QCOMPARE(store->values(StoreAppKey), sampleValues());
        QCOMPARE(store->value(StoreAppKey, u"displayname"_s)->text(), u"App é 名前"_s);
        QCOMPARE(store->value(StoreAppKey, u"NoFinalNul"_s)->text(), u"cut"_s);
        QCOMPARE(store->value(StoreAppKey, u"EmbeddedNul"_s)->text(), u"a"_s);
        QCOMPARE(store->value(StoreAppKey, u"List"_s)->multiText(), (QStringList{u"one"_s, u"two"_s}));
        QVERIFY(!store->value(StoreAppKey, u"Missing"_s));
    }

    // hivex's own export tool as a second opinion on the whole hive.
    void hivexregeditAgrees()
    {
        QProcess exporter;
        exporter.start(u"hivexregedit"_s, {u"--export"_s, u"--prefix"_s, u"HKEY_LOCAL_MACHINE\\SOFTWARE"_s, m_hive,
                                           u"\\"_s});
        if (!exporter.waitForStarted())
            KELVANE_SKIP_WITHOUT_TOOL("hivexregedit (libwin-hivex-perl) is not installed");
        QVERIFY(exporter.waitForFinished(30000));
        QCOMPARE(exporter.exitCode(), 0);
        const Tree expected = parseExport(exporter.readAllStandardOutput());
        Tree read;
        visit(*HiveRegistryFile::open(m_hive), u"SOFTWARE"_s, read);
        QCOMPARE(read.keys(), expected.keys());
        QCOMPARE(read, expected);
    }

    // The inventory's edits on a hive: a rename and a removal, each backed
    // up as a regedit file, read back by hivexregedit and by a fresh scan.
    void entryEditsRoundTrip()
    {
        const auto store = std::shared_ptr<RegistryStore>(HiveRegistryFile::open(m_hive));
        TApplications before(store);
        before.LoadFromRegistry();
        QCOMPARE(before.ApplicationCount(), 1); // App: the two keys without a name are no applications
        before.GetApplication(0)->Rename(u"Renamed ü 名"_s);
        // A second entry, added as an installer would, then removed.
        const QString gone = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Gone"_s;
        store->setValue(gone, RegistryValue::fromText(u"DisplayName"_s, u"Gone"_s));
        store->setValue(gone, RegistryValue::fromText(u"UninstallString"_s, u"C:\\Gone\\uninst.exe"_s));
        store->save();
        TApplications middle(store);
        middle.LoadFromRegistry();
        QCOMPARE(middle.ApplicationCount(), 2);
        for (const TAppItemPtr &entry : middle.Applications)
            if (entry->DisplayName == u"Gone"_s)
                entry->DeleteEntry();

        TApplications after(HiveRegistryFile::open(m_hive));
        after.LoadFromRegistry();
        QCOMPARE(after.ApplicationCount(), 1);
        QCOMPARE(after.GetApplication(0)->DisplayName, u"Renamed ü 名"_s);
        QDir backups(RegistryBackup::defaultFolder());
        QCOMPARE(backups.entryList({u"*.reg"_s}, QDir::Files).size(), 2); // the renamed key, the removed one
        QCOMPARE(backups.entryList({u"*.hive"_s}, QDir::Files).size(), 1); // the hive, once

        QProcess exporter;
        exporter.start(u"hivexregedit"_s, {u"--export"_s, m_hive, u"\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s});
        if (!exporter.waitForStarted())
            KELVANE_SKIP_WITHOUT_TOOL("hivexregedit (libwin-hivex-perl) is not installed");
        QVERIFY(exporter.waitForFinished(30000));
        const QByteArray exported = exporter.readAllStandardOutput();
        QVERIFY(!exported.contains("\\Gone]"));
        QVERIFY2(exported.contains(test::registryTextBytes(u"Renamed ü 名"_s).toHex(',')), exported.constData());
    }

    // The benchmarks' compact hives read as the ones hivex fills.
    void compactHiveReadsTheSame()
    {
        QList<RegistryValue> values = sampleValues();
        values.removeAt(7); // the big-data value: compact hives hold none
        HiveKey app{u"App"_s, values, {}};
        HiveKey uninstall{u"Uninstall"_s, {}, {app, HiveKey{u"名前"_s, {}, {}}, HiveKey{u"Café"_s, {}, {}}}};
        HiveKey root{u"ROOT"_s, {}, {HiveKey{u"Microsoft"_s, {}, {HiveKey{u"Windows"_s, {}, {HiveKey{u"CurrentVersion"_s, {}, {uninstall}}}}}}}};
        QVERIFY(writeFileBytes(m_hive, compactHive(root)));
        const auto store = HiveRegistryFile::open(m_hive);
        QCOMPARE(store->values(StoreAppKey), values);
        QStringList names = store->subkeyNames(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s);
        names.sort();
        QCOMPARE(names, (QStringList{u"App"_s, u"Café"_s, u"名前"_s}));
        QVERIFY(store->keyExists(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\café"_s));
    }

    void damagedHivesAreRefused_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<QString>("said");
        QTest::newRow("no signature") << 0 << u"no \"regf\" signature"_s;
        QTest::newRow("wrong checksum") << 1 << u"wrong checksum"_s;
        QTest::newRow("cut in its data") << 2 << u"cut short"_s;
        QTest::newRow("cut in its base block") << 3 << u"cut short"_s;
        QTest::newRow("root cell out of range") << 4 << u"damaged"_s;
        QTest::newRow("bins overlap the end") << 5 << u"cut short"_s;
        QTest::newRow("cell past its bin") << 6 << u"a cell of"_s;
    }
    void damagedHivesAreRefused()
    {
        QFETCH(int, damage);
        QFETCH(QString, said);
        QByteArray bytes = fileBytes(m_hive);
        switch (damage) {
        case 0:
            bytes.replace(0, 4, "REGF");
            break;
        case 1:
            bytes[0x30] = 'x';
            break;
        case 2:
            bytes.chop(0x800);
            break;
        case 3:
            bytes.truncate(0x800);
            break;
        case 4:
            qToLittleEndian<quint32>(0x7ffffff0, bytes.data() + HiveRootOffset);
            resealHive(bytes);
            break;
        case 5:
            qToLittleEndian<quint32>(quint32(bytes.size()), bytes.data() + 0x28);
            resealHive(bytes);
            break;
        case 6: // the root key's cell claims the whole first bin and more
            qToLittleEndian<qint32>(-0x2000, bytes.data() + HiveBaseBlockSize + 0x20);
            break;
        }
        QVERIFY(writeFileBytes(m_hive, bytes));
        try {
            HiveRegistryFile::open(m_hive);
            QFAIL("opened");
        } catch (const Error &error) {
            QVERIFY2(error.message().contains(m_hive) && error.message().contains(said), qPrintable(error.message()));
        }
    }

    void editsAreSavedWholeAfterACopy()
    {
        const QByteArray original = fileBytes(m_hive);
        QVERIFY(QFile::setPermissions(m_hive, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        auto store = HiveRegistryFile::open(m_hive);
        store->setValue(StoreAppKey, RegistryValue::fromText(u"DisplayName"_s, u"Renamed 名"_s));
        store->setValue(StoreAppKey, RegistryValue::fromText(u"Added"_s, u"new"_s));
        store->createKey(u"SOFTWARE\\Kelvane\\Made"_s);
        store->deleteTree(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Café"_s);
        QVERIFY_THROWS_EXCEPTION(Error, store->deleteTree(u"SOFTWARE"_s));
        store->save();

        const auto again = HiveRegistryFile::open(m_hive);
        QCOMPARE(again->value(StoreAppKey, u"DisplayName"_s)->text(), u"Renamed 名"_s);
        QCOMPARE(again->value(StoreAppKey, u"Added"_s)->text(), u"new"_s);
        QCOMPARE(again->value(StoreAppKey, u"Blob"_s), sampleValues()[7]); // the others kept
        QVERIFY(again->keyExists(u"SOFTWARE\\Kelvane\\Made"_s));
        QVERIFY(!again->keyExists(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Café"_s));
        QVERIFY(again->keyExists(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\名前"_s));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(m_hive).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0640));

        // One copy of the hive as it was, taken before the first save only.
        store->setValue(StoreAppKey, RegistryValue::fromText(u"Second"_s, u"x"_s));
        store->save();
        const QDir backups(RegistryBackup::defaultFolder());
        const QStringList copies = backups.entryList(QDir::Files);
        QCOMPARE(copies.size(), 1);
        QVERIFY2(copies.first().endsWith(u" SOFTWARE.hive"_s), qPrintable(copies.first()));
        QCOMPARE(fileBytes(backups.filePath(copies.first())), original);
    }

    // Where hivex would lose values, abort or write what Windows misreads,
    // the edit is refused in words and the hive left as it was.
    void editsRefusedWhereHivexWouldHarm_data()
    {
        QTest::addColumn<bool>("newerFormat"); // else a value's data cell is lost
        QTest::addColumn<QString>("said");
        QTest::newRow("unreadable value") << false << u"values cannot be read"_s;
        QTest::newRow("big value in a newer hive") << true << u"20000 bytes"_s;
    }
    void editsRefusedWhereHivexWouldHarm()
    {
        QFETCH(bool, newerFormat);
        QFETCH(QString, said);
        QByteArray bytes = fileBytes(m_hive);
        if (newerFormat) {
            qToLittleEndian<quint32>(5, bytes.data() + 0x18); // Windows' current minor version
            resealHive(bytes);
        } else {
            // The "Path" value's data offset, moved out of the hive.
            const qsizetype name = bytes.indexOf("Path");
            QVERIFY(name > 0 && bytes.mid(name - 0x14, 2) == "vk");
            qToLittleEndian<quint32>(0x7ffffff0, bytes.data() + name - 0x14 + 0x08);
        }
        QVERIFY(writeFileBytes(m_hive, bytes));
        auto store = HiveRegistryFile::open(m_hive);
        try {
            store->setValue(StoreAppKey, RegistryValue::fromText(u"DisplayName"_s, u"x"_s));
            QFAIL("edited");
        } catch (const Error &error) {
            QVERIFY2(error.message().contains(said) && error.message().contains(StoreAppKey),
                     qPrintable(error.message()));
        }
        QVERIFY_THROWS_EXCEPTION(Error, store->deleteTree(u"SOFTWARE\\Microsoft\\Windows"_s));
        QVERIFY(store->keyExists(StoreAppKey));
        QCOMPARE(fileBytes(m_hive), bytes);
    }

    void writesRefused_data()
    {
        QTest::addColumn<bool>("dirty"); // else changed on disk
        QTest::addColumn<ErrorKind>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("dirty hive") << true << ErrorKind::Other << u".LOG1"_s;
        QTest::newRow("changed on disk") << false << ErrorKind::ChangedOnDisk << u"changed by another program"_s;
    }
    void writesRefused()
    {
        QFETCH(bool, dirty);
        QFETCH(ErrorKind, kind);
        QFETCH(QString, said);
        if (dirty) {
            QByteArray bytes = fileBytes(m_hive);
            qToLittleEndian<quint32>(qFromLittleEndian<quint32>(bytes.constData() + HivePrimarySequence) + 1,
                                     bytes.data() + HivePrimarySequence);
            resealHive(bytes);
            QVERIFY(writeFileBytes(m_hive, bytes));
        }
        auto store = HiveRegistryFile::open(m_hive);
        QCOMPARE(store->mayBeOutOfDate(), dirty);
        QCOMPARE(store->value(StoreAppKey, u"EstimatedSize"_s)->dword(), 1234u); // still read
        if (!dirty) {
            QByteArray bytes = fileBytes(m_hive);
            bytes.append(QByteArray(0x1000, '\0'));
            QVERIFY(writeFileBytes(m_hive, bytes));
        }
        const QByteArray before = fileBytes(m_hive);
        store->setValue(StoreAppKey, RegistryValue::fromText(u"DisplayName"_s, u"x"_s));
        try {
            store->save();
            QFAIL("saved");
        } catch (const Error &error) {
            QCOMPARE(error.kind(), kind);
            QVERIFY2(error.message().contains(said), qPrintable(error.message()));
        }
        QCOMPARE(fileBytes(m_hive), before);
        QVERIFY(!QDir(RegistryBackup::defaultFolder()).exists());
    }
};

QTEST_GUILESS_MAIN(TestHiveRegistry)
#include "test_hive_registry.moc"
