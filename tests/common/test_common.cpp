// SPDX-License-Identifier: GPL-3.0-or-later
#include "RequiredTool.h"
#include "common/kvCommon.h"
#include "config/kvVersion.h"
#include "host/Error.h"

#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

TextLookup english()
{
    return [](const QString &key) {
        if (key == u"Size0")
            return u"Bytes"_s;
        if (key == u"DateFormat")
            return u"%MONTH%/%DAY%/%YEAR%"_s;
        return QString();
    };
}

} // namespace

class TestCommon : public QObject
{
    Q_OBJECT
private slots:
    void formatSize_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0 untouched") << 0 << u"keep"_s;
        QTest::newRow("1 untouched") << 1 << u"keep"_s;
        QTest::newRow("negative untouched") << -5 << u"keep"_s;
        QTest::newRow("2") << 2 << u"2.00 Bytes"_s;
        QTest::newRow("999") << 999 << u"999.00 Bytes"_s;
        QTest::newRow("1000") << 1000 << u"1000.00 Bytes"_s;
        QTest::newRow("1001") << 1001 << u"0.98 KB"_s;
        QTest::newRow("1536") << 1536 << u"1.50 KB"_s;
        QTest::newRow("1e6") << 1000000 << u"976.56 KB"_s;
        QTest::newRow("1e6+1") << 1000001 << u"0.95 MB"_s;
        QTest::newRow("1536000") << 1536000 << u"1.46 MB"_s;
        QTest::newRow("max") << 2147483647 << u"2.00 GB"_s;
    }

    void formatSize()
    {
        QFETCH(int, size);
        QLocale::setDefault(QLocale::c());
        QTEST(FormatSize(size, english(), u"keep"_s), "expected");
    }

    void formatSizeDefaultUnitAndSeparator()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(FormatSize(999, TextLookup(), {}), u"999,00 bytes"_s);
        QCOMPARE(FormatSize(1536, english(), {}), u"1,50 KB"_s);
        QLocale::setDefault(QLocale::c());
    }

    void formatDate_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<QString>("text");
        QTest::newRow("20070105") << u"20070105"_s << 2007 << 1 << 5 << u"01/05/2007"_s;
        QTest::newRow("20071231") << u"20071231"_s << 2007 << 12 << 31 << u"12/31/2007"_s;
    }

    void formatDate()
    {
        QFETCH(QString, date);
        const DateStrings d = FormatDate(date, english());
        QTEST(int(d.Year), "year");
        QTEST(int(d.Month), "month");
        QTEST(int(d.Day), "day");
        QTEST(d.Text, "text");
    }

    void formatDateInvalid_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QString() << u"'' is not a valid integer value"_s;
        QTest::newRow("short") << u"200701"_s << u"'' is not a valid integer value"_s;
        QTest::newRow("letters") << u"2007ab05"_s << u"'ab' is not a valid integer value"_s;
    }

    void formatDateInvalid()
    {
        QFETCH(QString, date);
        QFETCH(QString, message);
        try {
            FormatDate(date, english());
            QFAIL("no error");
        } catch (const Error &e) {
            QCOMPARE(e.message(), message);
        }
    }

    void replaceText_data()
    {
        QTest::addColumn<QString>("placeholder");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two") << u"%A%"_s << u"x"_s << u"%A% and %A%"_s << u"x and x"_s;
        QTest::newRow("value holds placeholder") << u"%A%"_s << u"<%A%>"_s << u"%A%-%A%"_s << u"<%A%>-<%A%>"_s;
        QTest::newRow("case-sensitive") << u"%A%"_s << u"x"_s << u"%a%"_s << u"%a%"_s;
        QTest::newRow("none") << u"%A%"_s << u"x"_s << u"plain"_s << u"plain"_s;
    }

    void replaceText()
    {
        QFETCH(QString, placeholder);
        QFETCH(QString, value);
        QFETCH(QString, text);
        QTEST(ReplaceText(placeholder, value, text), "expected");
    }

    void splitText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("delimiter");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("trailing") << u"a-b-"_s << QChar(u'-') << QStringList{u"a"_s, u"b"_s, QString()};
        QTest::newRow("empty") << QString() << QChar(u'-') << QStringList{};
        QTest::newRow("blanks kept") << u" a , b"_s << QChar(u',') << QStringList{u" a "_s, u" b"_s};
        QTest::newRow("only delimiter") << u","_s << QChar(u',') << QStringList{QString(), QString()};
        QTest::newRow("quoted") << u"\"a,b\",c"_s << QChar(u',') << QStringList{u"a,b"_s, u"c"_s};
        QTest::newRow("doubled quote") << u"\"say \"\"hi\"\"\""_s << QChar(u',') << QStringList{u"say \"hi\""_s};
        QTest::newRow("unclosed quote") << u"\"abc"_s << QChar(u',') << QStringList{u"abc"_s};
        QTest::newRow("quote inside") << u"a\"b,c"_s << QChar(u',') << QStringList{u"a\"b"_s, u"c"_s};
    }

    void splitText()
    {
        QFETCH(QString, text);
        QFETCH(QChar, delimiter);
        QStringList list{u"old"_s};
        SplitText(&list, text, delimiter);
        QTEST(list, "parts");
    }

#ifdef QT_NO_DEBUG
    // Debug builds stop at the assertion instead.
    void splitTextWithoutList()
    {
        QVERIFY_THROWS_EXCEPTION(Error, SplitText(nullptr, u"a"_s, u','));
    }
