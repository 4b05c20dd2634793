// SPDX-License-Identifier: GPL-3.0-or-later
// The registry of a Wine prefix beside Wine: the lock a running wineserver
// holds, hostile files where Wine keeps its server's, and Wine itself.
#include "WineTestEnvironment.h"
#include "WineTools.h"
#include "host/Error.h"
#include "registry/WineRegistryFile.h"
#include "registry/WineServerLock.h"

#include "FileFaults.h"

#include "ChildProcess.h"
#include "FakeWineServer.h"
#include "FileBytes.h"
#include "HostilePaths.h"
#include "RequiredTool.h"
#include "WineRegistryText.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane::test;
using kelvane::Error;
using kelvane::RegistryValue;
using kelvane::WineRegistryFile;
using kelvane::test::FileFaults;

namespace {

// A prefix in `root` whose "wineserver" file names a server folder in
// Debian's layout, $TMPDIR/<that name>/server-<dev>-<ino>, with TMPDIR set
// to `root`. Returns that folder, made; empty when something failed.
QString makePrefix(const QString &root)
{
    const QString prefix = root + u"/prefix"_s;
    if (!QDir().mkpath(prefix)
        || !writeFileBytes(prefix + u"/system.reg"_s, wineRegistryFile("[Software\\\\A] 1\n\"v\"=\"1\"\n")))
        return {};
    return makeServerFolder(prefix, root);
}

// Turns timestamps into placeholders, so files written at other times compare.
QByteArray withoutStamps(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray &line : lines) {
        if (line.startsWith('[') && line.lastIndexOf("] ") > 0)
            line = line.left(line.lastIndexOf("] ") + 2) + 'T';
        else if (line.startsWith("#time="))
            line = "#time=T";
    }
    return lines.join('\n');
}

void touchAll(WineRegistryFile &file, const QString &path)
{
    const auto values = file.values(path);
    if (!values.isEmpty() && !file.isLink(path))
        file.setValue(path, values.first());
    for (const QString &name : file.subkeyNames(path)) {
        const QString child = path.isEmpty() ? name : path + u'\\' + name;
        if (!file.isLink(child))
            touchAll(file, child);
    }
}

} // namespace

class TestWineServer : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("TMPDIR"); }
    void refusesWhileServerLockHeld();
    void hostileServerFiles_data();
    void hostileServerFiles();
    void realWinePrefix();
    void wineDuringASave();
};

void TestWineServer::refusesWhileServerLockHeld()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString server = makePrefix(tmp.path());
    QVERIFY(!server.isEmpty());
    const QString prefix = tmp.filePath(u"prefix"_s);
    const QString path = prefix + u"/system.reg"_s;

    auto file = WineRegistryFile::open(path);
    file->checkWritable(); // a lock file nobody holds is a stopped server
    file->setValue(u"Software\\A"_s, RegistryValue::fromText(u"v"_s, u"2"_s));
    const QByteArray before = fileBytes(path);
    {
        ServerLockHolder holder(server + u"/lock"_s);
        QVERIFY(holder.locked());
        try {
            file->checkWritable();
            QFAIL("no error");
        } catch (const Error &error) {
            QVERIFY2(error.message().contains(u"wineserver"_s) && error.message().contains(prefix),
                     qPrintable(error.message()));
        }
        QVERIFY_THROWS_EXCEPTION(Error, file->save());
        QCOMPARE(fileBytes(path), before);
    }
    file->save();
    QCOMPARE(WineRegistryFile::open(path)->value(u"Software\\A"_s, u"v"_s)->text(), u"2"_s);

    // The last check before a rename keeps the lock it checks under.
    const kelvane::WineServerLock lock(prefix);
    lock.ensureStillAlone();
    ServerLockHolder starting(server + u"/lock"_s);
    QVERIFY(!starting.locked());
}

void TestWineServer::hostileServerFiles_data()
{
    QTest::addColumn<QString>("file"); // in the prefix; "@/" is the server folder
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("said");
    QTest::newRow("wineserver file is a named pipe") << u"wineserver"_s << int(Hostile::Fifo) << u"named pipe"_s;
    QTest::newRow("lock is a named pipe") << u"@/lock"_s << int(Hostile::Fifo) << u"named pipe"_s;
    QTest::newRow("lock links to /dev/zero") << u"@/lock"_s << int(Hostile::LinkToDevZero) << u"character device"_s;
}

