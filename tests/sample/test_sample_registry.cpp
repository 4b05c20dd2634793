// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled sample registry: written as Wine writes system.reg, and holding
// an example of every inventory rule (see data/sample/README.md).
#include "inventory/kvApplication.h"
#include "registry/WineRegistryFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QString SampleFolder = QStringLiteral(KELVANE_SOURCE_DIR "/data/sample");
const QString SampleFile = SampleFolder + u"/system.reg"_s;
const QString Uninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"_s;

// Undoes Wine's escapes in a key or value name; empty optional on a bad escape.
std::optional<QString> unescape(QStringView text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\\') {
            out.append(c);
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        const QChar e = text[i];
        static const QString simple = u"\\\"[]abtnvfre"_s;
        static const QString meaning = u"\\\"[]\a\b\t\n\v\f\r\x1b"_s;
        if (const qsizetype k = simple.indexOf(e); k >= 0) {
            out.append(meaning[k]);
        } else if (e == u'x') {
            qsizetype n = 0;
            char16_t code = 0;
            while (n < 4 && i + 1 < text.size() && isxdigit(text[i + 1].toLatin1())) {
                code = char16_t(code * 16 + QStringView(text.mid(++i, 1)).toUInt(nullptr, 16));
                ++n;
            }
            if (n == 0)
                return std::nullopt;
            out.append(QChar(code));
        } else if (e >= u'0' && e <= u'7') {
            char16_t code = char16_t(e.unicode() - u'0');
            for (int n = 1; n < 3 && i + 1 < text.size() && text[i + 1] >= u'0' && text[i + 1] <= u'7'; ++n)
                code = char16_t(code * 8 + (text[++i].unicode() - u'0'));
            out.append(QChar(code));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// Wine's order: component by component, names compared in lower case.
bool wineLess(const QStringList &a, const QStringList &b)
{
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i) {
        const int c = a[i].toLower().compare(b[i].toLower());
        if (c != 0)
            return c < 0;
    }
    return a.size() < b.size();
}

// The file a command line or icon source names, as a path below drive_c;
// empty for what lives outside the sample (none here).
QString hostPath(QString source)
{
    if (source.startsWith(u'"'))
        source = source.mid(1, source.indexOf(u'"', 1) - 1);
    else if (const qsizetype exe = source.indexOf(u".exe"_s, 0, Qt::CaseInsensitive); exe >= 0)
        source.truncate(exe + 4);
    else if (const qsizetype comma = source.lastIndexOf(u','); comma >= 0)
        source.truncate(comma);
    if (source.startsWith(u"MsiExec.exe"_s, Qt::CaseInsensitive))
        source = u"C:\\WINDOWS\\system32\\msiexec.exe"_s;
    if (!source.startsWith(u"C:\\"_s, Qt::CaseInsensitive))
        return QString();
    return SampleFolder + u"/drive_c/"_s + source.mid(3).replace(u'\\', u'/');
}

} // namespace

class TestSampleRegistry : public QObject
{
    Q_OBJECT

    std::shared_ptr<WineRegistryFile> m_store;
    std::unique_ptr<TApplications> m_inventory;

    TAppItemPtr find(const QString &keyName) const
    {
        for (const TAppItems *list : {&m_inventory->Applications, &m_inventory->Hotfixes})
            for (const TAppItemPtr &entry : *list)
                if (entry->KeyName == keyName)
                    return entry;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        m_store = WineRegistryFile::open(SampleFile);
        m_inventory = std::make_unique<TApplications>(m_store);
        m_inventory->LoadFromRegistry();
    }

