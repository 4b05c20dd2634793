// SPDX-License-Identifier: GPL-3.0-or-later
#include "MemoryRegistryStore.h"
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "inventory/RegistryAccess.h"

#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

#include <functional>
#include <limits>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using kelvane::test::MemoryRegistryStore;

namespace {

const QString Uninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
const QString Uninstall64 = u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
const QString Products = u"SOFTWARE\\Classes\\Installer\\Products"_s;
const QString ArpCache = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache"_s;
const QString UserData = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData"_s;
const QString Guid = u"{12345678-ABCD-EF01-2345-6789ABCDEF01}"_s;
const QString PackedGuid = u"87654321DCBA10FE32547698BADCFE10"_s;
const QString PatchName = u"0123456789ABCDEF0123456789ABCDEF"_s;

// A cache record with the given size, program path and length.
QByteArray cacheRecord(qint64 size, const QString &path, qsizetype length = 552)
{
    QByteArray record(552, '\0');
    qToLittleEndian<qint64>(size, record.data() + 8);
    for (qsizetype i = 0; i < path.size() && 28 + 2 * i + 1 < 552; ++i)
        qToLittleEndian<quint16>(path.at(i).unicode(), record.data() + 28 + 2 * i);
    return record.left(length);
}

struct Fixture
{
    std::shared_ptr<MemoryRegistryStore> store = std::make_shared<MemoryRegistryStore>();

    QString add(const QString &keyName, const QList<std::pair<QString, QString>> &texts = {})
    {
        const QString path = Uninstall + u'\\' + keyName;
        store->setText(path, u"UninstallString"_s, u"uninst.exe"_s);
        for (const auto &[name, text] : texts)
            store->setText(path, name, text);
        return path;
    }

    std::shared_ptr<TApplications> scan()
    {
        store->commit();
        auto applications = std::make_shared<TApplications>(store);
        applications->LoadFromRegistry();
        return applications;
    }

    TAppItemPtr only()
    {
        auto applications = scan();
        if (applications->ApplicationCount() + applications->HotfixCount() != 1)
            return nullptr;
        return applications->HasApplications() ? applications->GetApplication(0)
                                               : applications->GetHotfix(0);
    }
};

} // namespace

class TestInventory : public QObject
{
    Q_OBJECT

private slots:
    // Deleted entries' backups go to the test's data folder, not the user's.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void convertGuid_data();
    void convertGuid();
    void hotfixes_data();
    void hotfixes();
    void uninstallCommands_data();
    void uninstallCommands();
    void displayNameFallbacks_data();
    void displayNameFallbacks();
    void ownKeyFallbacks();
    void iconPathsOrder();
    void sizes_data();
    void sizes();
    void arpRecord_data();
    void arpRecord();
    void oddValuesKeepTheEntry();
    void scanCountsAndHook();
    void missingUninstallKey();
    void wow64Entries();
    void patches();
    void patchUninstallable_data();
    void patchUninstallable();
    void matchesFilter_data();
    void matchesFilter();
    void rename();
    void setCommands();
    void refusedAndFailedEdits();
    void deleteEntry();
};

void TestInventory::convertGuid_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("toBraced");
    QTest::addColumn<QString>("expected");

    QTest::newRow("path to packed") << Uninstall + u'\\' + Guid << false << PackedGuid;
    QTest::newRow("packed to braced") << PackedGuid << true << Guid;
    QTest::newRow("patch code") << PatchName << true << u"{76543210-BA98-FEDC-1032-547698BADCFE}"_s;
    QTest::newRow("case kept") << u"{abcdef01-2345-6789-abcd-ef0123456789}"_s << false
                               << u"10fedcba54329876badcfe1032547698"_s;
    QTest::newRow("no braces") << u"Uninstall\\WinZip"_s << false << QString();
    QTest::newRow("no closing brace") << u"{1234"_s << false << QString();
    QTest::newRow("closing brace first") << u"}abc{"_s << false << QString();
    QTest::newRow("odd last part") << u"{1-2-3-abc}"_s << false << u"123bac"_s;
    QTest::newRow("short text to braced") << u"abc"_s << true << u"{cba----}"_s;
}