void TestWineServer::hostileServerFiles()
{
    // None of them tells whether a server runs: checking and saving are
    // refused at once, in words, never left waiting nor taken for "no server".
    QFETCH(QString, file);
    QFETCH(int, kind);
    QFETCH(QString, said);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString server = makePrefix(tmp.path());
    QVERIFY(!server.isEmpty());
    const QString prefix = tmp.filePath(u"prefix"_s);
    QString hostile;
    if (file.startsWith(u'@')) {
        hostile = makeHostile(Hostile(kind), server, file.mid(2));
    } else {
        QVERIFY(QFile::remove(prefix + u'/' + file));
        hostile = makeHostile(Hostile(kind), prefix, file);
    }
    QVERIFY(!hostile.isEmpty());
    const QString path = prefix + u"/system.reg"_s;
    auto registry = WineRegistryFile::open(path);
    registry->setValue(u"Software\\A"_s, RegistryValue::fromText(u"v"_s, u"2"_s));
    const QByteArray before = fileBytes(path);

    const QByteArray answer = answerFromChild(
        [&] {
            QByteArray messages;
            try {
                registry->checkWritable();
                messages += "(checked)";
            } catch (const Error &error) {
                messages += error.message().toUtf8();
            }
            try {
                registry->save();
                messages += "\n(saved)";
            } catch (const Error &error) {
                messages += '\n' + error.message().toUtf8();
            }
            return messages;
        },
        10);
    const QStringList messages = QString::fromUtf8(answer).split(u'\n');
    QVERIFY2(messages.size() == 2, answer.constData());
    for (const QString &message : messages)
        QVERIFY2(message.contains(hostile) && message.contains(said) && message.contains(prefix), qPrintable(message));
    QCOMPARE(fileBytes(path), before);
}

void TestWineServer::realWinePrefix()
{
    const QString wine = QStandardPaths::findExecutable(u"wine"_s);
    const QString wineserver = QStandardPaths::findExecutable(u"wineserver"_s);
    if (wine.isEmpty() || wineserver.isEmpty())
        KELVANE_SKIP_WITHOUT_TOOL("wine is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString prefix = dir.filePath(u"prefix"_s);
    const QProcessEnvironment env = kelvane::test::wineTestEnvironment(prefix);
    auto run = [&](const QString &program, const QStringList &args, QByteArray *output = nullptr) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, args);
        if (!process.waitForFinished(180000))
            return -1;
        if (output)
            *output = process.readAll();
        return process.exitCode();
    };
    QCOMPARE(kelvane::test::makeTestPrefix(env), QString());
    const QString path = prefix + u"/system.reg"_s;
    const QByteArray original = fileBytes(path);
    QVERIFY(original.startsWith("WINE REGISTRY Version 2\n"));

    // Every key rewritten by us comes out as Wine wrote it, but for the stamps.
    {
        auto all = WineRegistryFile::open(path);
        QCOMPARE(all->toBytes(), original);
        QVERIFY(all->keyExists(u"Software\\Microsoft\\Windows NT\\CurrentVersion"_s));
        QVERIFY(all->isLink(u"Software\\Classes\\Wow6432Node\\AppId"_s));
        QCOMPARE(all->subkeyNames(u"Software\\Classes\\Wow6432Node\\AppId"_s),
                 all->subkeyNames(u"Software\\Classes\\AppId"_s));
        touchAll(*all, QString());
        QCOMPARE(withoutStamps(all->toBytes()), withoutStamps(original));
    }

    // Our edit: only the new key's block is added, and Wine reads it.
    auto file = WineRegistryFile::open(path);
    file->checkWritable();
    file->setValue(u"Software\\Kelvane\\Test"_s, RegistryValue::fromText(u"Name"_s, u"Wert \"x\""_s));
    file->setValue(u"Software\\Kelvane\\Test"_s, RegistryValue::fromDword(u"Count"_s, 42));
    file->save();
    const QByteArray edited = fileBytes(path);
    const qsizetype begin = edited.indexOf("[Software\\\\Kelvane\\\\Test]");
    QVERIFY(begin > 0);
    const qsizetype end = edited.indexOf("\n[", begin) + 1;
    QCOMPARE(edited.left(begin) + edited.mid(end), original);
    QByteArray output;
    QCOMPARE(run(wine, {u"reg"_s, u"query"_s, u"HKLM\\Software\\Kelvane\\Test"_s}, &output), 0);
    QVERIFY2(output.contains("Wert \"x\"") && output.contains("0x2a"), output.constData());
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);

    // Wine's edit is seen after a reload, ours stays.
    QCOMPARE(run(wine, {u"reg"_s, u"add"_s, u"HKLM\\Software\\Kelvane\\Test"_s, u"/v"_s, u"Added"_s, u"/t"_s,
                        u"REG_DWORD"_s, u"/d"_s, u"7"_s, u"/f"_s}),
             0);
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);
    QVERIFY(file->changedOnDisk());
    file->reload();
    QCOMPARE(file->value(u"Software\\Kelvane\\Test"_s, u"Added"_s)->dword(), std::optional<quint32>(7));
    QCOMPARE(file->value(u"Software\\Kelvane\\Test"_s, u"count"_s)->dword(), std::optional<quint32>(42));

    // While a wineserver serves the prefix, nothing is written.
    QCOMPARE(run(wineserver, {u"-p"_s}), 0);
    file->setValue(u"Software\\Kelvane\\Test"_s, RegistryValue::fromDword(u"Lost"_s, 1));
    const QByteArray beforeServer = fileBytes(path);
    QVERIFY_THROWS_EXCEPTION(Error, file->checkWritable());
    try {
        file->save();
        QFAIL("saved while a wineserver runs");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"wineserver"_s), qPrintable(error.message()));
    }
    QCOMPARE(fileBytes(path), beforeServer);
    QCOMPARE(run(wineserver, {u"-k"_s}), 0);
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);
    // The stopping server wrote the file: our old state is not saved over it.
    QVERIFY(file->changedOnDisk());
    QVERIFY_THROWS_EXCEPTION(Error, file->save());
    file->reload();
    file->checkWritable();
    file->setValue(u"Software\\Kelvane\\Test"_s, RegistryValue::fromDword(u"Lost"_s, 1));
    file->save();
    QCOMPARE(run(wine, {u"reg"_s, u"query"_s, u"HKLM\\Software\\Kelvane\\Test"_s, u"/v"_s, u"Lost"_s}, &output), 0);
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);
}

