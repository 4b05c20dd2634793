// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/RegistryStore.h"
#include "target/kvOSCheck.h"
#include "target/kvSystemSupport.h"

#include <QHash>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

// Read-only map of "key\value" (lower case) to value: all TOSCheck needs.
class FakeStore : public RegistryStore
{
public:
    void put(const QString &path, const RegistryValue &v) { m_values.insert((path + u'\\' + v.name).toLower(), v); }

    QString location() const override { return u"fake"_s; }
    bool keyExists(const QString &) const override { return false; }
    QStringList subkeyNames(const QString &) const override { return {}; }
    std::optional<RegistryValue> value(const QString &path, const QString &name) const override
    {
        const auto it = m_values.constFind((path + u'\\' + name).toLower());
        if (it == m_values.constEnd())
            return std::nullopt;
        return *it;
    }
    QList<RegistryValue> values(const QString &) const override { return {}; }
    void createKey(const QString &) override {}
    void setValue(const QString &, const RegistryValue &) override {}
    void deleteTree(const QString &) override {}
    void checkWritable() const override {}
    void save() override {}
    bool changedOnDisk() const override { return false; }
    void reload() override {}

private:
    QHash<QString, RegistryValue> m_values;
};

const QString ntKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"_s;
const QString nineKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion"_s;

} // namespace

class TestOSCheck : public QObject
{
    Q_OBJECT
private slots:
    void table_data();
    void table();
    void registrySources_data();
    void registrySources();
    void nameLeftUnchangedOnlyOutsideEnum();
    void startupDecision_data();
    void startupDecision();
    void ownNameFromRegistry();
};

void TestOSCheck::table_data()
{
    QTest::addColumn<quint32>("platform");
    QTest::addColumn<quint32>("major");
    QTest::addColumn<quint32>("minor");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("compat");
    const QString unknown = u"Unknwon Win32 OS"_s;
    QTest::newRow("95") << 1u << 4u << 0u << int(osWin95) << u"Microsoft Windows 95"_s << int(ocUnsupported);
    QTest::newRow("98") << 1u << 4u << 10u << int(osWin98) << u"Microsoft Windows 98"_s << int(ocUnsupported);
    QTest::newRow("Me") << 1u << 4u << 90u << int(osWinMe) << u"Microsoft Windows Me"_s << int(ocUnsupported);
    QTest::newRow("2000") << 2u << 5u << 0u << int(osWin2000) << u"Microsoft Windows 2000"_s << int(ocSupported);
    QTest::newRow("XP") << 2u << 5u << 1u << int(osWinXP) << u"Microsoft Windows XP"_s << int(ocSupported);
    QTest::newRow("2003") << 2u << 5u << 2u << int(osWin2003) << u"Microsoft Windows Server 2003"_s << int(ocSupported);
    QTest::newRow("Vista") << 2u << 6u << 0u << int(osWinVista) << u"Microsoft Windows Vista"_s << int(ocPartial);
    QTest::newRow("7") << 2u << 6u << 1u << int(osUnknown) << unknown << int(ocUnsupported);
    QTest::newRow("5.3") << 2u << 5u << 3u << int(osUnknown) << unknown << int(ocUnsupported);
    QTest::newRow("10") << 2u << 10u << 0u << int(osUnknown) << unknown << int(ocUnsupported);
    QTest::newRow("4.20") << 1u << 4u << 20u << int(osUnknown) << unknown << int(ocUnsupported);
    QTest::newRow("9x 5.0") << 1u << 5u << 0u << int(osUnknown) << unknown << int(ocUnsupported);
    QTest::newRow("NT 4.0") << 2u << 4u << 0u << int(osUnknown) << unknown << int(ocUnsupported);
    QTest::newRow("failed") << 0u << 0u << 0u << int(osUnknown) << unknown << int(ocUnsupported);
    QTest::newRow("platform 3") << 3u << 5u << 1u << int(osUnknown) << unknown << int(ocUnsupported);
}