void TestInventory::convertGuid()
{
    QFETCH(QString, text);
    QFETCH(bool, toBraced);
    QFETCH(QString, expected);
    QCOMPARE(ConvertGuid(text, toBraced), expected);
}

void TestInventory::hotfixes_data()
{
    QTest::addColumn<QString>("keyName");
    QTest::addColumn<bool>("hotfix");

    QTest::newRow("KB925902") << u"KB925902"_s << true;
    QTest::newRow("Q925902_KB925902") << u"Q925902_KB925902"_s << true;
    QTest::newRow("xkb1234567") << u"xkb1234567"_s << true;
    QTest::newRow("KB12345") << u"KB12345"_s << false;
    QTest::newRow("Q925902") << u"Q925902"_s << false;
}

void TestInventory::hotfixes()
{
    QFETCH(QString, keyName);
    QFETCH(bool, hotfix);
    Fixture fixture;
    fixture.add(keyName);
    auto applications = fixture.scan();
    QCOMPARE(applications->HotfixCount(), hotfix ? 1 : 0);
    QCOMPARE(applications->ApplicationCount(), hotfix ? 0 : 1);
    const TAppItemPtr entry = hotfix ? applications->GetHotfix(0) : applications->GetApplication(0);
    QCOMPARE(entry->IsHotfix, hotfix);
    QCOMPARE(entry->KeyPath, Uninstall + u'\\' + keyName);
}

void TestInventory::uninstallCommands_data()
{
    QTest::addColumn<QString>("normal");
    QTest::addColumn<QString>("quiet");
    QTest::addColumn<bool>("entry");

    QTest::newRow("neither") << QString() << QString() << false;
    QTest::newRow("both empty texts") << u""_s << u""_s << false;
    QTest::newRow("only quiet") << QString() << u"uninst.exe /S"_s << true;
    QTest::newRow("only normal") << u"uninst.exe"_s << QString() << true;
}

void TestInventory::uninstallCommands()
{
    QFETCH(QString, normal);
    QFETCH(QString, quiet);
    QFETCH(bool, entry);
    Fixture fixture;
    const QString path = Uninstall + u"\\App"_s;
    fixture.store->setText(path, u"DisplayName"_s, u"App"_s);
    if (!normal.isNull())
        fixture.store->setText(path, u"UninstallString"_s, normal);
    if (!quiet.isNull())
        fixture.store->setText(path, u"QuietUninstallString"_s, quiet);
    auto applications = fixture.scan();
    QCOMPARE(applications->ApplicationCount(), entry ? 1 : 0);
    QCOMPARE(applications->KeyCount, 1);
    if (entry) {
        QCOMPARE(applications->GetApplication(0)->UninstallString, normal);
        QCOMPARE(applications->GetApplication(0)->QuietUninstallString, quiet);
    }
}

void TestInventory::displayNameFallbacks_data()
{
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<QString>("productName");
    QTest::addColumn<QString>("quietDisplayName");
    QTest::addColumn<QString>("expected");

    QTest::newRow("own name first") << u"Own"_s << u"Product"_s << u"Quiet"_s << u"Own"_s;
    QTest::newRow("product before quiet") << QString() << u"Product"_s << u"Quiet"_s << u"Product"_s;
    QTest::newRow("quiet name") << QString() << QString() << u"Quiet"_s << u"Quiet"_s;
    QTest::newRow("key name last") << QString() << QString() << QString() << Guid;
}

void TestInventory::displayNameFallbacks()
{
    QFETCH(QString, displayName);
    QFETCH(QString, productName);
    QFETCH(QString, quietDisplayName);
    QFETCH(QString, expected);
    Fixture fixture;
    fixture.add(Guid, {{u"DisplayName"_s, displayName}, {u"QuietDisplayName"_s, quietDisplayName}});
    fixture.store->setText(Products + u'\\' + PackedGuid, u"ProductName"_s, productName);
    const TAppItemPtr entry = fixture.only();
    QVERIFY(entry);
    QCOMPARE(entry->DisplayName, expected);
}