    void wineFormat()
    {
        QFile file(SampleFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        for (const char c : bytes)
            QVERIFY2(c == '\n' || (c >= 0x20 && c < 0x7f), "Wine writes pure ASCII");
        const QStringList lines = QString::fromLatin1(bytes).split(u'\n');
        QCOMPARE(lines.value(0), u"WINE REGISTRY Version 2"_s);
        QCOMPARE(lines.value(1), u";; All keys relative to REGISTRY\\\\Machine"_s);
        QCOMPARE(lines.value(2), QString());
        QCOMPARE(lines.value(3), u"#arch=win32"_s);

        static const QRegularExpression keyLine(u"^\\[(.+)\\] (\\d+)$"_s);
        static const QRegularExpression timeLine(u"^#time=([0-9a-f]+)$"_s);
        static const QRegularExpression valueLine(
            u"^(@|\"((?:[^\"\\\\]|\\\\.)*)\")=(\"(?:[^\"\\\\]|\\\\.)*\"|str\\([27]\\):\"(?:[^\"\\\\]|\\\\.)*\""
            u"|dword:[0-9a-f]{8}|hex(?:\\([0-9a-f]+\\))?:(?:[0-9a-f]{2}(?:,[0-9a-f]{2})*)?,?\\\\?)$"_s);
        static const QRegularExpression hexContinuation(u"^  [0-9a-f]{2}(?:,[0-9a-f]{2})*,?\\\\?$"_s);

        QStringList previousKey;
        QStringList valueNames;
        int keys = 0;
        bool continued = false;
        for (qsizetype i = 4; i < lines.size(); ++i) {
            const QString &line = lines[i];
            const QByteArray where = "line " + QByteArray::number(i + 1) + ": " + line.toLatin1();
            if (continued) {
                QVERIFY2(line.size() <= 80, where.constData()); // Wine breaks hex lines near 80 columns
                QVERIFY2(hexContinuation.match(line).hasMatch(), where.constData());
                continued = line.endsWith(u'\\');
                continue;
            }
            if (line.isEmpty())
                continue;
            if (const auto key = keyLine.match(line); key.hasMatch()) {
                ++keys;
                QStringList parts;
                // Split at the escaped separators "\\" only.
                for (const QString &raw : key.captured(1).split(u"\\\\"_s)) {
                    const auto name = unescape(raw);
                    QVERIFY2(name && !name->isEmpty(), where.constData());
                    parts.append(*name);
                }
                QVERIFY2(previousKey.isEmpty() || wineLess(previousKey, parts), where.constData());
                previousKey = parts;
                valueNames.clear();
                const auto time = timeLine.match(lines.value(i + 1));
                QVERIFY2(time.hasMatch(), where.constData());
                // #time is the same moment as a FILETIME (100 ns since 1601).
                const quint64 filetime = time.captured(1).toULongLong(nullptr, 16);
                QCOMPARE(qint64(filetime / 10000000) - 11644473600LL, key.captured(2).toLongLong());
                ++i;
                continue;
            }
            const auto value = valueLine.match(line);
            QVERIFY2(value.hasMatch() && !previousKey.isEmpty(), where.constData());
            const auto name = unescape(value.captured(2));
            QVERIFY2(name, where.constData());
            QVERIFY2(valueNames.isEmpty() || valueNames.last().toLower() < name->toLower(), where.constData());
            valueNames.append(*name);
            if (const QString data = value.captured(3); data.endsWith(u'"'))
                QVERIFY2(unescape(QStringView(data).sliced(data.indexOf(u'"') + 1).chopped(1)), where.constData());
            continued = line.endsWith(u'\\') && value.captured(3).startsWith(u"hex"_s);
            QVERIFY2(!continued || line.size() <= 80, where.constData());
        }
        QVERIFY(!continued);
        QCOMPARE(keys, 68);
    }

    void counts()
    {
        QCOMPARE(m_inventory->KeyCount, 40); // 39 entries + 1 in the 32-bit view
        QCOMPARE(m_inventory->ApplicationCount(), 33);
        QCOMPARE(m_inventory->HotfixCount(), 6);
        QVERIFY(!find(u"Tessellate Runtime"_s)); // a name but no command: not listed
    }

    void records_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("url");
        QTest::addColumn<qint32>("size");
        QTest::addColumn<QStringList>("icons");
        QTest::addColumn<bool>("hotfix");

        const QString pf = u"C:\\Program Files\\"_s;
        QTest::newRow("NSIS, size in KB, icon ,0")
            << u"Larkspur Notes"_s << u"Larkspur Notes 3.2"_s << u"3.2.1"_s << pf + u"Larkspur Notes"_s
            << u"http://www.larkspur-software.example/notes"_s << 1536000
            << QStringList{pf + u"Larkspur Notes\\notes.ico,0"_s} << false;
        QTest::newRow("quoted icon")
            << u"Quillfeather"_s << u"Quillfeather Editor"_s << u"1.9"_s << pf + u"Quillfeather"_s
            << u"http://quillfeather.example.org/"_s << 7340032
            << QStringList{u"\""_s + pf + u"Quillfeather\\quill.ico\",0"_s} << false;
        QTest::newRow("resource id icon, then cache path, size from cache")
            << u"Otterbrook Player"_s << u"Otterbrook Media Player"_s << u"2.0.4"_s << pf + u"Otterbrook"_s
            << QString() << 23592960
            << QStringList{pf + u"Otterbrook\\player.exe,-101"_s, pf + u"Otterbrook\\otterbrook.ico"_s} << false;
        QTest::newRow("ApplicationVersion and HelpLink")
            << u"Corvid FTP"_s << u"Corvid FTP Client"_s << u"0.98 beta"_s << QString()
            << u"http://help.corvid.example/ftp"_s << 0 << QStringList{pf + u"Corvid FTP\\corvid.ico"_s} << false;
        QTest::newRow("QuietDisplayName, EstimatedSize 0 from cache")
            << u"MarlowFonts"_s << u"Marlow Font Pack"_s << QString() << QString() << QString() << 5242880
            << QStringList() << false;
        QTest::newRow("key name") << u"NimbusAgent"_s << u"NimbusAgent"_s << QString() << QString() << QString() << 0
                                  << QStringList() << false;
        QTest::newRow("size as text is ignored")
            << u"SparrowClock"_s << u"Sparrow Clock"_s << QString() << QString() << QString() << 3145728
            << QStringList{pf + u"Sparrow Clock\\sparrow.exe"_s} << false;
        QTest::newRow("Inno App Path, cache size")
            << u"Brightwater Sync_is1"_s << u"Brightwater Sync 2.7"_s << u"2.7.0"_s << pf + u"Brightwater Sync"_s
            << u"http://brightwater.example/"_s << 12582912
            << QStringList{pf + u"Brightwater Sync\\sync.ico"_s, pf + u"Brightwater Sync\\bwsync.exe"_s} << false;
        QTest::newRow("Inno GUID key is no product")
            << u"{5E2C8A41-93B7-4D0F-A6C2-18F3D7B9E054}_is1"_s << u"Kestrel Photo Tagger version 1.6"_s << u"1.6"_s
            << pf + u"Kestrel Photo Tagger\\"_s << QString() << 9011200
            << QStringList{pf + u"Kestrel Photo Tagger\\kestrel.ico"_s} << false;
        QTest::newRow("cache size -1") << u"Wren Mail_is1"_s << u"Wren Mail"_s << u"0.7.2"_s << pf + u"Wren Mail"_s
                                       << QString() << -1 << QStringList{pf + u"Wren Mail\\wrenmail.exe"_s} << false;
        QTest::newRow("French") << u"M\u00e9lodie"_s << u"\u00c9diteur de partitions M\u00e9lodie"_s << u"2.3"_s
                                << QString() << QString() << 3584000
                                << QStringList{pf + u"M\u00e9lodie\\m\u00e9lodie.ico"_s} << false;
        QTest::newRow("German") << u"Gr\u00f6\u00dfenrechner"_s << u"Gr\u00f6\u00dfenrechner f\u00fcr B\u00fcros"_s
                                << u"1.0"_s << QString() << QString() << 0
                                << QStringList{pf + u"Gr\u00f6\u00dfenrechner\\rechner.ico"_s} << false;
        QTest::newRow("right to left") << u"SeferCalc"_s << u"\u05de\u05d7\u05e9\u05d1\u05d5\u05df \u05e1\u05e4\u05e8"_s
                                       << u"1.4"_s << QString() << QString() << 0
                                       << QStringList{pf + u"Sefer Calc\\sefer.ico"_s} << false;
        const QString harborline = u"{3F1B6C2E-7A94-4E0B-9C51-D2A8E6F40B17}"_s;
        QTest::newRow("installer product, DisplayIcon then ProductIcon")
            << harborline << u"Harborline Accounting 2007"_s << u"12.0.4518"_s
            << pf + u"Harborline\\Accounting 2007\\"_s << u"http://www.harborline.example/"_s << 251658240
            << QStringList{pf + u"Harborline\\Accounting 2007\\ledger.ico"_s,
                           u"C:\\WINDOWS\\Installer\\"_s + harborline + u"\\arpicon.ico"_s}
            << false;
        QTest::newRow("name from ProductName")
            << u"{F2C4E6A8-0B1D-4F3E-8A5C-7E9D1B3F5A70}"_s << u"Lantern Viewer 2008"_s << QString() << QString()
            << QString() << 0 << QStringList() << false;
        QTest::newRow("empty ProductName, QuietDisplayName")
            << u"{1A2B3C4D-5E6F-4071-8293-A4B5C6D7E8F9}"_s << u"Juniper Print Driver Suite"_s << u"6.2.0.1"_s
            << QString() << QString() << 0 << QStringList() << false;
        QTest::newRow("cache size beyond 32 bits is clamped")
            << u"{6B0A7D21-48C3-4E9F-B15A-3D7C2E8F9A04}"_s << u"Thistle Remote Assistant"_s << u"4.4.2"_s
            << QString() << QString() << 2147483647
            << QStringList{u"C:\\WINDOWS\\Installer\\{6B0A7D21-48C3-4E9F-B15A-3D7C2E8F9A04}\\thistle.ico"_s,
                           pf + u"Thistle\\Remote\\thistle.exe"_s}
            << false;
        QTest::newRow("hotfix KB") << u"KB923191"_s << u"Security Update for Windows XP (KB923191)"_s << QString()
                                   << QString() << u"http://support.microsoft.com?kbid=923191"_s << 0 << QStringList()
                                   << true;
        QTest::newRow("hotfix Q_KB") << u"Q312345_KB312345"_s << u"Windows XP Hotfix - KB312345"_s << QString()
                                     << QString() << u"http://support.microsoft.com?kbid=312345"_s << 0
                                     << QStringList() << true;
        QTest::newRow("hotfix lower case") << u"wmp11-kb939683"_s << u"Hotfix for Windows Media Player 11 (KB939683)"_s
                                           << QString() << QString() << u"http://support.microsoft.com?kbid=939683"_s
                                           << 0 << QStringList() << true;
        QTest::newRow("five digits: no hotfix") << u"KB12345"_s << u"Keyboard Buddy"_s << u"1.2"_s << QString()
                                                << QString() << 0 << QStringList() << false;
        QTest::newRow("Q number alone: no hotfix") << u"Q925902"_s << u"Quokka Diagram Viewer"_s << u"7.0"_s
                                                   << QString() << QString() << 0 << QStringList() << false;
        QTest::newRow("32-bit view") << u"Pelican Backup"_s << u"Pelican Backup (32-bit)"_s << u"1.12"_s << QString()
                                     << QString() << 2355200
                                     << QStringList{u"C:\\Program Files (x86)\\Pelican Backup\\pelican.ico,0"_s}
                                     << false;
    }