#endif

    void ownVersionInfo()
    {
        const QStringList info = GetVersionInfo({});
        QVERIFY(info.contains(u"ProductName=Kelvane"_s));
        const QString fileVersion = QString::fromUtf8(KELVANE_FILE_VERSION);
        const QString productVersion = QString::fromUtf8(KELVANE_PRODUCT_VERSION);
        QVERIFY(info.contains(u"ProductVersion="_s + productVersion));
        QVERIFY(info.contains(u"FileVersion="_s + fileVersion));
        // Four numbers, as a version resource holds them; the product version
        // is the first two and the release label.
        QVERIFY2(QRegularExpression(u"^\\d+\\.\\d+\\.\\d+\\.\\d+$"_s).match(fileVersion).hasMatch(),
                 qPrintable(fileVersion));
        QCOMPARE(productVersion,
                 QString(fileVersion.section(u'.', 0, 1) + u' ' + QString::fromUtf8(KELVANE_RELEASE_LABEL)).trimmed());
        for (const QString &line : info)
            QVERIFY2(!line.endsWith(u'='), qPrintable(line));
    }

    // Real executables from makensis: an ANSI build files its strings under
    // 040904E4, the block that is read; a Unicode build under 040904B0, which is not.
    void versionInfoOfExecutables()
    {
        const QString makensis = QStandardPaths::findExecutable(u"makensis"_s);
        if (makensis.isEmpty())
            KELVANE_SKIP_WITHOUT_TOOL("makensis is not installed");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto build = [&](const QString &name, bool unicode) {
            QFile script(dir.filePath(name + u".nsi"_s));
            if (!script.open(QIODevice::WriteOnly))
                return QString();
            // Keys out of order, one empty, one in other case, one unknown.
            script.write("Unicode " + QByteArray(unicode ? "true" : "false") + "\nOutFile \"" + name.toUtf8()
                         + ".exe\"\nVIProductVersion \"7.1.0.3\"\n"
                           "VIAddVersionKey /LANG=1033 \"ProductVersion\" \"7.1 Beta\"\n"
                           "VIAddVersionKey /LANG=1033 \"Comments\" \"Test build\"\n"
                           "VIAddVersionKey /LANG=1033 \"companyname\" \"Kelvane Makers\"\n"
                           "VIAddVersionKey /LANG=1033 \"FileDescription\" \"\"\n"
                           "VIAddVersionKey /LANG=1033 \"Flavour\" \"mint\"\n"
                           "VIAddVersionKey /LANG=1033 \"ProductName\" \"Kelvane Test\"\n"
                           "VIAddVersionKey /LANG=1033 \"FileVersion\" \"7.1.0.3\"\n"
                           "Section\nSectionEnd\n");
            script.close();
            QProcess p;
            p.setWorkingDirectory(dir.path());
            p.start(makensis, {u"-V1"_s, script.fileName()});
            if (!p.waitForFinished(120000) || p.exitCode() != 0)
                return QString();
            return dir.filePath(name + u".exe"_s);
        };
        const QString ansi = build(u"ansi"_s, false);
        QVERIFY(!ansi.isEmpty());
        QCOMPARE(GetVersionInfo(ansi), (QStringList{u"CompanyName=Kelvane Makers"_s, u"FileVersion=7.1.0.3"_s,
                                                    u"ProductName=Kelvane Test"_s, u"ProductVersion=7.1 Beta"_s,
                                                    u"Comments=Test build"_s}));
        const QString unicode = build(u"unicode"_s, true);
        QVERIFY(!unicode.isEmpty());
        QCOMPARE(GetVersionInfo(unicode), QStringList());
    }

    void versionInfoOfOtherFiles()
    {
        QTemporaryDir dir;
        QFile text(dir.filePath(u"readme.exe"_s));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("MZ not really a program");
        text.close();
        QCOMPARE(GetVersionInfo(text.fileName()), QStringList());
        QCOMPARE(GetVersionInfo(dir.filePath(u"missing.exe"_s)), QStringList());
        QCOMPARE(GetVersionInfo(dir.path()), QStringList());
    }

    void programFolder_data()
    {
        QTest::addColumn<QStringList>("folders"); // made below a temporary root
        QTest::addColumn<QString>("expected");    // from the executable's folder bin/
        QTest::newRow("build tree: languages beside") << QStringList{u"bin/languages"_s, u"share/kelvane"_s}
                                                      << u"bin/"_s;
        QTest::newRow("copy: only the sample beside") << QStringList{u"bin/sample"_s} << u"bin/"_s;
        QTest::newRow("installed") << QStringList{u"bin"_s, u"share/kelvane/languages"_s} << u"share/kelvane/"_s;
        QTest::newRow("neither") << QStringList{u"bin"_s} << u"bin/"_s;
    }
    void programFolder()
    {
        QFETCH(QStringList, folders);
        QFETCH(QString, expected);
        QTemporaryDir root;
        for (const QString &folder : folders)
            QVERIFY(QDir(root.path()).mkpath(folder));
        QCOMPARE(ProgramFolderFor(root.filePath(u"bin"_s)), root.filePath(expected));
        // The running test has neither beside it.
        QCOMPARE(GetProgramFolder(), QCoreApplication::applicationDirPath() + u'/');
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "test_common.moc"