void TestWineServer::wineDuringASave()
{
    if (QStandardPaths::findExecutable(u"wine"_s).isEmpty() || QStandardPaths::findExecutable(u"wineserver"_s).isEmpty())
        KELVANE_SKIP_WITHOUT_TOOL("wine is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString prefix = dir.filePath(u"prefix"_s);
    const QProcessEnvironment env = kelvane::test::wineTestEnvironment(prefix);
    QCOMPARE(kelvane::test::makeTestPrefix(env), QString());
    const auto run = [&env](const QStringList &args, QByteArray *output = nullptr) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(args.first(), args.mid(1));
        process.waitForFinished(120000);
        if (output)
            *output = process.readAll();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    QCOMPARE(run({u"wineserver"_s, u"-w"_s}), 0);
    // As after a restart of the machine: no server folder yet. The save
    // makes it, to hold its lock.
    const QString server = kelvane::WineServerLock::serverFolder(prefix);
    QVERIFY(QDir(server).exists());
    // Debian's folder of this prefix alone, never upstream's /tmp/.wine-<uid> that all prefixes share.
    const bool ownParent = QFileInfo::exists(prefix + u"/wineserver"_s);
    QVERIFY(QDir(ownParent ? QFileInfo(server).path() : server).removeRecursively());
    const QString path = prefix + u"/system.reg"_s;
    const QString key = u"HKLM\\Software\\Kelvane"_s;

    // A Windows program started while the new file is written but not yet
    // in place does not read the old one: its wineserver cannot start.
    auto file = WineRegistryFile::open(path);
    file->setValue(u"Software\\Kelvane"_s, RegistryValue::fromText(u"v"_s, u"ours"_s));
    int exitDuring = 0;
    QByteArray said;
    FileFaults::setPause([&](const QString &) { exitDuring = run({u"wine"_s, u"reg"_s, u"query"_s, key}, &said); });
    file->save();
    FileFaults::setPause({});
    QVERIFY2(exitDuring != 0 && said.contains("cannot connect"), said.constData());
    QByteArray output;
    QCOMPARE(run({u"wine"_s, u"reg"_s, u"query"_s, key, u"/v"_s, u"v"_s}, &output), 0);
    QVERIFY2(output.contains("ours"), output.constData());
    QCOMPARE(run({u"wineserver"_s, u"-w"_s}), 0);

    // A save Wine makes meanwhile (a new file renamed over the old, as a
    // wineserver saves) is kept: ours is refused in words.
    file->reload();
    file->setValue(u"Software\\Kelvane"_s, RegistryValue::fromText(u"v"_s, u"lost"_s));
    FileFaults::setPause([](const QString &target) {
        writeFileBytes(target + u".wine"_s, fileBytes(target) + "\n[Software\\\\Saved] 1\n\"w\"=\"1\"\n");
        ::rename(QFile::encodeName(target + u".wine"_s).constData(), QFile::encodeName(target).constData());
    });
    const QByteArray beforeSave = fileBytes(path);
    try {
        file->save();
        QFAIL("saved over Wine's save");
    } catch (const Error &error) {
        QCOMPARE(error.kind(), kelvane::ErrorKind::ChangedOnDisk);
        QVERIFY2(error.message().contains(path), qPrintable(error.message()));
    }
    FileFaults::setPause({});
    QCOMPARE(fileBytes(path), beforeSave + "\n[Software\\\\Saved] 1\n\"w\"=\"1\"\n");
    QCOMPARE(QDir(prefix).entryList({u".system.reg*"_s}, QDir::Files | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestWineServer)
#include "test_wine_server.moc"