    void records()
    {
        QFETCH(QString, key);
        const TAppItemPtr entry = find(key);
        QVERIFY2(entry, qPrintable(key));
        QTEST(entry->DisplayName, "name");
        QTEST(entry->DisplayVersion, "version");
        QTEST(entry->InstallLocation, "location");
        QTEST(entry->UrlInfoAbout, "url");
        QTEST(entry->EstimatedSize, "size");
        QTEST(entry->IconPaths, "icons");
        QTEST(entry->IsHotfix, "hotfix");
    }

    void commands()
    {
        const TAppItemPtr quietOnly = find(u"HeronBackupSilent"_s);
        QVERIFY(quietOnly);
        QVERIFY(quietOnly->UninstallString.isEmpty());
        QVERIFY(!quietOnly->QuietUninstallString.isEmpty());
        const TAppItemPtr modify = find(u"Driftwood Solitaire"_s);
        QVERIFY(modify);
        QCOMPARE(modify->ModifyPath, u"C:\\Program Files\\Driftwood Solitaire\\setup.exe /modify"_s);
        // Two entries under one name stay two entries.
        int pinecones = 0;
        for (const TAppItemPtr &entry : m_inventory->Applications)
            pinecones += entry->DisplayName == u"Pinecone Archiver"_s;
        QCOMPARE(pinecones, 2);
    }