void TestInventory::ownKeyFallbacks()
{
    // The later fallbacks read the entry's key, not the product or cache key
    // opened in between, which hold values of the same names.
    Fixture fixture;
    fixture.add(Guid, {{u"ApplicationVersion"_s, u"1.2"_s},
                       {u"HelpLink"_s, u"http://help"_s},
                       {u"Inno Setup: App Path"_s, u"C:\\App"_s}});
    for (const QString &other : QStringList{Products + u'\\' + PackedGuid, ArpCache + u'\\' + Guid}) {
        fixture.store->setText(other, u"ApplicationVersion"_s, u"wrong"_s);
        fixture.store->setText(other, u"HelpLink"_s, u"wrong"_s);
        fixture.store->setText(other, u"Inno Setup: App Path"_s, u"wrong"_s);
    }
    const TAppItemPtr entry = fixture.only();
    QVERIFY(entry);
    QCOMPARE(entry->DisplayVersion, u"1.2"_s);
    QCOMPARE(entry->UrlInfoAbout, u"http://help"_s);
    QCOMPARE(entry->InstallLocation, u"C:\\App"_s);

    Fixture own;
    own.add(u"App"_s, {{u"DisplayVersion"_s, u"2.0"_s}, {u"ApplicationVersion"_s, u"1.0"_s},
                       {u"UrlInfoAbout"_s, u"http://about"_s}, {u"HelpLink"_s, u"http://help"_s}});
    const TAppItemPtr first = own.only();
    QCOMPARE(first->DisplayVersion, u"2.0"_s);
    QCOMPARE(first->UrlInfoAbout, u"http://about"_s);
}

void TestInventory::iconPathsOrder()
{
    Fixture fixture;
    fixture.add(Guid, {{u"DisplayIcon"_s, u"\"C:\\a.exe\",1"_s}});
    fixture.store->setText(Products + u'\\' + PackedGuid, u"ProductIcon"_s, u"C:\\b.ico"_s);
    fixture.store->setBytes(ArpCache + u'\\' + Guid, u"SlowInfoCache"_s, RegBinary,
                            cacheRecord(0, u"C:\\c.exe"_s));
    const TAppItemPtr entry = fixture.only();
    QVERIFY(entry);
    QCOMPARE(entry->IconPaths, (QStringList{u"\"C:\\a.exe\",1"_s, u"C:\\b.ico"_s, u"C:\\c.exe"_s}));

    Fixture bare; // a key name without braces: no product lookup
    bare.add(u"App"_s);
    bare.store->setText(Products + u'\\' + PackedGuid, u"ProductIcon"_s, u"C:\\b.ico"_s);
    QVERIFY(bare.only()->IconPaths.isEmpty());
}

void TestInventory::sizes_data()
{
    QTest::addColumn<QVariant>("estimated"); // quint32 kilobytes, a QString, or none
    QTest::addColumn<qint64>("cacheSize");
    QTest::addColumn<qint32>("expected");

    const qint32 max = std::numeric_limits<qint32>::max();
    const qint32 min = std::numeric_limits<qint32>::min();
    QTest::newRow("kilobytes") << QVariant(1500u) << qint64(99) << 1536000;
    QTest::newRow("zero falls back to cache") << QVariant(0u) << qint64(777) << 777;
    QTest::newRow("missing falls back to cache") << QVariant() << qint64(777) << 777;
    QTest::newRow("cache -1 stays") << QVariant() << qint64(-1) << -1;
    QTest::newRow("largest that fits") << QVariant(2097151u) << qint64(0) << 2147482624;
    QTest::newRow("too many kilobytes") << QVariant(2097152u) << qint64(0) << max;
    QTest::newRow("all bits set") << QVariant(0xFFFFFFFFu) << qint64(0) << max;
    QTest::newRow("cache of 5 GB") << QVariant() << qint64(5368709120LL) << max;
    QTest::newRow("cache far below") << QVariant() << qint64(-5368709120LL) << min;
    QTest::newRow("size as text") << QVariant(u"1500"_s) << qint64(777) << 777;
}

