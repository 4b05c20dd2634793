// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "registry/WineRegistryFile.h"

#include "WineRegistryText.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using kelvane::test::linkKey;

namespace {

const QString Uninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;

} // namespace

// An Uninstall key, or a key above it, that is a link the scan cannot follow.
class TestScanLinks : public QObject
{
    Q_OBJECT

private slots:
    void unfollowableLinks_data();
    void unfollowableLinks();
};

void TestScanLinks::unfollowableLinks_data()
{
    QTest::addColumn<QByteArray>("links");
    QTest::addColumn<QString>("key"); // the one the scan must name
    const QByteArray current = "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion";
    const QString machine = u"\\Registry\\Machine\\"_s;
    QTest::newRow("Uninstall links to itself")
        << linkKey(current + "\\\\Uninstall", machine + Uninstall) << Uninstall;
    QTest::newRow("CurrentVersion loops through a key below it")
        << linkKey(current, machine + u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Next"_s)
        << u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion"_s;
    QByteArray chain = linkKey(current + "\\\\Uninstall", machine + u"Chain\\L0"_s);
    for (int i = 0; i < 17; ++i)
        chain += linkKey("Chain\\\\L" + QByteArray::number(i), machine + u"Chain\\L%1"_s.arg(i + 1));
    QTest::newRow("more links than followed") << chain + "[Chain\\\\L17] 1\n" << Uninstall;
    QTest::newRow("link to no key") << linkKey(current + "\\\\Uninstall", machine + u"Nowhere"_s) << Uninstall;
}

void TestScanLinks::unfollowableLinks()
{
    QFETCH(QByteArray, links);
    QFETCH(QString, key);
    // The 32-bit programs' Uninstall key is fine: its entry is kept.
    const QByteArray file = "WINE REGISTRY Version 2\n\n" + links
                            + "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A] 1\n"
                              "\"UninstallString\"=\"u.exe\"\n";
    std::shared_ptr<RegistryStore> store = WineRegistryFile::fromBytes(file, u"links.reg"_s);
    TApplications applications(store);
    try {
        applications.LoadFromRegistry();
        QFAIL("the link was not reported");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"HKEY_LOCAL_MACHINE\\"_s + key + u" in links.reg"_s), qPrintable(error.message()));
    }
    QCOMPARE(applications.ApplicationCount(), 1);
    // The change watch sees the count the scan kept, so it does not scan
    // (and report the same link) again at every tick; it never throws.
    QCOMPARE(CountUninstallSubkeys(*store), std::optional<qint32>(applications.KeyCount));
    QCOMPARE(applications.KeyCount, 1);
}

QTEST_GUILESS_MAIN(TestScanLinks)
#include "test_scan_links.moc"