void TestOSCheck::table()
{
    QFETCH(quint32, platform);
    QFETCH(quint32, major);
    QFETCH(quint32, minor);
    QFETCH(int, version);
    QFETCH(QString, name);
    QFETCH(int, compat);

    FakeStore store;
    if (platform == 2)
        store.put(ntKey, RegistryValue::fromText(u"CurrentVersion"_s, u"%1.%2"_s.arg(major).arg(minor)));
    else if (platform == 1)
        store.put(nineKey, RegistryValue::fromText(u"VersionNumber"_s, u"%1.%2.1111"_s.arg(major).arg(minor)));
    else if (platform != 0) {
        QCOMPARE(int(TOSCheck::classify(platform, major, minor)), version);
        return;
    }
    const TOSCheck check(store);
    QCOMPARE(check.GetPlatformId(), platform);
    QCOMPARE(check.GetMajorVersion(), major);
    QCOMPARE(check.GetMinorVersion(), minor);
    QCOMPARE(int(check.GetOSVersion()), version);
    QCOMPARE(check.GetOSName(), name);
    QCOMPARE(int(check.GetCompatibility()), compat);
}

void TestOSCheck::registrySources_data()
{
    QTest::addColumn<QString>("ntVersion"); // empty: absent
    QTest::addColumn<int>("majorDword"); // -1: absent
    QTest::addColumn<int>("minorDword");
    QTest::addColumn<QString>("nineVersion");
    QTest::addColumn<quint32>("platform");
    QTest::addColumn<quint32>("major");
    QTest::addColumn<quint32>("minor");
    QTest::newRow("nt only") << u"5.1"_s << -1 << -1 << QString() << 2u << 5u << 1u;
    QTest::newRow("dwords win") << u"6.3"_s << 10 << 0 << QString() << 2u << 10u << 0u;
    QTest::newRow("one dword is not enough") << u"6.0"_s << 10 << -1 << QString() << 2u << 6u << 0u;
    QTest::newRow("nt wins over 9x") << u"5.0"_s << -1 << -1 << u"4.10.2222"_s << 2u << 5u << 0u;
    QTest::newRow("9x") << QString() << -1 << -1 << u"4.90.3000"_s << 1u << 4u << 90u;
    QTest::newRow("garbled nt falls to 9x") << u"five"_s << -1 << -1 << u"4.0.950"_s << 1u << 4u << 0u;
    QTest::newRow("nothing") << QString() << -1 << -1 << QString() << 0u << 0u << 0u;
    QTest::newRow("no minor") << u"5"_s << -1 << -1 << u"4"_s << 0u << 0u << 0u;
}

void TestOSCheck::registrySources()
{
    QFETCH(QString, ntVersion);
    QFETCH(int, majorDword);
    QFETCH(int, minorDword);
    QFETCH(QString, nineVersion);
    QFETCH(quint32, platform);
    QFETCH(quint32, major);
    QFETCH(quint32, minor);
    FakeStore store;
    if (!ntVersion.isEmpty())
        store.put(ntKey, RegistryValue::fromText(u"CurrentVersion"_s, ntVersion));
    if (majorDword >= 0)
        store.put(ntKey, RegistryValue::fromDword(u"CurrentMajorVersionNumber"_s, quint32(majorDword)));
    if (minorDword >= 0)
        store.put(ntKey, RegistryValue::fromDword(u"CurrentMinorVersionNumber"_s, quint32(minorDword)));
    if (!nineVersion.isEmpty())
        store.put(nineKey, RegistryValue::fromText(u"VersionNumber"_s, nineVersion));
    const TOSCheck check(store);
    QCOMPARE(check.GetPlatformId(), platform);
    QCOMPARE(check.GetMajorVersion(), major);
    QCOMPARE(check.GetMinorVersion(), minor);
}

void TestOSCheck::nameLeftUnchangedOnlyOutsideEnum()
{
    FakeStore store;
    const TOSCheck check(store);
    QString name = u"previous"_s;
    check.GetOSName(name);
    QCOMPARE(name, u"Unknwon Win32 OS"_s);
}