void TestInventory::sizes()
{
    QFETCH(QVariant, estimated);
    QFETCH(qint64, cacheSize);
    QFETCH(qint32, expected);
    Fixture fixture;
    const QString path = fixture.add(u"App"_s);
    if (estimated.typeId() == QMetaType::UInt)
        fixture.store->setDword(path, u"EstimatedSize"_s, estimated.toUInt());
    else if (estimated.typeId() == QMetaType::QString)
        fixture.store->setText(path, u"EstimatedSize"_s, estimated.toString());
    fixture.store->setBytes(ArpCache + u"\\App"_s, u"SlowInfoCache"_s, RegBinary,
                            cacheRecord(cacheSize, QString()));
    const TAppItemPtr entry = fixture.only();
    QVERIFY(entry);
    QCOMPARE(entry->EstimatedSize, expected);
}

void TestInventory::arpRecord_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<qint32>("size");
    QTest::addColumn<QString>("path");

    const QString full = u"p"_s.repeated(300);
    QTest::newRow("whole record") << cacheRecord(4096, u"C:\\app.exe"_s) << quint32(RegBinary) << 4096
                                  << u"C:\\app.exe"_s;
    QTest::newRow("short record") << cacheRecord(0x1122334455LL, u"C:\\x"_s, 12)
                                  << quint32(RegBinary) << 0x22334455 << QString();
    QTest::newRow("path cut short") << cacheRecord(1, u"C:\\app.exe"_s, 36) << quint32(RegBinary) << 1
                                    << u"C:\\a"_s;
    QTest::newRow("path without NUL") << cacheRecord(1, full) << quint32(RegBinary) << 1
                                      << u"p"_s.repeated(262);
    QTest::newRow("too long") << cacheRecord(1, u"x"_s) + QByteArray(1, '\0') << quint32(RegBinary)
                              << 0 << QString();
    QTest::newRow("not binary") << cacheRecord(1, u"x"_s) << quint32(RegDword) << 0 << QString();
}

void TestInventory::arpRecord()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, type);
    QFETCH(qint32, size);
    QFETCH(QString, path);
    Fixture fixture;
    fixture.add(u"App"_s);
    fixture.store->setBytes(ArpCache + u"\\App"_s, u"SlowInfoCache"_s, type, bytes);
    const TAppItemPtr entry = fixture.only();
    QVERIFY(entry); // an odd cache record never costs the entry
    RegistryAccess access(*fixture.store);
    const ArpCacheRecord record = entry->ReadArpCache(access);
    QCOMPARE(record.Size, size);
    QCOMPARE(record.ProgramPath, path);
    QCOMPARE(entry->EstimatedSize, size);
}

void TestInventory::oddValuesKeepTheEntry()
{
    Fixture fixture;
    const QString path = fixture.add(u"NumberName"_s, {{u"Publisher"_s, u"Vendor"_s}});
    fixture.store->setDword(path, u"DisplayName"_s, 5);
    fixture.store->setDword(path, u"DisplayIcon"_s, 5);
    const QString broken = Uninstall + u"\\Broken"_s;
    fixture.store->setDword(broken, u"UninstallString"_s, 1);
    fixture.store->setText(broken, u"QuietUninstallString"_s, u"q.exe"_s);
    fixture.add(u"After"_s);
    auto applications = fixture.scan();
    QCOMPARE(applications->KeyCount, 3);
    QCOMPARE(applications->ApplicationCount(), 2); // the unreadable command drops only its entry
    const TAppItemPtr entry = applications->GetApplication(0);
    QCOMPARE(entry->DisplayName, u"NumberName"_s);
    QCOMPARE(entry->Publisher, u"Vendor"_s);
    QVERIFY(entry->IconPaths.isEmpty());
    QCOMPARE(applications->GetApplication(1)->KeyName, u"After"_s);
}

