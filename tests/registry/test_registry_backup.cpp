// SPDX-License-Identifier: GPL-3.0-or-later
// Backup files: names any file system takes, and never one file replacing another.
#include "registry/RegistryBackup.h"
#include "registry/WineRegistryFile.h"

#include "FileBytes.h"
#include "WineRegistryText.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QDateTime When(QDate(2026, 1, 2), QTime(3, 4, 5));

} // namespace

class TestRegistryBackup : public QObject
{
    Q_OBJECT

private slots:
    void fileName_data();
    void fileName();
    void neverReplaces();
};

void TestRegistryBackup::fileName_data()
{
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<QString>("name");

    QTest::newRow("last name of the path") << u"Software\\Uninstall\\App 1.0"_s << u"20260102-030405 App 1.0.reg"_s;
    QTest::newRow("the hive") << QString() << u"20260102-030405 HKEY_LOCAL_MACHINE.reg"_s;
    QTest::newRow("characters file systems refuse") << u"K\\a/b:c*d?e\"f<g>h|i"_s
                                                    << u"20260102-030405 a_b_c_d_e_f_g_h_i.reg"_s;
    QTest::newRow("controls, a direction override, a lone surrogate")
        << u"K\\a\tb\x7f\u202e\xd800z"_s << u"20260102-030405 a_b___z.reg"_s;
    QTest::newRow("long, cut") << u"K\\"_s + QString(60, u'x') << u"20260102-030405 "_s + QString(48, u'x') + u".reg"_s;
    QTest::newRow("cut before a pair, not in it") << u"K\\"_s + QString(47, u'x') + u"\U0001F600"_s
                                                  << u"20260102-030405 "_s + QString(47, u'x') + u".reg"_s;
}

void TestRegistryBackup::fileName()
{
    QFETCH(QString, keyPath);
    QFETCH(QString, name);
    QCOMPARE(RegistryBackup::fileName(keyPath, When), name);
}

void TestRegistryBackup::neverReplaces()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(u"made/here"_s); // parents made too
    auto store = WineRegistryFile::fromBytes(test::wineRegistryFile("[Software\\\\App] 1\n\"v\"=\"1\"\n\n"), u"t"_s);
    const RegistryBackup backup(folder);
    const QString first = backup.write(*store, u"Software\\App"_s, When);
    const QByteArray firstBytes = test::fileBytes(first);
    store->setValue(u"Software\\App"_s, RegistryValue::fromText(u"v"_s, u"2"_s));
    const QString second = backup.write(*store, u"Software\\App"_s, When);
    QCOMPARE(first, folder + u"/20260102-030405 App.reg"_s);
    QCOMPARE(second, folder + u"/20260102-030405 App (2).reg"_s);
    QCOMPARE(test::fileBytes(first), firstBytes);
    QVERIFY(test::fileBytes(second) != firstBytes);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary file left
}

QTEST_GUILESS_MAIN(TestRegistryBackup)
#include "test_registry_backup.moc"
