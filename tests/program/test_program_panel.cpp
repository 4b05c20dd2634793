// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's information panel: what it shows of each node, its
// links, Browse and the compatibility warning; hostile registry values stay
// text, never markup, links only to web and mail addresses, one line each.

#include "CompactHive.h"
#include "FileBytes.h"
#include "ProgramFixture.h"
#include "UrlCatcher.h"
#include "WineRegistryText.h"

#include "gui/kvCommonGui.h"
#include "gui/kvValueLabel.h"
#include "registry/RegistryValue.h"
#include "registry/WineRegistryFile.h"

#include <QStyledItemDelegate>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using namespace kelvane::test;

namespace {

const QString Entry = UninstallKey + u"\\Larkspur Notes"_s;
const QString Patch = u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"
                      u"E2C6B1F349A7B0E4C9152D8A6E4FB071\\Patches\\3D9E5C0A72B186F4E8A4D6B0392C7F15"_s;
const QString UpdateName = u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s;

} // namespace

class TestProgramPanel : public QObject
{
    Q_OBJECT

    UrlCatcher m_catcher;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { m_catcher.urls.clear(); }

    void valuesAreOneLineOfText_data()
    {
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("labelName");
        QTest::addColumn<QString>("shown");
        QTest::newRow("heading") << u"DisplayName"_s << u"Aa01 <h1>Big</h1>"_s << u"LabelProgramInfoName"_s
                                 << u"Aa01 <h1>Big</h1>"_s;
        // As markup, the label would read /dev/zero until memory ran out.
        QTest::newRow("image of a device") << u"DisplayName"_s << u"Aa00c <img src=\"/dev/zero\"> img"_s
                                           << u"LabelProgramInfoName"_s << u"Aa00c <img src=\"/dev/zero\"> img"_s;
        QTest::newRow("bold version") << u"DisplayVersion"_s << u"<b>9</b>"_s << u"LabelProgramInfoVersion"_s
                                      << u"Version: <b>9</b>"_s;
        QTest::newRow("host picture") << u"Publisher"_s << u"<img src=\"/usr/share/pixmaps/debian-logo.png\">"_s
                                      << u"LabelProgramInfoPublisherValue"_s
                                      << u"<img src=\"/usr/share/pixmaps/debian-logo.png\">"_s;
        QTest::newRow("line breaks") << u"Publisher"_s << u"North\r\nwind\tLtd\u2028."_s
                                     << u"LabelProgramInfoPublisherValue"_s << u"North  wind Ltd ."_s;
        QTest::newRow("terminal escapes") << u"InstallLocation"_s << u"C:\\x\u001b[2J\u001b]0;owned\u0007"_s
                                          << u"LabelProgramInfoLocationValue"_s << u"C:\\x [2J ]0;owned "_s;
    }
    void valuesAreOneLineOfText()
    {
        QFETCH(QString, valueName);
        QFETCH(QString, value);
        QFETCH(QString, labelName);
        QFETCH(QString, shown);
        Fixture f = makeFixture(false);
        f.store().setValue(Entry, RegistryValue::fromText(valueName, value));
        f.frame->show();
        f.frame->GenerateList(nullptr);
        const QString name = valueName == u"DisplayName"_s ? value : u"Larkspur Notes 3.2"_s;
        QVERIFY(f.select(name));
        QLabel *label = f.label(labelName);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->text(), shown);
        // The tree row too holds one line.
        const auto *delegate = qobject_cast<QStyledItemDelegate *>(f.tree()->itemDelegate());
        QVERIFY(delegate);
        const QString row = delegate->displayText(f.node(name)->text(0), QLocale());
        QVERIFY2(!row.contains(u'\n') && !row.contains(u'\r'), qPrintable(row));
    }

    void longValueElidedWithItsTooltip_data()
    {
        QTest::addColumn<QString>("labelName");
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("tooltip"); // the tooltip's text after the value's
        const QString text = u"C:\\"_s + QString(300, u'w') + u"\\end <b>"_s;
        // Cut short, a link label still shows its address.
        QTest::newRow("publisher with its address") << u"LabelProgramInfoPublisherValue"_s << u"Publisher"_s << 300
                                                    << u"\nhttp://www.larkspur-software.example/notes"_s;
        QTest::newRow("location") << u"LabelProgramInfoLocationValue"_s << u"InstallLocation"_s << 300 << QString();
        // A megabyte is neither laid out nor shown whole.
        QTest::newRow("a megabyte") << u"LabelProgramInfoLocationValue"_s << u"InstallLocation"_s << (1 << 20)
                                    << QString();
    }
    void longValueElidedWithItsTooltip()
    {
        QFETCH(QString, labelName);
        QFETCH(QString, valueName);
        QFETCH(int, length);
        QFETCH(QString, tooltip);
        const QString value = u"C:\\"_s + QString(length, u'w') + u"\\end <b>"_s;
        Fixture f = makeFixture(false);
        f.store().setValue(Entry, RegistryValue::fromText(valueName, value));
        f.frame->show();
        f.frame->GenerateList(nullptr);
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        auto *label = static_cast<TkvValueLabel *>(f.label(labelName));
        QCOMPARE(label->text(), value);
        QVERIFY(label->shownText().size() < 300);
        const QString shownValue = value.size() <= 4096 ? value : value.left(4096) + QChar(0x2026);
        QCOMPARE(label->toolTip(), PlainToolTip(shownValue + tooltip));
        QVERIFY(label->toolTip().size() < 3 * 4096);
    }

    void onlyWebAndMailAddressesAreLinks_data()
    {
        QTest::addColumn<bool>("update");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("opened"); // empty: shown as text, not a link
        QTest::newRow("https") << false << u"https://larkspur.example/notes"_s << u"https://larkspur.example/notes"_s;
        QTest::newRow("ftp") << false << u"ftp://ftp.larkspur.example/"_s << u"ftp://ftp.larkspur.example/"_s;
        QTest::newRow("mail") << false << u"mailto:help@larkspur.example"_s << u"mailto:help@larkspur.example"_s;
        QTest::newRow("no scheme") << false << u"www.larkspur.example"_s << u"http://www.larkspur.example"_s;
        QTest::newRow("host file") << false << u"file:///etc/passwd"_s << QString();
        QTest::newRow("script") << false << u"javascript:alert(1)"_s << QString();
        QTest::newRow("launcher") << false << u"/usr/share/applications/debian-xterm.desktop"_s << QString();
        QTest::newRow("windows program") << false << u"C:\\windows\\notepad.exe"_s << QString();
        QTest::newRow("update https") << true << u"https://support.example/kb/1"_s << u"https://support.example/kb/1"_s;
        QTest::newRow("update host file") << true << u"file:///etc/shadow"_s << QString();
    }
    void onlyWebAndMailAddressesAreLinks()
    {
        QFETCH(bool, update);
        QFETCH(QString, address);
        QFETCH(QString, opened);
        Fixture f = makeFixture(false);
        f.store().setValue(update ? Patch : Entry,
                           RegistryValue::fromText(update ? u"MoreInfoURL"_s : u"URLInfoAbout"_s, address));
        f.frame->show();
        f.frame->GenerateList(nullptr);
        QVERIFY(f.select(update ? UpdateName : u"Larkspur Notes 3.2"_s));
        QLabel *label = f.label(update ? u"LabelUpdateInfoLinkValue"_s : u"LabelProgramInfoPublisherValue"_s);
        QCOMPARE(HasLinkStyle(label), !opened.isEmpty());
        QCOMPARE(label->toolTip(), opened.isEmpty() ? QString() : PlainToolTip(address));
        QTest::mouseClick(label, Qt::LeftButton);
        QCOMPARE(m_catcher.urls, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    }

    void uninstallLinkThatLoopsIsReportedOncePerScan()
    {
        Fixture f = makeFixture(false, [](const QString &prefix) {
            // The entries move aside; the Uninstall key becomes a link to itself.
            QFile file(prefix + u"/system.reg"_s);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QByteArray text = file.readAll().replace("CurrentVersion\\\\Uninstall\\\\", "CurrentVersion\\\\Aside\\\\");
            file.close();
            text += "\n" + linkKey("Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall",
                                   u"\\Registry\\Machine\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text);
        });
        // Shown and active, the frame takes the focus: its entry scans.
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        QTRY_COMPARE(f.host->messages.size(), 1);
        QVERIFY2(f.host->messages.first().contains(u"CurrentVersion\\Uninstall"_s), qPrintable(f.host->messages.first()));
        f.frame->setFocus();
        QTRY_VERIFY(f.frame->hasFocus());
        f.frame->CheckChanges(nullptr);
        QCOMPARE(f.host->messages.size(), 1);
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.host->messages.size(), 2);
    }

    void updatePanel_data()
    {
        QTest::addColumn<QString>("update");
        QTest::addColumn<bool>("warning");
        QTest::addColumn<QString>("link");
        QTest::newRow("removable") << u"Tax Tables Update 2008-Q3"_s << false
                                   << u"http://support.harborline.example/kb/233"_s;
        QTest::newRow("not removable") << u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s << true
                                       << u"http://support.harborline.example/kb/201"_s;
    }

    void updatePanel()
    {
        QFETCH(QString, update);
        QFETCH(bool, warning);
        QFETCH(QString, link);
        Fixture f = makeFixture();
        f.frame->show();
        if (!f.node(update))
            QSKIP(qPrintable(u"sample has no update named "_s + update + u": "_s
                             + treeTexts(f.tree()).filter(u"\t"_s).join(u", "_s)));
        QVERIFY(f.select(update));
        QCOMPARE(f.label(u"LabelProgramInfoName"_s)->text(), u"Harborline Accounting 2007"_s);
        QVERIFY(f.label(u"LabelProgramInfoVersion"_s)->text().startsWith(u"Version: "_s));
        QVERIFY(f.child<QWidget>(u"PanelProgramMainUpdateInfo"_s)->isVisible());
        QVERIFY(!f.label(u"PanelProgramNoInfo"_s)->isVisible());
        QCOMPARE(f.label(u"LabelUpdateUninstallable"_s)->isVisible(), warning);
        QCOMPARE(f.label(u"LabelUpdateInfoNameValue"_s)->text(), update);
        QCOMPARE(f.label(u"LabelUpdateInfoLinkValue"_s)->text(), link);
        QVERIFY(f.label(u"LabelUpdateInfoInstallValue"_s)->text().contains(u"2008"_s));

        // Back on an application the update panel goes.
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        QVERIFY(!f.child<QWidget>(u"PanelProgramMainUpdateInfo"_s)->isVisible());
        QCOMPARE(f.label(u"LabelProgramInfoKeyValue"_s)->text(),
                 u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Larkspur Notes"_s);
        QCOMPARE(f.label(u"LabelProgramInfoSizeValue"_s)->text(), u"1.46 MB"_s);
    }

    void groupShowsNoInformation()
    {
        Fixture f = makeFixture();
        f.frame->show();
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        QVERIFY(f.select(u"Microsoft Windows"_s));
        QVERIFY(f.label(u"PanelProgramNoInfo"_s)->isVisible());
        QCOMPARE(f.label(u"PanelProgramNoInfo"_s)->text(), QString()); // captions come with EnterForm
        QCOMPARE(f.label(u"LabelProgramInfoName"_s)->text(), u"Larkspur Notes 3.2"_s);
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        QVERIFY(!f.label(u"PanelProgramNoInfo"_s)->isVisible());
    }

    void linkLabels_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("labelName");
        QTest::addColumn<QString>("url");
        QTest::newRow("about address") << u"Larkspur Notes 3.2"_s << u"LabelProgramInfoPublisherValue"_s
                                       << u"http://www.larkspur-software.example/notes"_s;
        QTest::newRow("help link only") << u"Corvid FTP Client"_s << u"LabelProgramInfoPublisherValue"_s
                                        << u"http://help.corvid.example/ftp"_s;
        QTest::newRow("no address") << u"Heron Backup Agent"_s << u"LabelProgramInfoPublisherValue"_s << QString();
        QTest::newRow("update link") << u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s
                                     << u"LabelUpdateInfoLinkValue"_s << u"http://support.harborline.example/kb/201"_s;
    }

    void linkLabels()
    {
        QFETCH(QString, node);
        QFETCH(QString, labelName);
        QFETCH(QString, url);
        Fixture f = makeFixture();
        f.frame->show();
        QVERIFY2(f.node(node), qPrintable(node));
        QVERIFY(f.select(node));
        QLabel *label = f.label(labelName);
        QCOMPARE(HasLinkStyle(label), !url.isEmpty());
        f.host->setStatusText(u"before"_s);
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(label, &enter);
        QCOMPARE(f.host->statusText(), url.isEmpty() ? u"before"_s : u"Open this link into your Web browser"_s);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(label, &leave);
        QCOMPARE(f.host->statusText(), url.isEmpty() ? u"before"_s : QString());
        QTest::mouseClick(label, Qt::LeftButton);
        if (url.isEmpty()) {
            QVERIFY(m_catcher.urls.isEmpty());
        } else {
            QCOMPARE(m_catcher.urls.size(), 1);
            QCOMPARE(m_catcher.urls.first(), QUrl(url));
        }
    }

    void browseLocation_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("opened"); // below drive_c; empty: nothing opened
        QTest::addColumn<QStringList>("messages");
        const QStringList notFound{u"Unable to find target path or file!"_s};
        QTest::newRow("folder") << u"C:\\Program Files\\Quillfeather"_s << u"Program Files/Quillfeather"_s
                                << QStringList();
        QTest::newRow("quoted folder") << u"\"C:\\Program Files\\Quillfeather\""_s
                                       << u"Program Files/Quillfeather"_s << QStringList();
        QTest::newRow("missing") << u"C:\\Program Files\\Gone"_s << QString() << notFound;
        // A file named as the location is never handed to the desktop to open.
        QTest::newRow("program") << u"C:\\windows\\notepad.exe"_s << QString() << notFound;
        QTest::newRow("host path") << u"/etc"_s << QString() << notFound;
    }

    void browseLocation()
    {
        QFETCH(QString, location);
        QFETCH(QString, opened);
        QFETCH(QStringList, messages);
        Fixture f = makeFixture();
        QDir(f.dir->path()).mkpath(u"drive_c/windows"_s);
        QFile program(f.dir->path() + u"/drive_c/windows/notepad.exe"_s);
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("MZ");
        program.close();
        f.store().setValue(UninstallKey + u"\\Larkspur Notes"_s,
                           RegistryValue::fromText(u"InstallLocation"_s, location));
        f.frame->GenerateList(nullptr);
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        f.frame->BrowseLocation(nullptr);
        QCOMPARE(f.host->messages, messages);
        QCOMPARE(m_catcher.urls, QList<QUrl>());
        QStringList expected;
        if (!opened.isEmpty())
            expected.append(QDir(f.dir->path() + u"/drive_c/"_s + opened).canonicalPath());
        QStringList folders;
        for (const QString &folder : std::as_const(f.host->openedFolders))
            folders.append(QDir(folder).canonicalPath());
        QCOMPARE(folders, expected);
    }

    // The warning image shows on a system Kelvane manages partly, and its
    // message names that system: Vista by the table, newer ones (a Wine
    // prefix reporting Windows 7, a Windows 10 disk) by their own names.
    void compatibilityAlert_data()
    {
        QTest::addColumn<QString>("version");     // CurrentVersion
        QTest::addColumn<int>("majorDword");      // -1: none
        QTest::addColumn<QString>("productName");
        QTest::addColumn<bool>("asHive");         // a Windows partition instead of a prefix
        QTest::addColumn<QString>("named");       // empty: no warning
        QTest::newRow("XP") << u"5.1"_s << -1 << u"Microsoft Windows XP"_s << false << QString();
        QTest::newRow("Vista") << u"6.0"_s << -1 << u"Windows Vista (TM) Ultimate"_s << false
                               << u"Microsoft Windows Vista"_s;
        QTest::newRow("Windows 7 prefix") << u"6.1"_s << -1 << u"Microsoft Windows 7"_s << false
                                          << u"Microsoft Windows 7 (6.1.2600)"_s;
        QTest::newRow("Windows 10 disk") << u"6.3"_s << 10 << u"Windows 10 Pro"_s << true
                                         << u"Windows 10 Pro (10.0.2600)"_s;
    }
    void compatibilityAlert()
    {
        QFETCH(QString, version);
        QFETCH(int, majorDword);
        QFETCH(QString, productName);
        QFETCH(bool, asHive);
        QFETCH(QString, named);
        Fixture f = makeFixture(false, [&](const QString &dir) {
            const QString file = dir + u"/system.reg"_s;
            auto store = WineRegistryFile::open(file);
            const QString key = u"Software\\Microsoft\\Windows NT\\CurrentVersion"_s;
            store->setValue(key, RegistryValue::fromText(u"CurrentVersion"_s, version));
            store->setValue(key, RegistryValue::fromText(u"ProductName"_s, productName));
            if (majorDword >= 0) {
                store->setValue(key, RegistryValue::fromDword(u"CurrentMajorVersionNumber"_s, quint32(majorDword)));
                store->setValue(key, RegistryValue::fromDword(u"CurrentMinorVersionNumber"_s, 0));
            }
            if (!asHive) {
                store->save();
                return;
            }
            QVERIFY(QDir(dir).mkpath(u"Windows/System32/config"_s));
            QVERIFY(writeFileBytes(dir + u"/Windows/System32/config/SOFTWARE"_s,
                                   compactHive(hiveKeyFrom(*store, u"Software"_s, u"ROOT"_s))));
            QVERIFY(QFile::remove(file));
        });
        QCOMPARE(f.host->target().kind(), asHive ? Target::Kind::WindowsDisk : Target::Kind::WinePrefix);
        f.frame->show();
        f.frame->EnterForm(nullptr);
        QVERIFY(f.node(u"Larkspur Notes 3.2"_s));
        auto *image = f.label(u"ImageCompatibility"_s);
        QCOMPARE(image->isVisible(), !named.isEmpty());
        if (named.isEmpty())
            return;
        QTest::mouseClick(image, Qt::LeftButton);
        QCOMPARE(f.host->messages.size(), 1);
        QVERIFY2(f.host->messages.first().contains(named), qPrintable(f.host->messages.first()));
        QVERIFY(!f.host->messages.first().contains(u'%'));
    }
};

QTEST_MAIN(TestProgramPanel)
#include "test_program_panel.moc"
