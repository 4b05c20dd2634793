#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Fixture = QStringLiteral(KELVANE_TEST_DATA "/tools/system.reg");

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runList(const QStringList &arguments, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KELVANE_LIST_EXE), arguments);
    process.waitForFinished(60000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class TestKelvaneList : public QObject
{
    Q_OBJECT

private slots:
    void tree_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        const QString all = u"apple tools\n\u00e9clair Viewer\nMicrosoft Windows\n\tSecurity Update (KB123456)\n"
                            u"Zeta Suite\n\tZeta Fix\n"_s;
        QTest::newRow("default is the tree") << QStringList{} << all;
        QTest::newRow("tree") << QStringList{u"--tree"_s} << all;
        QTest::newRow("no updates") << QStringList{u"--no-updates"_s}
                                    << u"apple tools\n\u00e9clair Viewer\nZeta Suite\n"_s;
        // An application is kept for a matching update, and brings all its updates.
        QTest::newRow("filter on an update") << QStringList{u"--filter"_s, u"FIX"_s} << u"Zeta Suite\n\tZeta Fix\n"_s;
        QTest::newRow("filter on hotfixes") << QStringList{u"--filter"_s, u"kb1"_s}
                                            << u"Microsoft Windows\n\tSecurity Update (KB123456)\n"_s;
        QTest::newRow("wildcard") << QStringList{u"--filter"_s, u"a?p"_s} << u"apple tools\n"_s;
        QTest::newRow("nothing left") << QStringList{u"--filter"_s, u"nothing such"_s} << QString();
    }

    void tree()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        const Run run = runList(QStringList{u"--registry"_s, Fixture} + arguments);
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.out), expected);
    }

    // Names as a registry spells them, and the JSON text they must become.
    void jsonEscapes_data()
    {
        QTest::addColumn<QByteArray>("spelt");
        QTest::addColumn<QByteArray>("json");
        // Written without raw literals, which moc misreads.
        QTest::newRow("quote and backslash") << QByteArray("a\\\"b\\\\c") << QByteArray("\"a\\\"b\\\\c\"");
        QTest::newRow("named controls") << QByteArray("\\t\\n\\r\\b\\f") << QByteArray("\"\\t\\n\\r\\b\\f\"");
        QTest::newRow("other controls") << QByteArray("\\x01\\e") << QByteArray("\"\\u0001\\u001b\"");
        QTest::newRow("two and three UTF-8 bytes") << QByteArray("\\xe9\\x20ac") << QByteArray("\"\xc3\xa9\xe2\x82\xac\"");
        QTest::newRow("lone surrogate") << QByteArray("x\\xd800") << QByteArray("\"x\\ud800\"");
        QTest::newRow("long plain text") << QByteArray(3000, 'a') << '"' + QByteArray(3000, 'a') + '"';
    }

    void jsonEscapes()
    {
        QFETCH(QByteArray, spelt);
        QFETCH(QByteArray, json);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"system.reg"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\e] 1\n"
                   "\"DisplayName\"=\"" + spelt + "\"\n\"UninstallString\"=\"u.exe\"\n");
        file.close();
        const Run run = runList({u"--registry"_s, path, u"--json"_s});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QByteArray("\"DisplayName\":" + json + ',')), run.out.constData());
    }

    void json()
    {
        const Run run = runList({u"--registry"_s, Fixture, u"--json"_s});
        QCOMPARE(run.exitCode, 0);
        QJsonParseError parseError;
        const QJsonObject root = QJsonDocument::fromJson(run.out, &parseError).object();
        QCOMPARE(parseError.error, QJsonParseError::NoError);
        QCOMPARE(root.value(u"KeyCount"_s).toInt(), 5);

        // Scan order, the entry without a command left out.
        const QJsonArray applications = root.value(u"Applications"_s).toArray();
        QCOMPARE(applications.size(), 3);
        QCOMPARE(applications.at(0)[u"KeyName"_s].toString(), u"alpha"_s);
        QCOMPARE(applications.at(0)[u"EstimatedSize"_s].toInt(), 1536000);
        QCOMPARE(applications.at(0)[u"IsHotfix"_s].toBool(), false);
        const QJsonObject product = applications.at(2).toObject();
        QCOMPARE(product[u"DisplayName"_s].toString(), u"Zeta Suite"_s);
        const QJsonObject patch = product[u"SubItems"_s].toArray().at(0).toObject();
        QCOMPARE(patch[u"UninstallCommand"_s].toString(),
                 u"MsiExec /uninstall {76543210-BA98-FEDC-1032-547698BADCFE} /package "
                 u"{12345678-ABCD-EF01-2345-6789ABCDEF01} /qb"_s);
        QCOMPARE(patch[u"Uninstallable"_s].toBool(), true);
        QCOMPARE(root.value(u"Hotfixes"_s).toArray().at(0)[u"IsHotfix"_s].toBool(), true);

        // The fields stand in the records' own order.
        const QByteArray first = run.out.mid(run.out.indexOf("{\"KeyName\""));
        const QList<QByteArray> names{"KeyName", "KeyPath", "DisplayName", "DisplayVersion", "InstallLocation",
                                      "ModifyPath", "Publisher", "UrlInfoAbout", "UninstallString",
                                      "QuietUninstallString", "IconPaths", "EstimatedSize", "IsHotfix", "SubItems"};
        qsizetype at = 0;
        for (const QByteArray &name : names) {
            const qsizetype next = first.indexOf(QByteArray('"' + name + "\":"));
            QVERIFY2(next >= at, name.constData());
            at = next;
        }
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("named");
        QTest::newRow("unknown option") << QStringList{u"--bogus"_s} << 2 << u"--bogus"_s;
        QTest::newRow("registry without value") << QStringList{u"--registry"_s} << 2 << u"--registry"_s;
        QTest::newRow("filter without value")
            << QStringList{u"--registry"_s, Fixture, u"--filter"_s} << 2 << u"--filter"_s;
        QTest::newRow("json with filter") << QStringList{u"--json"_s, u"--filter"_s, u"x"_s} << 2 << u"--filter"_s;
        QTest::newRow("json without updates") << QStringList{u"--no-updates"_s, u"--json"_s} << 2 << u"--no-updates"_s;
        QTest::newRow("json and tree") << QStringList{u"--json"_s, u"--tree"_s} << 2 << u"--json"_s;
        QTest::newRow("missing registry") << QStringList{u"--registry"_s, u"/nonexistent/system.reg"_s} << 1
                                          << u"/nonexistent/system.reg"_s;
        QTest::newRow("not a registry") << QStringList{u"--registry"_s, QStringLiteral(KELVANE_SOURCE_DIR "/README.md")}
                                        << 1 << u"README.md"_s;
        QTest::newRow("folder without system.reg") << QStringList{u"--registry"_s, QStringLiteral(KELVANE_TEST_DATA)}
                                                   << 1 << QStringLiteral(KELVANE_TEST_DATA);
        QTest::newRow("invalid mask") << QStringList{u"--registry"_s, Fixture, u"--filter"_s, u"a["_s} << 2
                                      << u"'*a[*' is an invalid mask at (3)"_s;
    }

    void failures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, named);
        const Run run = runList(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, QByteArray());
        const QString err = QString::fromUtf8(run.err);
        QCOMPARE(err.count(u'\n'), 1);
        QVERIFY2(err.contains(named), qPrintable(err));
    }

    void outputFailure_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("json") << QStringList{u"--json"_s};
        QTest::newRow("tree") << QStringList{u"--tree"_s};
    }

    void outputFailure()
    {
        // A full disk must not pass for a listing written.
        QFETCH(QStringList, arguments);
        if (!QFile::exists(u"/dev/full"_s))
            QSKIP("no /dev/full here");
        QProcess process;
        process.setStandardOutputFile(u"/dev/full"_s);
        process.start(QStringLiteral(KELVANE_LIST_EXE), QStringList{u"--registry"_s, Fixture} + arguments);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 3);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(u"Could not write the output"_s), qPrintable(err));
    }

    void targetFromEnvironment()
    {
        // KELVANE_REGISTRY wins over WINEPREFIX.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"KELVANE_REGISTRY"_s, Fixture);
        environment.insert(u"WINEPREFIX"_s, u"/nonexistent-prefix"_s);
        QCOMPARE(runList({u"--no-updates"_s}, environment).exitCode, 0);

        environment.remove(u"KELVANE_REGISTRY"_s);
        const Run bad = runList({}, environment);
        QCOMPARE(bad.exitCode, 1);
        QVERIFY(bad.err.contains("/nonexistent-prefix"));
    }

    void help()
    {
        const Run run = runList({u"--help"_s});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("Usage: kelvane-list"));
    }
};

QTEST_GUILESS_MAIN(TestKelvaneList)
#include "tst_KelvaneList.moc"
