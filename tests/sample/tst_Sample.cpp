#include "inventory/kvApplication.h"
#include "platform/Target.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QString SampleSource = QStringLiteral(KELVANE_SOURCE_DIR "/data/sample");

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

TAppItemPtr findEntry(const TApplications &inventory, const QString &keyName)
{
    for (const TAppItems *list : {&inventory.Applications, &inventory.Hotfixes})
        for (const TAppItemPtr &entry : *list)
            if (entry->KeyName == keyName)
                return entry;
    return {};
}

} // namespace

class TestSample : public QObject
{
    Q_OBJECT

    std::unique_ptr<Target> m_target;
    std::unique_ptr<TApplications> m_inventory;
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_home.isValid());
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, m_home.path());
        const QByteArray shipped = fileHash(SampleSource + u"/system.reg"_s);

        m_target = Target::fromEnvironment(environment, SampleSource);
        QCOMPARE(m_target->kind(), Target::Kind::Sample);
        QVERIFY(m_target->description() != SampleSource);
        QVERIFY(QFile::exists(m_target->description() + u"/drive_c/Program Files/Lumen Notes/uninst.exe"_s));

        // Editing the user's copy leaves the shipped sample as it was.
        m_target->registry()->setValue(u"Software\\Kelvane Test"_s, RegistryValue::fromText(u"x"_s, u"y"_s));
        m_target->registry()->save();
        QCOMPARE(fileHash(SampleSource + u"/system.reg"_s), shipped);

        m_inventory = std::make_unique<TApplications>(m_target->registry());
        m_inventory->LoadFromRegistry();
    }

    void cleanupTestCase()
    {
        // Test mode puts the copy under ~/.qttest; leave nothing behind.
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Kelvane"_s).removeRecursively();
    }

    void counts()
    {
        QCOMPARE(m_inventory->KeyCount, 22);
        QCOMPARE(m_inventory->ApplicationCount(), 17);
        QCOMPARE(m_inventory->HotfixCount(), 4);
        QVERIFY(!findEntry(*m_inventory, u"Broken Entry"_s));
    }

    void entries_data()
    {
        QTest::addColumn<QString>("keyName");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("location");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("hotfix");
        QTest::newRow("nsis") << u"Lumen Notes"_s << u"Lumen Notes 3.2"_s << u"3.2.1"_s
                              << u"C:\\Program Files\\Lumen Notes"_s << 14820 * 1024 << false;
        QTest::newRow("inno") << u"Kestrel Paint_is1"_s << u"Kestrel Paint 5"_s << u"5.0.3"_s
                              << u"C:\\Program Files\\Kestrel Paint"_s << 0 << false;
        QTest::newRow("cache size") << u"Tern Archiver_is1"_s << u"Tern Archiver"_s << u"2.11"_s
                                    << u"C:\\Program Files\\Tern Archiver"_s << 3355443 << false;
        QTest::newRow("product name") << u"{9E8D7C6B-5A49-4837-B261-5F4E3D2C1B0A}"_s << u"Verdant Data Bridge"_s
                                      << u"4.1.0"_s << QString() << 0 << false;
        QTest::newRow("cache size -1") << u"{11223344-5566-4778-8899-AABBCCDDEEFF}"_s
                                       << u"Runtime Library 2005 (x86)"_s << u"8.0.50727"_s << QString() << -1 << false;
        QTest::newRow("too large") << u"\u00dcbersetzer"_s << u"\u00dcbersetzer Pro f\u00fcr B\u00fcros"_s << u"7.4"_s
                                   << QString() << 2147483647 << false;
        QTest::newRow("quiet name") << u"SilentSync"_s << u"SilentSync Agent"_s << u"1.0"_s << QString() << 0 << false;
        QTest::newRow("key name") << u"NamelessTool"_s << u"NamelessTool"_s << QString() << QString() << 0 << false;
        QTest::newRow("not a hotfix") << u"KB12345"_s << u"Knowledge Base Reader"_s << QString() << QString() << 0
                                      << false;
        QTest::newRow("hotfix") << u"KB923191"_s << u"Security Update for Windows XP (KB923191)"_s << QString()
                                << QString() << 0 << true;
        QTest::newRow("Q hotfix") << u"Q918439_KB918439"_s << u"Hotfix for Windows XP (KB918439)"_s << QString()
                                  << QString() << 0 << true;
        QTest::newRow("32-bit view") << u"Heron Chat"_s << u"Heron Chat (32-bit)"_s << u"4.2"_s << QString() << 0
                                     << false;
    }

    void entries()
    {
        QFETCH(QString, keyName);
        const TAppItemPtr entry = findEntry(*m_inventory, keyName);
        QVERIFY2(entry, qPrintable(keyName));
        QTEST(entry->DisplayName, "displayName");
        QTEST(entry->DisplayVersion, "version");
        QTEST(entry->InstallLocation, "location");
        QTEST(int(entry->EstimatedSize), "size");
        QTEST(entry->IsHotfix, "hotfix");
    }

    void details()
    {
        const TAppItemPtr orbit = findEntry(*m_inventory, u"OrbitFTP"_s);
        QCOMPARE(orbit->IconPaths, (QStringList{u"\"C:\\Program Files\\OrbitFTP\\orbit.exe\",-101"_s,
                                                u"C:\\Program Files\\OrbitFTP\\orbit.exe"_s}));
        QCOMPARE(findEntry(*m_inventory, u"Kestrel Paint_is1"_s)->UrlInfoAbout, u"https://kestrel.example.com/help"_s);
        QVERIFY(findEntry(*m_inventory, u"SilentSync"_s)->UninstallString.isEmpty());
        QVERIFY(findEntry(*m_inventory, u"Heron Chat"_s)->KeyPath.contains(u"Wow6432Node"_s));

        const TAppItemPtr suite = findEntry(*m_inventory, u"{6A1F2B3C-4D5E-4F60-8172-93A4B5C6D7E8}"_s);
        QCOMPARE(suite->SubItemCount(), 3);
        QCOMPARE(suite->GetSubItem(0)->Uninstallable, true);
        // Patch keys are listed in registry order: the unnamed one comes first under its user.
        QCOMPARE(suite->GetSubItem(1)->DisplayName, u"Update"_s);
        QCOMPARE(suite->GetSubItem(2)->Uninstallable, false);
        QCOMPARE(suite->GetSubItem(0)->Installed, u"20070612"_s);
    }
};

QTEST_GUILESS_MAIN(TestSample)
#include "tst_Sample.moc"