void TestInventory::scanCountsAndHook()
{
    Fixture fixture;
    fixture.store->createKey(Uninstall);
    auto applications = fixture.scan();
    QCOMPARE(applications->KeyCount, 0);
    QVERIFY(!applications->HasApplications());
    QVERIFY(!applications->HasHotfixes());

    fixture.add(u"B"_s, {{u"DisplayName"_s, u"Same"_s}});
    fixture.add(u"KB925902"_s);
    fixture.store->createKey(Uninstall + u"\\NoCommand"_s);
    fixture.add(u"A"_s, {{u"DisplayName"_s, u"Same"_s}});
    fixture.store->commit();
    int calls = 0;
    applications->LoadFromRegistry([&] { ++calls; });
    QCOMPARE(calls, 4);
    QCOMPARE(applications->KeyCount, 4);
    QCOMPARE(applications->ApplicationCount(), 2); // same names are not merged, nor sorted
    QCOMPARE(applications->GetApplication(0)->KeyName, u"B"_s);
    QCOMPARE(applications->GetApplication(1)->KeyName, u"A"_s);
    QCOMPARE(applications->HotfixCount(), 1);
    QCOMPARE(CountUninstallSubkeys(*fixture.store), std::optional<qint32>(4));

    // Records of the previous scan stay readable.
    const TAppItemPtr previous = applications->GetApplication(0);
    fixture.store->deleteTree(Uninstall);
    fixture.store->createKey(Uninstall);
    applications->LoadFromRegistry();
    QCOMPARE(applications->KeyCount, 0);
    QCOMPARE(previous->KeyPath, Uninstall + u"\\B"_s);
}

void TestInventory::missingUninstallKey()
{
    Fixture fixture;
    auto applications = fixture.scan();
    QCOMPARE(applications->KeyCount, 0);
    applications->KeyCount = 7;
    applications->LoadFromRegistry();
    QCOMPARE(applications->KeyCount, 7); // unchanged when the key cannot be read
    QCOMPARE(CountUninstallSubkeys(*fixture.store), std::nullopt);
}

void TestInventory::wow64Entries()
{
    Fixture fixture;
    fixture.add(u"Native"_s);
    const QString path64 = Uninstall64 + u'\\' + Guid;
    fixture.store->setText(path64, u"UninstallString"_s, u"u32.exe"_s);
    fixture.store->setText(path64, u"DisplayName"_s, u"Old"_s);
    fixture.store->createKey(Uninstall64 + u"\\Empty"_s);
    fixture.store->setText(UserData + u"\\S-1-5-18\\Products\\"_s + PackedGuid + u"\\Patches\\"_s + PatchName,
                           u"Uninstallable"_s, QString());
    auto applications = fixture.scan();
    QCOMPARE(applications->KeyCount, 3);
    QCOMPARE(CountUninstallSubkeys(*fixture.store), std::optional<qint32>(3));
    QCOMPARE(applications->ApplicationCount(), 2);
    const TAppItemPtr entry = applications->GetApplication(1);
    QCOMPARE(entry->KeyPath, path64);
    QCOMPARE(entry->SubItemCount(), 1);
    QVERIFY(entry->Rename(u"New"_s));
    QCOMPARE(fixture.store->value(path64, u"DisplayName"_s)->text(), u"New"_s);
    QVERIFY(!fixture.store->keyExists(Uninstall + u'\\' + Guid));
}

void TestInventory::patches()
{
    Fixture fixture;
    fixture.add(Guid);
    fixture.add(u"KB925902 " + Guid); // a hotfix gets its patches as well
    fixture.add(u"NoGuid"_s);
    for (const QString &user : {u"S-1-5-18"_s, u"S-1-5-21-1"_s}) {
        const QString patches = UserData + u'\\' + user + u"\\Products\\"_s + PackedGuid + u"\\Patches"_s;
        fixture.store->setText(patches + u'\\' + PatchName, u"MoreInfoURL"_s, u"http://kb"_s);
        fixture.store->setText(patches + u'\\' + PatchName, u"Installed"_s, u"20070115"_s);
        fixture.store->setDword(patches + u'\\' + PatchName, u"Uninstallable"_s, 1);
    }
    const QString second = UserData + u"\\S-1-5-21-1\\Products\\"_s + PackedGuid + u"\\Patches\\Other"_s;
    fixture.store->setText(second, u"DisplayName"_s, u"Security fix"_s);
    fixture.store->setText(UserData + u"\\S-1-5-18\\Products\\NoGuid\\Patches\\X"_s, u"DisplayName"_s,
                           u"x"_s);
    auto applications = fixture.scan();
    QCOMPARE(applications->ApplicationCount(), 2);
    const TAppItemPtr entry = applications->GetApplication(0);
    QCOMPARE(entry->SubItemCount(), 3); // the patch under both users appears twice
    const TAppSubItemPtr patch = entry->GetSubItem(0);
    QCOMPARE(patch->PatchCode, PatchName);
    QCOMPARE(patch->KeyPath, UserData + u"\\S-1-5-18\\Products\\"_s + PackedGuid + u"\\Patches\\"_s
                                 + PatchName);
    QCOMPARE(patch->DisplayName, u"Update"_s);
    QCOMPARE(patch->MoreInfoURL, u"http://kb"_s);
    QCOMPARE(patch->Installed, u"20070115"_s);
    QVERIFY(patch->Uninstallable);
    QCOMPARE(patch->UninstallCommand,
             u"MsiExec /uninstall {76543210-BA98-FEDC-1032-547698BADCFE} /package "
             "{12345678-ABCD-EF01-2345-6789ABCDEF01} /qb"_s);
    QCOMPARE(entry->GetSubItem(1)->PatchCode, PatchName);
    QCOMPARE(entry->GetSubItem(2)->DisplayName, u"Security fix"_s);
    QVERIFY(!applications->GetApplication(1)->HasSubItems());
    QCOMPARE(applications->GetHotfix(0)->SubItemCount(), 3);
}