    void patches()
    {
        const TAppItemPtr product = find(u"{3F1B6C2E-7A94-4E0B-9C51-D2A8E6F40B17}"_s);
        QVERIFY(product);
        QCOMPARE(product->SubItemCount(), 4);
        // Machine-wide patches first, then the user's; the update filed under both users appears twice.
        const TAppSubItemPtr taxes = product->GetSubItem(0);
        QCOMPARE(taxes->DisplayName, u"Tax Tables Update 2008-Q3"_s);
        QVERIFY(taxes->KeyPath.contains(u"\\S-1-5-18\\"_s));
        QCOMPARE(taxes->Installed, u"20081003"_s);
        QVERIFY(taxes->Uninstallable);
        QCOMPARE(taxes->UninstallCommand, u"MsiExec /uninstall {B7E2F410-6C93-4A0D-95E8-1F2C3D4B5A60} /package "
                                          u"{3F1B6C2E-7A94-4E0B-9C51-D2A8E6F40B17} /qb"_s);
        const TAppSubItemPtr servicePack = product->GetSubItem(1);
        QCOMPARE(servicePack->DisplayName, u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s);
        QVERIFY(!servicePack->Uninstallable);
        QCOMPARE(product->GetSubItem(2)->DisplayName, taxes->DisplayName);
        QVERIFY(product->GetSubItem(2)->KeyPath.contains(u"\\S-1-5-21-"_s));
        const TAppSubItemPtr unnamed = product->GetSubItem(3);
        QCOMPARE(unnamed->DisplayName, u"Update"_s);
        // The patch code keeps the letter case of its key name.
        QCOMPARE(unnamed->UninstallCommand, u"MsiExec /uninstall {c4d8a1f2-93e6-4b07-a5c1-7e0f2d3b9a84} /package "
                                            u"{3F1B6C2E-7A94-4E0B-9C51-D2A8E6F40B17} /qb"_s);

        const TAppItemPtr cobalt = find(u"{E9F0A1B2-C3D4-4E5F-9607-18293A4B5C6D}"_s);
        QVERIFY(cobalt);
        QCOMPARE(cobalt->SubItemCount(), 1);
        QCOMPARE(cobalt->EstimatedSize, 7340032); // EstimatedSize 0 falls back to the cache
        // Patch records exist under this code, but the key name has no braces.
        const TAppItemPtr ibis = find(u"0F9E8D7C-6B5A-4938-A271-605F4E3D2C1B"_s);
        QVERIFY(ibis);
        QVERIFY(!ibis->HasSubItems());
        QVERIFY(ibis->IconPaths.isEmpty());
    }

