// SPDX-License-Identifier: GPL-3.0-or-later
// Kills entry edits at random points and checks what each leaves behind.
//
// A child process deletes, renames or recommands an entry (its backup
// first, then the save) in a copy of a real Wine prefix's system.reg and in
// a Windows hive, and is killed with SIGKILL at a random moment of the edit.
// After each kill the registry must be the old file byte for byte or the
// complete new one; every backup that carries a name must be whole; and the
// next save (another edit) must succeed and clean what the killed one left.
//
// Usage: kelvane-crash-trials [--trials N] [--seed S] [--store wine|hive]
// Prints one line per store and edit; exits 1 when any trial ended otherwise.
// (Run as "kelvane-crash-trials --child EDIT STORE FILE", it is the child.)

#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "registry/HiveRegistryFile.h"
#include "registry/RegeditExport.h"
#include "registry/WineRegistryFile.h"

#include "EmptyHive.h"
#include "FileBytes.h"
#include "WineTestEnvironment.h"
#include "WineTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QString Uninstall = u"Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
const QStringList Edits{u"delete"_s, u"rename"_s, u"commands"_s};

std::shared_ptr<RegistryStore> openStore(const QString &store, const QString &file)
{
    if (store == u"hive"_s)
        return HiveRegistryFile::open(file);
    return WineRegistryFile::open(file);
}

QString keyOf(const QString &store, const QString &name)
{
    return (store == u"hive"_s ? u"SOFTWARE\\"_s : u"Software\\"_s) + Uninstall + u'\\' + name;
}