void TestInventory::patchUninstallable_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("expected");

    QTest::newRow("zero") << QVariant(0u) << false;
    QTest::newRow("seven") << QVariant(7u) << true;
    QTest::newRow("missing") << QVariant() << false;
    QTest::newRow("text") << QVariant(u"1"_s) << false;
}

void TestInventory::patchUninstallable()
{
    QFETCH(QVariant, value);
    QFETCH(bool, expected);
    Fixture fixture;
    fixture.add(Guid);
    const QString path = UserData + u"\\S-1-5-18\\Products\\"_s + PackedGuid + u"\\Patches\\"_s + PatchName;
    fixture.store->createKey(path);
    if (value.typeId() == QMetaType::UInt)
        fixture.store->setDword(path, u"Uninstallable"_s, value.toUInt());
    else if (value.isValid())
        fixture.store->setText(path, u"Uninstallable"_s, value.toString());
    const TAppItemPtr entry = fixture.only();
    QVERIFY(entry);
    QCOMPARE(entry->SubItemCount(), 1);
    QCOMPARE(entry->GetSubItem(0)->Uninstallable, expected);
}

void TestInventory::matchesFilter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("patchName");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("expected");

    QTest::newRow("two stars") << u"Anything"_s << QString() << u"**"_s << true;
    QTest::newRow("name, other case") << u"ABC Tool"_s << QString() << u"*abc*"_s << true;
    QTest::newRow("patch name") << u"Viewer"_s << u"Abc fix"_s << u"*abc*"_s << true;
    QTest::newRow("neither") << u"Viewer"_s << u"Fix"_s << u"*abc*"_s << false;
}

void TestInventory::matchesFilter()
{
    QFETCH(QString, name);
    QFETCH(QString, patchName);
    QFETCH(QString, mask);
    QFETCH(bool, expected);
    TAppItem entry(nullptr);
    entry.DisplayName = name;
    if (!patchName.isNull()) {
        auto patch = std::make_shared<TAppSubItem>();
        patch->DisplayName = patchName;
        entry.AddSubItem(patch);
    }
    QCOMPARE(entry.MatchesFilter(mask), expected);
    QVERIFY_THROWS_EXCEPTION(Error, entry.MatchesFilter(u"*[*"_s));
}