// What start-up does with a target, and the name its message shows.
void TestOSCheck::startupDecision_data()
{
    QTest::addColumn<quint32>("platform");
    QTest::addColumn<quint32>("major");
    QTest::addColumn<quint32>("minor");
    QTest::addColumn<QString>("productName");
    QTest::addColumn<QString>("build");
    QTest::addColumn<int>("compat");
    QTest::addColumn<QString>("name");
    const QString unknown = u"Unknwon Win32 OS"_s;
    QTest::newRow("98") << 1u << 4u << 10u << u"Microsoft Windows 98"_s << QString() << int(ocUnsupported)
                        << u"Microsoft Windows 98"_s;
    QTest::newRow("XP") << 2u << 5u << 1u << u"Microsoft Windows XP"_s << u"2600"_s << int(ocSupported)
                        << u"Microsoft Windows XP"_s;
    QTest::newRow("Vista") << 2u << 6u << 0u << u"Windows Vista (TM) Ultimate"_s << u"6002"_s << int(ocPartial)
                           << u"Microsoft Windows Vista"_s;
    QTest::newRow("7") << 2u << 6u << 1u << u"Microsoft Windows 7"_s << u"7601"_s << int(ocPartial)
                       << u"Microsoft Windows 7 (6.1.7601)"_s;
    QTest::newRow("8") << 2u << 6u << 2u << u"Windows 8 Pro"_s << u"9200"_s << int(ocPartial)
                       << u"Windows 8 Pro (6.2.9200)"_s;
    QTest::newRow("8.1, no ProductName") << 2u << 6u << 3u << QString() << u"9600"_s << int(ocPartial)
                                         << unknown + u" (6.3.9600)"_s;
    QTest::newRow("10") << 2u << 10u << 0u << u"Windows 10 Pro"_s << u"19045"_s << int(ocPartial)
                        << u"Windows 10 Pro (10.0.19045)"_s;
    QTest::newRow("11") << 2u << 10u << 0u << u"Windows 10 Pro"_s << u"22631"_s << int(ocPartial)
                        << u"Windows 11 Pro (10.0.22631)"_s;
    QTest::newRow("control characters, no build")
        << 2u << 6u << 1u << u" Windows\n7\r\t Ultimate"_s << u"n/a"_s << int(ocPartial)
        << u"Windows 7 Ultimate (6.1)"_s;
    QTest::newRow("no version") << 0u << 0u << 0u << u"Windows 10 Pro"_s << u"19045"_s << int(ocUnsupported)
                                << unknown;
    QTest::newRow("5.3") << 2u << 5u << 3u << QString() << QString() << int(ocUnsupported) << unknown;
    QTest::newRow("NT 4.0") << 2u << 4u << 0u << u"Windows NT"_s << u"1381"_s << int(ocUnsupported) << unknown;
}

void TestOSCheck::startupDecision()
{
    QFETCH(quint32, platform);
    QFETCH(quint32, major);
    QFETCH(quint32, minor);
    QFETCH(QString, productName);
    QFETCH(QString, build);
    QFETCH(int, compat);
    QFETCH(QString, name);
    const TSystemSupport::Verdict verdict = TSystemSupport::assess(platform, major, minor, productName, build);
    QCOMPARE(int(verdict.compatibility), compat);
    QCOMPARE(verdict.name, name);
}

void TestOSCheck::ownNameFromRegistry()
{
    // Windows 11 as its registry has it: CurrentVersion frozen at 6.3, the
    // dwords, and here only CurrentBuild.
    FakeStore store;
    store.put(ntKey, RegistryValue::fromText(u"CurrentVersion"_s, u"6.3"_s));
    store.put(ntKey, RegistryValue::fromDword(u"CurrentMajorVersionNumber"_s, 10));
    store.put(ntKey, RegistryValue::fromDword(u"CurrentMinorVersionNumber"_s, 0));
    store.put(ntKey, RegistryValue::fromText(u"ProductName"_s, u"Windows 10 Home"_s));
    store.put(ntKey, RegistryValue::fromText(u"CurrentBuild"_s, u"22000"_s));
    const TOSCheck check(store);
    const TSystemSupport support(check, store);
    QCOMPARE(int(support.Compatibility()), int(ocPartial));
    QCOMPARE(support.Name(), u"Windows 11 Home (10.0.22000)"_s);
    QCOMPARE(check.GetOSName(), u"Unknwon Win32 OS"_s);
}

QTEST_GUILESS_MAIN(TestOSCheck)
#include "test_os_check.moc"