// The child: one edit, said ready right before it starts.
int runChild(const QString &edit, const QString &store, const QString &file)
{
    try {
        const auto registry = openStore(store, file);
        TAppItem entry(registry);
        entry.KeyName = edit == u"next"_s ? u"Other"_s : u"App"_s;
        entry.KeyPath = keyOf(store, entry.KeyName);
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        if (edit == u"delete"_s)
            entry.DeleteEntry();
        else if (edit == u"rename"_s || edit == u"next"_s)
            entry.Rename(u"Renamed"_s);
        else
            entry.SetCommands(u"new.exe"_s, QString());
        return 0;
    } catch (const Error &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

// What a registry file holds, but for the stamps an edit writes: a Wine
// file's text without its times, a hive's keys and values as regedit text.
QByteArray contentOf(const QString &store, const QString &file)
{
    try {
        if (store == u"hive"_s)
            return regeditExport(*HiveRegistryFile::open(file), u"SOFTWARE"_s);
        WineRegistryFile::open(file); // Kelvane reads it whole
        QList<QByteArray> lines = test::fileBytes(file).split('\n');
        for (QByteArray &line : lines) {
            if (line.startsWith('[') && line.lastIndexOf("] ") > 0)
                line = line.left(line.lastIndexOf("] ") + 2);
            else if (line.startsWith("#time="))
                line = "#time=";
        }
        return lines.join('\n');
    } catch (const Error &) {
        return {};
    }
}

struct Trials
{
    QString store;
    QString pristine; // the registry before any edit
    QString disk; // the folder the edited registry is in, the same one for every trial
    QString data; // XDG_DATA_HOME of the children, for their backups
    QString self;
    QString prefix; // a Wine prefix to read the Wine file in, when it is one

    // Whether Wine reads the file as the edit left it: the edited value, or
    // for a delete the key gone while its neighbour stays.
    bool wineReads(const QString &edit) const
    {
        const QString system = prefix + u"/system.reg"_s;
        QFile::remove(system);
        QFile::copy(registry(), system);
        const QProcessEnvironment env = test::wineTestEnvironment(prefix);
        const auto query = [&env](const QString &name, const QStringList &more) {
            QProcess wine;
            wine.setProcessEnvironment(env);
            wine.setProcessChannelMode(QProcess::MergedChannels);
            wine.start(u"wine"_s, QStringList{u"reg"_s, u"query"_s, u"HKLM\\Software\\"_s + Uninstall + u'\\' + name} + more);
            wine.waitForFinished(120000);
            return std::pair{wine.exitCode(), wine.readAll()};
        };
        bool reads = false;
        if (edit == u"delete"_s)
            reads = query(u"App"_s, {}).first != 0 && query(u"Other"_s, {}).first == 0;
        else if (edit == u"rename"_s)
            reads = query(u"App"_s, {u"/v"_s, u"DisplayName"_s}).second.contains("Renamed");
        else
            reads = query(u"App"_s, {u"/v"_s, u"UninstallString"_s}).second.contains("new.exe");
        test::runTool(env, u"wineserver"_s, {u"-w"_s});
        return reads;
    }

    QString registry() const { return disk + u'/' + QFileInfo(pristine).fileName(); }
    QString backups() const { return data + u"/Kelvane/backups"_s; }

    void reset() const
    {
        QFile::remove(registry());
        QFile::copy(pristine, registry());
        QDir(data).removeRecursively();
    }

    QProcess *start(const QString &edit) const
    {
        auto *child = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_s, data);
        child->setProcessEnvironment(env);
        child->start(self, {u"--child"_s, edit, store, registry()});
        return child;
    }

    // Runs an edit to its end; the time from "ready" to the end, or -1 when it failed.
    qint64 runWhole(const QString &edit) const
    {
        std::unique_ptr<QProcess> child(start(edit));
        if (!child->waitForReadyRead(60000)) {
            child->waitForFinished(60000);
            std::fprintf(stderr, "the %s edit did not start: %s\n", qPrintable(edit),
                         child->readAllStandardError().constData());
            return -1;
        }
        QElapsedTimer timer;
        timer.start();
        child->waitForFinished(60000);
        const qint64 took = timer.nsecsElapsed() / 1000;
        if (child->exitStatus() != QProcess::NormalExit || child->exitCode() != 0) {
            std::fprintf(stderr, "the %s edit failed: %s\n", qPrintable(edit), child->readAllStandardError().constData());
            return -1;
        }
        return took;
    }

    QStringList hidden(const QString &folder) const
    {
        QStringList names;
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
            if (name.startsWith(u'.'))
                names.append(name);
        return names;
    }
};

struct Tally
{
    int old = 0, complete = 0, other = 0, backups = 0, badBackups = 0, leftovers = 0, notCleaned = 0;
};

// The trials of one edit: a whole run first, for the new file, the backup
// and the time the edit takes, then `count` runs killed within that time
// (and a little after).
Tally runTrials(const Trials &t, const QString &edit, int count, std::mt19937 &random)
{
    Tally tally;
    t.reset();
    const qint64 editTime = t.runWhole(edit);
    if (editTime < 0) {
        tally.other = count;
        return tally;
    }
    const QByteArray original = test::fileBytes(t.pristine);
    const QByteArray expected = contentOf(t.store, t.registry());
    if (expected.isEmpty() || expected == contentOf(t.store, t.pristine)
        || (!t.prefix.isEmpty() && !t.wineReads(edit))) {
        std::fprintf(stderr, "%s, %s: the whole edit did not give a file Wine reads as edited\n",
                     qPrintable(t.store), qPrintable(edit));
        tally.other = count;
        return tally;
    }
    QByteArray expectedBackup;
    for (const QString &name : QDir(t.backups()).entryList({u"*.reg"_s}, QDir::Files))
        expectedBackup = test::fileBytes(t.backups() + u'/' + name);
    std::uniform_int_distribution<qint64> moment(0, editTime * 3 / 2);

    for (int trial = 0; trial < count; ++trial) {
        t.reset();
        std::unique_ptr<QProcess> child(t.start(edit));
        if (!child->waitForReadyRead(60000)) {
            child->waitForFinished(60000);
            std::fprintf(stderr, "%s, %s: trial %d did not start: %s\n", qPrintable(t.store), qPrintable(edit),
                         trial + 1, child->readAllStandardError().constData());
            ++tally.other;
            continue;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        child->kill();
        child->waitForFinished(60000);

        const QByteArray now = test::fileBytes(t.registry());
        if (now == original) {
            ++tally.old;
        } else if (contentOf(t.store, t.registry()) == expected) {
            ++tally.complete;
        } else {
            ++tally.other;
            std::fprintf(stderr, "%s, %s: trial %d left neither the old nor the new file\n", qPrintable(t.store),
                         qPrintable(edit), trial + 1);
        }
        for (const QString &name : QDir(t.backups()).entryList(QDir::Files)) {
            const QByteArray bytes = test::fileBytes(t.backups() + u'/' + name);
            ++tally.backups;
            if (name.endsWith(u".hive"_s) ? bytes != original : bytes != expectedBackup) {
                ++tally.badBackups;
                std::fprintf(stderr, "%s, %s: trial %d left a backup that is not whole: %s\n", qPrintable(t.store),
                             qPrintable(edit), trial + 1, qPrintable(name));
            }
        }
        const int left = int(t.hidden(t.disk).size() + t.hidden(t.backups()).size());
        tally.leftovers += left;
        // The next save takes no leftover for its own and removes it.
        if (t.runWhole(u"next"_s) < 0 || !t.hidden(t.disk).isEmpty() || !t.hidden(t.backups()).isEmpty()) {
            std::fprintf(stderr, "%s, %s: trial %d: the next save failed or left %s\n", qPrintable(t.store),
                         qPrintable(edit), trial + 1, qPrintable((t.hidden(t.disk) + t.hidden(t.backups())).join(u", "_s)));
            ++tally.notCleaned;
        }
    }
    return tally;
}

// A copy of a fresh prefix's registry with two entries, or empty without Wine.
QString wineRegistry(const QString &root)
{
    if (QStandardPaths::findExecutable(u"wineboot"_s).isEmpty())
        return {};
    const QString prefix = root + u"/prefix"_s;
    const QString failed = test::makeTestPrefix(test::wineTestEnvironment(prefix));
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failed));
        return {};
    }
    const QString copy = root + u"/system.reg"_s;
    QFile::copy(prefix + u"/system.reg"_s, copy);
    auto file = WineRegistryFile::open(copy);
    for (const QString &name : {u"App"_s, u"Other"_s}) {
        file->setValue(keyOf(u"wine"_s, name), RegistryValue::fromText(u"DisplayName"_s, name));
        file->setValue(keyOf(u"wine"_s, name), RegistryValue::fromText(u"UninstallString"_s, u"C:\\u.exe"_s));
    }
    file->save();
    return copy;
}