void TestInventory::rename()
{
    Fixture fixture;
    const QString path = fixture.add(u"App"_s, {{u"DisplayName"_s, u"Old"_s}});
    const TAppItemPtr entry = fixture.only();
    QVERIFY(!entry->Rename(QString()));
    QCOMPARE(entry->DisplayName, u"Old"_s);
    QCOMPARE(fixture.store->saveCount, 0);

    QVERIFY(entry->Rename(u"New \u00e9"_s));
    QCOMPARE(entry->DisplayName, u"New \u00e9"_s);
    fixture.store->reload(); // what is on disk
    QCOMPARE(fixture.store->value(path, u"DisplayName"_s)->text(), u"New \u00e9"_s);

    // The key vanished meanwhile (an uninstaller removed it): nothing makes
    // it anew, in any number of saves.
    fixture.store->deleteTree(path);
    fixture.store->commit();
    const int saves = fixture.store->saveCount;
    for (const auto &edit : {std::function<void()>([&] { entry->Rename(u"Again"_s); }),
                             std::function<void()>([&] { entry->SetCommands(u"u.exe"_s, QString()); })}) {
        try {
            edit();
            QFAIL("an edit of a vanished key was reported as done");
        } catch (const Error &error) {
            QCOMPARE(error.kind(), ErrorKind::EntryGone);
            QVERIFY2(error.message().contains(path), qPrintable(error.message()));
        }
    }
    QCOMPARE(fixture.store->saveCount, saves);
    QVERIFY(!fixture.store->keyExists(path));
    QCOMPARE(entry->DisplayName, u"New \u00e9"_s);
}

void TestInventory::setCommands()
{
    Fixture fixture;
    const QString path = fixture.add(u"App"_s, {{u"QuietUninstallString"_s, u"q.exe"_s}});
    const TAppItemPtr entry = fixture.only();
    QVERIFY(entry->SetUninstallString(QString()));
    QVERIFY(entry->SetQuietUninstallString(u"q.exe /S"_s));
    fixture.store->reload();
    const auto normal = fixture.store->value(path, u"UninstallString"_s);
    QVERIFY(normal);
    QCOMPARE(normal->type, quint32(RegSz));
    QCOMPARE(normal->text(), QString());
    QCOMPARE(fixture.store->value(path, u"QuietUninstallString"_s)->text(), u"q.exe /S"_s);
    // The record keeps the scanned commands until the next scan.
    QCOMPARE(entry->UninstallString, u"uninst.exe"_s);
    QCOMPARE(entry->QuietUninstallString, u"q.exe"_s);
}

void TestInventory::refusedAndFailedEdits()
{
    Fixture fixture;
    const QString path = fixture.add(u"App"_s, {{u"DisplayName"_s, u"Old"_s}});
    const TAppItemPtr entry = fixture.only();

    fixture.store->refuseWrites = true; // a wineserver serves the prefix
    QVERIFY_THROWS_EXCEPTION(Error, entry->Rename(u"New"_s));
    QVERIFY_THROWS_EXCEPTION(Error, entry->SetUninstallString(u"x"_s));
    QVERIFY_THROWS_EXCEPTION(Error, entry->DeleteEntry());
    fixture.store->refuseWrites = false;

    fixture.store->failSave = true;
    QVERIFY_THROWS_EXCEPTION(Error, entry->Rename(u"New"_s));
    QVERIFY_THROWS_EXCEPTION(Error, entry->SetQuietUninstallString(u"x"_s));
    QVERIFY_THROWS_EXCEPTION(Error, entry->DeleteEntry());
    QCOMPARE(entry->DisplayName, u"Old"_s);
    QCOMPARE(fixture.store->value(path, u"DisplayName"_s)->text(), u"Old"_s);
    QVERIFY(!fixture.store->value(path, u"QuietUninstallString"_s));
    QVERIFY(fixture.store->keyExists(path));
    QCOMPARE(fixture.store->saveCount, 0);
}

void TestInventory::deleteEntry()
{
    Fixture fixture;
    const QString path = fixture.add(u"App"_s);
    fixture.store->setText(path + u"\\Sub\\Deeper"_s, u"x"_s, u"y"_s);
    fixture.add(u"Other"_s);
    const TAppItemPtr entry = fixture.scan()->GetApplication(0);
    entry->DeleteEntry();
    fixture.store->reload();
    QVERIFY(!fixture.store->keyExists(path));
    QVERIFY(fixture.store->keyExists(Uninstall + u"\\Other"_s));
    QCOMPARE(entry->KeyName, u"App"_s); // the record is left as it was
    entry->DeleteEntry(); // gone already: nothing happens
    QCOMPARE(fixture.store->saveCount, 1);
}

QTEST_GUILESS_MAIN(TestInventory)
#include "test_inventory.moc"