    // Every file a listed entry points to is in drive_c, except the few left
    // out on purpose so that the orphaned-entry flow can be tried.
    void driveFiles()
    {
        const QStringList deliberatelyMissing{
            u"VantageToolbar"_s, u"Pinecone Archiver 9.10"_s, u"Wren Mail_is1"_s, u"KB896358"_s,
            u"{E9F0A1B2-C3D4-4E5F-9607-18293A4B5C6D}"_s, // its ProductIcon only
        };
        QStringList missing;
        for (const TAppItems *list : {&m_inventory->Applications, &m_inventory->Hotfixes}) {
            for (const TAppItemPtr &entry : *list) {
                QStringList sources = entry->IconPaths;
                sources << entry->UninstallString << entry->QuietUninstallString << entry->ModifyPath;
                for (const QString &source : std::as_const(sources)) {
                    const QString path = hostPath(source);
                    if (!path.isEmpty() && !QFileInfo::exists(path) && !missing.contains(entry->KeyName))
                        missing.append(entry->KeyName);
                }
            }
        }
        std::sort(missing.begin(), missing.end());
        QStringList expected = deliberatelyMissing;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(missing, expected);
    }

    void windowsVersion()
    {
        const QString key = u"Software\\Microsoft\\Windows NT\\CurrentVersion"_s;
        QCOMPARE(m_store->value(key, u"CurrentVersion"_s)->text(), u"5.1"_s);
        QCOMPARE(m_store->value(key, u"CurrentBuildNumber"_s)->text(), u"2600"_s);
        QCOMPARE(m_store->value(key, u"ProductName"_s)->text(), u"Microsoft Windows XP"_s);
        QCOMPARE(m_store->value(key, u"CSDVersion"_s)->text(), u"Service Pack 3"_s);
    }

    void savesUnchanged()
    {
        QFile file(SampleFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(m_store->toBytes(), file.readAll());
    }
};

QTEST_GUILESS_MAIN(TestSampleRegistry)
#include "test_sample_registry.moc"