// A hive of a few thousand keys, the two entries among them.
QString hiveRegistry(const QString &root)
{
    const QString path = root + u"/SOFTWARE"_s;
    test::HiveBuilder builder(path);
    for (const QString &name : {u"App"_s, u"Other"_s})
        builder.add(Uninstall + u'\\' + name, {RegistryValue::fromText(u"DisplayName"_s, name),
                                               RegistryValue::fromText(u"UninstallString"_s, u"C:\\u.exe"_s)});
    for (int i = 0; i < 3000; ++i)
        builder.add(u"Classes\\Key%1"_s.arg(i), {RegistryValue::fromText(u"Value"_s, u"data %1"_s.arg(i))});
    builder.commit();
    return path;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--child"_s)
        return runChild(args[2], args[3], args[4]);
    int count = 200;
    unsigned seed = unsigned(std::random_device{}());
    QStringList stores{u"wine"_s, u"hive"_s};
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--trials"_s)
            count = args[i + 1].toInt();
        else if (args[i] == u"--seed"_s)
            seed = args[i + 1].toUInt();
        else if (args[i] == u"--store"_s)
            stores = QStringList{args[i + 1]};
    }
    std::mt19937 random(seed);
    QTemporaryDir root;
    std::printf("seed %u, %d trials per edit\n", seed, count);
    std::printf("%-5s %-9s %6s %5s %5s %5s %8s %10s %10s %11s\n", "store", "edit", "trials", "old", "new", "other",
                "backups", "not whole", "leftovers", "not cleaned");
    bool sound = true;
    for (const QString &store : std::as_const(stores)) {
        Trials t;
        t.store = store;
        t.pristine = store == u"hive"_s ? hiveRegistry(root.path()) : wineRegistry(root.path());
        if (t.pristine.isEmpty()) {
            std::printf("%-5s skipped: Wine cannot make a prefix here\n", qPrintable(store));
            continue;
        }
        t.disk = root.filePath(u"disk-"_s + store);
        t.data = root.filePath(u"data-"_s + store);
        t.self = app.applicationFilePath();
        if (store == u"wine"_s)
            t.prefix = root.filePath(u"prefix"_s);
        QDir().mkpath(t.disk);
        for (const QString &edit : Edits) {
            const Tally r = runTrials(t, edit, count, random);
            std::printf("%-5s %-9s %6d %5d %5d %5d %8d %10d %10d %11d\n", qPrintable(store), qPrintable(edit), count,
                        r.old, r.complete, r.other, r.backups, r.badBackups, r.leftovers, r.notCleaned);
            std::fflush(stdout);
            sound = sound && r.other == 0 && r.badBackups == 0 && r.notCleaned == 0;
        }
    }
    return sound ? 0 : 1;
}
