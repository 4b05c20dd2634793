// SPDX-License-Identifier: GPL-3.0-or-later
#include "CompactHive.h"
#include "WineRegistryText.h"
#include "registry/WineRegistryFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using kelvane::test::linkKey;

namespace {

const QString Fixture = QStringLiteral(KELVANE_TEST_DATA "/tools/system.reg");

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 peakKilobytes = 0;
};

Run runList(const QStringList &arguments, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KELVANE_LIST_EXE), arguments);
    process.waitForFinished(60000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// Runs kelvane-list with arguments given as bytes (QProcess can only pass
// valid text) and standard output on `out`; standard error is caught.
Run runRaw(const QList<QByteArray> &arguments, int out)
{
    Run run;
    QTemporaryDir dir;
    const QByteArray errFile = QFile::encodeName(dir.filePath(u"err"_s));
    QByteArray exe = KELVANE_LIST_EXE;
    std::vector<char *> argv{exe.data()};
    QList<QByteArray> copies = arguments;
    for (QByteArray &argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // SIGPIPE at its default, whatever this process does with it: an ignored
    // one would pass on, and a closed pipe would not kill a list that failed
    // to ignore it itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.constData(), &actions, &attributes, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage {};
        for (int waited = 0; waited < 600 && ::wait4(pid, &status, WNOHANG, &usage) == 0; ++waited)
            QTest::qWait(100);
        if (::wait4(pid, &status, WNOHANG, &usage) == 0) {
            ::kill(pid, SIGKILL); // still waiting for something after a minute
            ::wait4(pid, &status, 0, &usage);
        }
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.peakKilobytes = usage.ru_maxrss;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    QFile err(QFile::decodeName(errFile));
    if (err.open(QIODevice::ReadOnly))
        run.err = err.readAll();
    return run;
}

// A registry file holding one entry whose display name is spelt as given.
QString registryWithName(const QTemporaryDir &dir, const QByteArray &spelt)
{
    const QString path = dir.filePath(u"system.reg"_s);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\e] 1\n"
                   "\"DisplayName\"=\"" + spelt + "\"\n\"UninstallString\"=\"u.exe\"\n");
    return path;
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

    // An offline Windows holding the same Software tree lists the same,
    // named as a hive file or as a partition's root.
    void offlineWindowsListsAsItsWineCopy()
    {
        QTemporaryDir dir;
        const QByteArray hive =
            kelvane::test::compactHive(kelvane::test::hiveKeyFrom(*kelvane::WineRegistryFile::open(Fixture),
                                                                  u"Software"_s, u"ROOT"_s));
        QVERIFY(QDir(dir.path()).mkpath(u"disk/windows/SYSTEM32/config"_s));
        for (const QString &file : {u"hive.dat"_s, u"disk/windows/SYSTEM32/config/software"_s}) {
            QFile out(dir.filePath(file));
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(hive) == hive.size());
        }
        const Run wine = runList({u"--registry"_s, Fixture, u"--tree"_s});
        QCOMPARE(wine.exitCode, 0);
        for (const QString &offline : {u"hive.dat"_s, u"disk"_s}) {
            const Run run = runList({u"--registry"_s, dir.filePath(offline), u"--tree"_s});
            QCOMPARE(run.err, QByteArray());
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.out, wine.out);
        }
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
        QTest::newRow("escapes amid long text") << QByteArray("abcdefgh\\\"ijklmnopq\\\\rstuvwx\\x7f\\x01yz\\xe9 0123456789~")
                                                << QByteArray("\"abcdefgh\\\"ijklmnopq\\\\rstuvwx\x7f\\u0001yz\xc3\xa9 0123456789~\"");
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

    // Names as a registry spells them, and the tree line they must become:
    // no control character reaches the terminal or forges a line.
    void treeControlCharacters_data()
    {
        QTest::addColumn<QByteArray>("spelt");
        QTest::addColumn<QString>("line");
        QTest::newRow("forged update line") << QByteArray("App\\n\\tForged update") << u"App  Forged update"_s;
        QTest::newRow("terminal escapes") << QByteArray("\\e[2J\\e]0;owned\\a") << u" [2J ]0;owned "_s;
        QTest::newRow("DEL and C1") << QByteArray("a\\x7f\\x9b\\x0085b") << u"a   b"_s;
    }

    void treeControlCharacters()
    {
        QFETCH(QByteArray, spelt);
        QFETCH(QString, line);
        QTemporaryDir dir;
        const Run run = runList({u"--registry"_s, registryWithName(dir, spelt)});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.out), line + u'\n');
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
        QTest::newRow("empty registry name") << QStringList{u"--registry"_s, QString()} << 2 << u"--registry"_s;
        // Refused at once, with what is wrong, instead of waiting or reading forever.
        QTest::newRow("named pipe") << QStringList{u"--registry"_s, u"@/pipe.reg"_s} << 1 << u"named pipe"_s;
        QTest::newRow("prefix whose system.reg is a named pipe")
            << QStringList{u"--registry"_s, u"@/pipe-prefix"_s} << 1 << u"pipe-prefix/system.reg is a named pipe"_s;
        QTest::newRow("device") << QStringList{u"--registry"_s, u"/dev/zero"_s} << 1 << u"character device"_s;
        // A link that loops is reported with the key, not taken for an empty list.
        QTest::newRow("Uninstall links to itself")
            << QStringList{u"--registry"_s, u"@/uninstall-loop.reg"_s} << 1
            << u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall in "_s;
        QTest::newRow("a parent of Uninstall loops")
            << QStringList{u"--registry"_s, u"@/parent-loop.reg"_s} << 1
            << u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion in "_s;
    }

    void failures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, named);
        // "@" stands for a folder of hostile registries made here.
        QTemporaryDir dir;
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(u"pipe.reg"_s)).constData(), 0600) == 0);
        QVERIFY(QDir(dir.path()).mkdir(u"pipe-prefix"_s));
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(u"pipe-prefix/system.reg"_s)).constData(), 0600) == 0);
        const QByteArray header = "WINE REGISTRY Version 2\n\n";
        QFile uninstallLoop(dir.filePath(u"uninstall-loop.reg"_s));
        QVERIFY(uninstallLoop.open(QIODevice::WriteOnly));
        uninstallLoop.write(header + linkKey("Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall",
                                             u"\\Registry\\Machine\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s));
        uninstallLoop.close();
        QFile parentLoop(dir.filePath(u"parent-loop.reg"_s));
        QVERIFY(parentLoop.open(QIODevice::WriteOnly));
        parentLoop.write(header + linkKey("Software\\\\Microsoft\\\\Windows\\\\CurrentVersion",
                                          u"\\Registry\\Machine\\Software\\Microsoft\\Windows\\CurrentVersion\\Next"_s)
                         + "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\a] 1\n"
                           "\"UninstallString\"=\"u.exe\"\n");
        parentLoop.close();
        for (QString &argument : arguments)
            argument.replace(u"@"_s, dir.path());
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

    void nameNotUtf8()
    {
        // A folder whose name is not UTF-8 is not said to be missing.
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()) + "/caf\xe9";
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        const Run run = runRaw({"--registry", folder}, STDOUT_FILENO);
        ::rmdir(folder.constData());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("not valid UTF-8"), run.err.constData());
    }

    void closedPipe()
    {
        // `kelvane-list | head -c 10`: the reader stopped reading. That is no
        // death by SIGPIPE but the status of an output failure, without a word.
        QTemporaryDir dir;
        QByteArray names;
        for (int i = 0; i < 2000; ++i)
            names += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\k" + QByteArray::number(i)
                     + "] 1\n\"UninstallString\"=\"u.exe\"\n\n";
        const QString path = registryWithName(dir, "x");
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("\n" + names);
        file.close();
        for (const QByteArray &form : {QByteArray("--tree"), QByteArray("--json")}) {
            int pipe[2];
            QVERIFY(::pipe(pipe) == 0);
            ::close(pipe[0]);
            const Run run = runRaw({"--registry", QFile::encodeName(path), form}, pipe[1]);
            ::close(pipe[1]);
            QCOMPARE(run.exitCode, 3);
            QCOMPARE(run.err, QByteArray());
        }
    }

    // Registries made to exhaust memory: the peak stays within four times
    // the file's size above what the program takes to start.
    void memoryBound_data()
    {
        QTest::addColumn<QByteArray>("body");
        const QByteArray header = "WINE REGISTRY Version 2\n";
        QTest::newRow("empty key lines") << header + QByteArray("\n[").repeated(10'000'000);
        QByteArray keys = header;
        keys.reserve(22'000'000);
        for (int i = 0; i < 1'000'000; ++i)
            keys += "[Software\\\\K" + QByteArray::number(i).rightJustified(7, '0') + "]\n";
        QTest::newRow("a million key lines") << keys;
        QTest::newRow("one key named again and again") << header + QByteArray("[a]\n").repeated(5'000'000);
    }

    void memoryBound()
    {
        QFETCH(QByteArray, body);
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizers' own memory would be counted");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
        QSKIP("the sanitizers' own memory would be counted");
#endif
#endif
        QTemporaryDir dir;
        QFile file(dir.filePath(u"system.reg"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(body), body.size());
        file.close();
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        const qint64 baseline = runRaw({"--help"}, devNull).peakKilobytes;
        const Run run = runRaw({"--registry", QFile::encodeName(file.fileName()), "--json"}, devNull);
        ::close(devNull);
        QCOMPARE(run.exitCode, 0);
        const qint64 above = (run.peakKilobytes - baseline) * 1024;
        QVERIFY2(above <= 4 * body.size() + (4 << 20),
                 qPrintable(u"%1 MB above the baseline for %2 MB"_s.arg(above >> 20).arg(body.size() >> 20)));
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
#include "test_kelvane_list.moc"
