// SPDX-License-Identifier: GPL-3.0-or-later
// End to end: uninstalling through the program list on a fresh Wine prefix,
// with the prefix's own runner. Two NSIS programs (each uninstaller copies
// itself to the temp folder, starts the copy and ends at once) and a Windows
// Installer product; each is checked on disk right after the list's rebuild.
// Then an entry whose uninstaller is gone: removed after a backup that Wine's
// regedit imports back, and refused while a wineserver serves the prefix.
// Last, an entry renamed and its commands edited, read back with Wine's reg.
#include "FakeFrameHost.h"
#include "FileBytes.h"
#include "ProgramFixture.h"
#include "RequiredTool.h"
#include "WineTestEnvironment.h"
#include "WineTools.h"
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "program/kvUnitProgram.h"
#include "registry/RegistryBackup.h"
#include "registry/WineRegistryFile.h"
#include "target/CommandRunner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using namespace kelvane::test;

namespace {

const QString AbacusGuid = u"{7C3B1A2D-6E5F-4A8B-9C0D-1E2F3A4B5C6D}"_s;
const QString OrphanKey = UninstallKey + u"\\KelvaneOrphan"_s;
const QString OrphanTitle = u"Kelvane Orphan"_s;
const QString SketchKey = UninstallKey + u"\\KelvaneSketch"_s;
const QString SketchTitle = u"Kelvane Sketch"_s;
const QString SketchUninstall = u"C:\\KelvaneSketch\\uninst.exe"_s;
const QString SketchRenamed = u"Nouveau nom \u00e9 \u540d\u524d"_s;

// Shows the frame in the host's window, lets it list the prefix, and gives
// the tree the focus on the node named `title`, as a user would find it.
bool showWithFocusOn(FakeFrameHost &host, TkvFrameProgram &frame, const QString &title)
{
    QWidget *window = host.mainWindow();
    (new QVBoxLayout(window))->addWidget(&frame);
    window->resize(600, 420);
    window->show();
    if (!QTest::qWaitForWindowActive(window))
        return false;
    frame.EnterForm(nullptr);
    QTreeWidget *tree = frame.tree();
    if (!QTest::qWaitFor([&] { return findNode(tree, title) != nullptr; }))
        return false;
    tree->setCurrentItem(findNode(tree, title));
    tree->setFocus();
    return QTest::qWaitFor([&] { return tree->hasFocus(); });
}

// Every value of the key, one line each in name order: what must be the same
// after the backup is imported back.
QStringList valueLines(const RegistryStore &store, const QString &path)
{
    QStringList lines;
    for (const RegistryValue &value : store.values(path))
        lines.append(u"\"%1\" type %2: %3"_s.arg(value.name.toLower())
                         .arg(value.type)
                         .arg(QString::fromLatin1(value.data.toHex(','))));
    lines.sort();
    return lines;
}

// Each character pressed and released with its text, as a keyboard layout
// that has it sends it (QTest's own typing stops at Latin-1).
void typeCharacters(const QString &text)
{
    for (const QChar c : text) {
        const auto key = Qt::Key(c.toUpper().unicode());
        QTest::sendKeyEvent(QTest::Press, QApplication::focusWidget(), key, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, QApplication::focusWidget(), key, QString(c), Qt::NoModifier);
    }
}

// The key's values as `wine reg query` prints them in `locale`, name to data.
// To a pipe it writes the locale's OEM code page, and what that lacks as
// '?': the bytes are compared as they come. Empty when it ran; else what failed.
QString queryValues(QProcessEnvironment env, const QString &key, const QString &locale,
                    QMap<QByteArray, QByteArray> &values)
{
    env.insert(u"LC_ALL"_s, locale);
    QProcess reg;
    reg.setProcessEnvironment(env);
    reg.start(u"wine"_s, {u"reg"_s, u"query"_s, u"HKLM\\"_s + key});
    if (!reg.waitForFinished(60000) || reg.exitStatus() != QProcess::NormalExit || reg.exitCode() != 0)
        return u"wine reg query failed for %1: %2"_s.arg(key, QString::fromLocal8Bit(reg.readAllStandardError()));
    values.clear();
    // "    <name>    <type>    <data>", the data possibly empty.
    for (QByteArray line : reg.readAllStandardOutput().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype type = line.indexOf("    REG_", 4);
        const qsizetype data = line.indexOf("    ", type + 4);
        if (line.startsWith("    ") && type > 4 && data > type)
            values.insert(line.mid(4, type - 4), line.mid(data + 4));
    }
    return {};
}

// Forwards to the target's runner, recording what ran and when the start and
// the wait began and ended (on the test's clock).
class TimedRunner : public CommandRunner
{
public:
    TimedRunner(CommandRunner &inner, const QElapsedTimer &clock)
        : m_inner(inner)
        , m_clock(clock)
    {
    }

    quint32 start(const QString &commandLine, std::unique_ptr<StartedCommand> &started) override
    {
        commandLines.append(commandLine);
        startedAt = m_clock.elapsed();
        std::unique_ptr<StartedCommand> real;
        const quint32 code = m_inner.start(commandLine, real);
        if (real)
            started = std::make_unique<Timed>(std::move(real), *this);
        return code;
    }
    QString hostFolder(const QString &windowsFolder) const override { return m_inner.hostFolder(windowsFolder); }

    QStringList commandLines;
    qint64 startedAt = -1;
    qint64 endedAt = -1;

private:
    struct Timed : StartedCommand
    {
        Timed(std::unique_ptr<StartedCommand> real, TimedRunner &owner)
            : command(std::move(real))
            , runner(owner)
        {
        }
        bool waitFor(int milliseconds) override
        {
            const bool ended = command->waitFor(milliseconds);
            if (ended)
                runner.endedAt = runner.m_clock.elapsed();
            return ended;
        }
        std::unique_ptr<StartedCommand> command;
        TimedRunner &runner;
    };

    CommandRunner &m_inner;
    const QElapsedTimer &m_clock;
};

} // namespace

class TestEndToEndUninstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void uninstallRemovesTheProgram_data();
    void uninstallRemovesTheProgram();
    void orphanedEntry_data();
    void orphanedEntry();
    void editedEntry_data();
    void editedEntry();

private:
    QTemporaryDir m_dir;
    QString m_prefix;
    QProcessEnvironment m_env;
};

void TestEndToEndUninstall::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    for (const QString &tool : {u"wine"_s, u"wineboot"_s, u"wineserver"_s, u"makensis"_s, u"wixl"_s})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            KELVANE_SKIP_WITHOUT_TOOL(qPrintable(tool + u" is not installed: no real prefix to uninstall from"_s));
    QVERIFY(m_dir.isValid());
    m_prefix = m_dir.filePath(u"prefix"_s);
    m_env = wineTestEnvironment(m_prefix);
    // The frame's runner inherits this process's environment: keep Wine quiet
    // and windowless there too. WINEPREFIX stays unset: the runner must set it.
    for (const char *name : {"WINEDEBUG", "WINEDLLOVERRIDES"})
        qputenv(name, m_env.value(QString::fromLatin1(name)).toLocal8Bit());
    qunsetenv("DISPLAY");
    qunsetenv("WINEPREFIX");

    QCOMPARE(makeTestPrefix(m_env), QString());
    const QString build = m_dir.filePath(u"build"_s);
    QVERIFY(QDir().mkpath(build));
    for (const QString &name : {u"removable.nsi"_s, u"removable.wxs"_s})
        QVERIFY(QFile::copy(QStringLiteral(KELVANE_TEST_DATA "/endtoend/") + name, build + u'/' + name));
    QFile payload(build + u"/abacus.txt"_s);
    QVERIFY(payload.open(QIODevice::WriteOnly) && payload.write("abacus\n") == 7);
    payload.close();
    // Tally's uninstaller shows its window unless given /S; Quill's is silent without it.
    QCOMPARE(runTool(m_env, u"makensis"_s,
                     {u"-V2"_s, u"-DKEY=KelvaneTally"_s, u"-DTITLE=Kelvane Tally"_s, u"removable.nsi"_s}, build),
             QString());
    QCOMPARE(runTool(m_env, u"makensis"_s,
                     {u"-V2"_s, u"-DKEY=KelvaneQuill"_s, u"-DTITLE=Kelvane Quill"_s, u"-DSILENT_UNINSTALL"_s,
                      u"removable.nsi"_s},
                     build),
             QString());
    QCOMPARE(runTool(m_env, u"wixl"_s, {u"-a"_s, u"x64"_s, u"-o"_s, u"abacus.msi"_s, u"removable.wxs"_s}, build),
             QString());
    QCOMPARE(runTool(m_env, u"wine"_s, {build + u"/KelvaneTally.exe"_s, u"/S"_s}, build), QString());
    QCOMPARE(runTool(m_env, u"wine"_s, {build + u"/KelvaneQuill.exe"_s, u"/S"_s}, build), QString());
    QCOMPARE(runTool(m_env, u"wine"_s, {u"msiexec"_s, u"/i"_s, build + u"/abacus.msi"_s, u"/qn"_s}, build),
             QString());
    // The entry the edit rows rename and change, written by Wine itself.
    for (const auto &[name, data] : {std::pair{u"DisplayName"_s, SketchTitle},
                                     {u"UninstallString"_s, SketchUninstall},
                                     {u"QuietUninstallString"_s, SketchUninstall + u" /S"_s}})
        QCOMPARE(runTool(m_env, u"wine"_s,
                         {u"reg"_s, u"add"_s, u"HKLM\\"_s + SketchKey, u"/v"_s, name, u"/d"_s, data, u"/f"_s}),
                 QString());
    QCOMPARE(runTool(m_env, u"wineserver"_s, {u"-w"_s}), QString()); // the registry is on disk now
}

void TestEndToEndUninstall::cleanupTestCase()
{
    if (!m_prefix.isEmpty())
        test::stopWineServer(m_env);
}

void TestEndToEndUninstall::uninstallRemovesTheProgram_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("trigger"); // "Shift+Del" and "Del" on the tree, or "button"
    QTest::addColumn<QString>("command"); // what must have run
    QTest::addColumn<QString>("folder");  // the install folder, under drive_c
    QTest::addColumn<QStringList>("keys"); // registry keys the uninstall removes
    // The rows share the prefix and run in this order: the last one leaves it
    // without any entry, so its rebuild must empty the list too.
    const QString uninstall = UninstallKey + u'\\';
    QTest::newRow("NSIS, quiet, Shift+Del")
        << u"Kelvane Tally"_s << u"Shift+Del"_s << u"\"C:\\Program Files\\KelvaneTally\\uninst.exe\" /S"_s
        << u"Program Files/KelvaneTally"_s << QStringList{uninstall + u"KelvaneTally"_s};
    QTest::newRow("NSIS, normal, button")
        << u"Kelvane Quill"_s << u"button"_s << u"\"C:\\Program Files\\KelvaneQuill\\uninst.exe\""_s
        << u"Program Files/KelvaneQuill"_s << QStringList{uninstall + u"KelvaneQuill"_s};
    const QString packed = ConvertGuid(AbacusGuid, false);
    QTest::newRow("Windows Installer, Del")
        << u"Kelvane Abacus"_s << u"Del"_s << u"MsiExec.exe /X"_s + AbacusGuid << u"Program Files/KelvaneAbacus"_s
        << QStringList{uninstall + AbacusGuid, u"Software\\Classes\\Installer\\Products\\"_s + packed,
                       u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"_s
                           + packed};
}

void TestEndToEndUninstall::uninstallRemovesTheProgram()
{
    QFETCH(QString, title);
    QFETCH(QString, trigger);
    QFETCH(QString, command);
    QFETCH(QString, folder);
    QFETCH(QStringList, keys);
    const QString hostFolder = m_prefix + u"/drive_c/"_s + folder;
    QVERIFY2(QFileInfo::exists(hostFolder + u"/"_s), qPrintable(hostFolder));

    FakeFrameHost host(m_prefix);
    for (const QString &key : keys)
        QVERIFY2(host.target().registry()->keyExists(key), qPrintable(key));
    QElapsedTimer clock;
    clock.start();
    TimedRunner runner(host.target().runner(), clock);
    host.runner = &runner;
    host.confirmationAnswers = {true};
    TkvFrameProgram frame(host);
    QVERIFY(showWithFocusOn(host, frame, title));
    QTreeWidget *tree = frame.tree();

    // Counts event-loop passes while the command is waited for.
    QList<qint64> ticks;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, this, [&ticks, &clock] { ticks.append(clock.elapsed()); });
    ticker.start();
    if (trigger == u"button")
        QTest::mouseClick(frame.findChild<QPushButton *>(u"ButtonProgramUninstall"_s), Qt::LeftButton);
    else
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete,
                        trigger == u"Shift+Del" ? Qt::ShiftModifier : Qt::NoModifier);
    ticker.stop();

    // Right after the rebuild: had the wait ended with the first process, the
    // relaunched NSIS copy would still be at work, its files and key still there.
    QCOMPARE(runner.commandLines, QStringList{command});
    QCOMPARE(host.confirmations.size(), trigger == u"Shift+Del" ? 1 : 0);
    QCOMPARE(host.messages, QStringList());
    QVERIFY2(!QFileInfo::exists(hostFolder), qPrintable(QDir(hostFolder).entryList(QDir::Files).join(u' ')));
    const std::unique_ptr<Target> reread = Target::open(m_prefix);
    for (const QString &key : keys)
        QVERIFY2(!reread->registry()->keyExists(key), qPrintable(key));

    QVERIFY(runner.endedAt >= runner.startedAt && runner.startedAt >= 0);
    qint64 previous = runner.startedAt;
    qint64 largestGap = 0;
    for (const qint64 tick : std::as_const(ticks)) {
        if (tick > runner.startedAt && tick <= runner.endedAt) {
            largestGap = qMax(largestGap, tick - previous);
            previous = tick;
        }
    }
    largestGap = qMax(largestGap, runner.endedAt - previous);
    qInfo("%s: waited %lld ms; largest event-loop gap %lld ms", qPrintable(title),
          runner.endedAt - runner.startedAt, largestGap);
    // The runner waits at most 100 ms per call; 150 leaves room for a busy
    // machine but not for two waits in one call.
    QVERIFY2(largestGap < 150, qPrintable(u"the event loop stood still for %1 ms"_s.arg(largestGap)));

    // The list shows what is on disk now, and the tree has the keys again.
    QVERIFY2(!findNode(tree, title), qPrintable(treeTexts(tree).join(u'\n')));
    QTRY_VERIFY(tree->hasFocus());
}

void TestEndToEndUninstall::orphanedEntry_data()
{
    QTest::addColumn<bool>("serverRunning");
    // In this order: the first row's import brings the entry back for the second.
    QTest::newRow("removed, its backup imports back") << false;
    QTest::newRow("refused while a wineserver runs") << true;
}

void TestEndToEndUninstall::orphanedEntry()
{
    QFETCH(bool, serverRunning);
    QElapsedTimer clock;
    clock.start();
    const QString systemReg = m_prefix + u"/system.reg"_s;
    if (!WineRegistryFile::open(systemReg)->keyExists(OrphanKey)) {
        // Through Wine itself, and naming a program that was never there.
        const QList<QStringList> values = {
            {u"DisplayName"_s, u"REG_SZ"_s, OrphanTitle},
            {u"UninstallString"_s, u"REG_SZ"_s, u"C:\\KelvaneOrphan\\uninst.exe /x"_s},
            {u"EstimatedSize"_s, u"REG_DWORD"_s, u"2048"_s},
            {u"InstallLocation"_s, u"REG_EXPAND_SZ"_s, u"%ProgramFiles%\\KelvaneOrphan"_s},
            {u"Parts"_s, u"REG_MULTI_SZ"_s, u"one\\0two"_s},
        };
        for (const QStringList &value : values)
            QCOMPARE(runTool(m_env, u"wine"_s,
                             {u"reg"_s, u"add"_s, u"HKLM\\"_s + OrphanKey, u"/v"_s, value[0], u"/t"_s, value[1],
                              u"/d"_s, value[2], u"/f"_s}),
                     QString());
        QCOMPARE(runTool(m_env, u"wineserver"_s, {u"-w"_s}), QString());
    }
    const QStringList before = valueLines(*WineRegistryFile::open(systemReg), OrphanKey);
    QCOMPARE(before.size(), 5);
    if (serverRunning) {
        QCOMPARE(startLingeringWineServer(m_env, m_prefix), QString());
    }
    const QByteArray registryBytes = fileBytes(systemReg);
    const QString backups = RegistryBackup::defaultFolder();
    const QStringList backupsBefore = QDir(backups).entryList(QDir::Files);
    const qint64 setUp = clock.restart();

    FakeFrameHost host(m_prefix);
    host.confirmationAnswers = {true};
    TkvFrameProgram frame(host);
    QVERIFY(showWithFocusOn(host, frame, OrphanTitle));
    QTreeWidget *tree = frame.tree();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
    const qint64 removal = clock.restart();

    const LangTable &strings = host.lang().Strings;
    QCOMPARE(host.confirmations, QStringList{strings.value(u"ConfirmExecuteRemoveEntry"_s)
                                                 .replace(u"%ERROR%"_s, strings.value(u"ErrorFileNotFound"_s))});
    QStringList added = QDir(backups).entryList(QDir::Files);
    for (const QString &name : backupsBefore)
        added.removeOne(name);
    if (serverRunning) {
        const QString inUse = strings.value(u"ErrorRegistryInUse"_s);
        QVERIFY(inUse.contains(u"%PATH%"_s));
        QCOMPARE(host.messages, QStringList{QString(inUse).replace(u"%PATH%"_s, m_prefix)});
        QVERIFY2(findNode(tree, OrphanTitle), qPrintable(treeTexts(tree).join(u'\n')));
        QVERIFY(fileBytes(systemReg) == registryBytes);
        QCOMPARE(added, QStringList());
        QCOMPARE(runTool(m_env, u"wineserver"_s, {u"-k"_s}), QString());
        QCOMPARE(runTool(m_env, u"wineserver"_s, {u"-w"_s}), QString());
        qInfo("set up %lld ms, Del %lld ms, server stopped %lld ms", setUp, removal, clock.elapsed());
        return;
    }
    QCOMPARE(host.messages, QStringList());
    QVERIFY2(!findNode(tree, OrphanTitle), qPrintable(treeTexts(tree).join(u'\n')));
    QVERIFY(!WineRegistryFile::open(systemReg)->keyExists(OrphanKey));
    QCOMPARE(added.size(), 1);

    const QString imported = runTool(m_env, u"wine"_s, {u"regedit"_s, u"/s"_s, added.first()}, backups);
    QFile::remove(backups + u'/' + added.first()); // the test data folder outlives the run
    QCOMPARE(imported, QString());
    QCOMPARE(runTool(m_env, u"wineserver"_s, {u"-w"_s}), QString());
    QCOMPARE(valueLines(*WineRegistryFile::open(systemReg), OrphanKey), before);
    qInfo("set up %lld ms, Del %lld ms, import %lld ms", setUp, removal, clock.elapsed());
}

void TestEndToEndUninstall::editedEntry_data()
{
    QTest::addColumn<QString>("edit"); // "rename", or "commands": the normal one replaced, the quiet one emptied
    QTest::addColumn<QString>("text"); // the new name, or the new normal command
    QTest::addColumn<bool>("serverRunning");
    // In this order, on one entry: the later rows find it renamed.
    QTest::newRow("renamed beyond Latin-1") << u"rename"_s << SketchRenamed << false;
    QTest::newRow("commands") << u"commands"_s << u"C:\\KelvaneSketch\\remove.exe /all"_s << false;
    QTest::newRow("rename refused while a wineserver runs") << u"rename"_s << SketchTitle << true;
}

void TestEndToEndUninstall::editedEntry()
{
    QFETCH(QString, edit);
    QFETCH(QString, text);
    QFETCH(bool, serverRunning);
    QElapsedTimer clock;
    clock.start();
    const QString systemReg = m_prefix + u"/system.reg"_s;
    const std::optional<RegistryValue> name = WineRegistryFile::open(systemReg)->value(SketchKey, u"DisplayName"_s);
    QVERIFY(name);
    const QString title = name->text();
    // The next row writes the prefix: whatever this one ends with, no server
    // may be left serving it.
    const auto stopServer = qScopeGuard([this] {
        runTool(m_env, u"wineserver"_s, {u"-k"_s});
        runTool(m_env, u"wineserver"_s, {u"-w"_s});
    });
    if (serverRunning) {
        QCOMPARE(startLingeringWineServer(m_env, m_prefix), QString());
    }
    const QByteArray registryBytes = fileBytes(systemReg);
    const QString backups = RegistryBackup::defaultFolder();
    const QStringList backupsBefore = QDir(backups).entryList(QDir::Files);

    FakeFrameHost host(m_prefix);
    host.settings().AllowEdition = true;
    host.confirmationAnswers = {true};
    TkvFrameProgram frame(host);
    QVERIFY(showWithFocusOn(host, frame, title));
    QTreeWidget *tree = frame.tree();
    const qint64 setUp = clock.restart();
    if (edit == u"rename") {
        const auto labelEditor = [tree] {
            auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
            return editor && tree->isAncestorOf(editor) ? editor : nullptr;
        };
        typeKey(Qt::Key_F2);
        QVERIFY(labelEditor());
        QCOMPARE(labelEditor()->text(), title);
        typeCharacters(text); // over the name, all selected
        typeKey(Qt::Key_Return);
        QTRY_VERIFY(!labelEditor());
        QCOMPARE(host.confirmations.size(), 1);
    } else {
        frame.findChild<QAction *>(u"PopupProgramEditCommands"_s)->trigger();
        auto *normal = frame.findChild<QLineEdit *>(u"EditProgramCommandsUninstall"_s);
        auto *quiet = frame.findChild<QLineEdit *>(u"EditProgramCommandsUninstallQuiet"_s);
        QVERIFY(normal && normal->isVisible());
        QCOMPARE(quiet->text(), SketchUninstall + u" /S"_s);
        for (QLineEdit *line : {normal, quiet}) {
            line->setFocus();
            typeKey(Qt::Key_A, Qt::ControlModifier);
            typeKey(Qt::Key_Backspace);
        }
        normal->setFocus();
        typeCharacters(text);
        QTest::mouseClick(frame.findChild<QPushButton *>(u"ButtonProgramCommandsOk"_s), Qt::LeftButton);
        QVERIFY(!frame.CommandsEditing);
    }
    const qint64 edited = clock.restart();

    QStringList added = QDir(backups).entryList(QDir::Files);
    for (const QString &backup : backupsBefore)
        added.removeOne(backup);
    for (const QString &backup : std::as_const(added))
        QFile::remove(backups + u'/' + backup); // the test data folder outlives the run
    if (serverRunning) {
        const QString inUse = host.lang().Strings.value(u"ErrorRegistryInUse"_s);
        QVERIFY(inUse.contains(u"%PATH%"_s));
        QCOMPARE(host.messages, QStringList{QString(inUse).replace(u"%PATH%"_s, m_prefix)});
        QCOMPARE(tree->currentItem()->text(0), title);
        QVERIFY(fileBytes(systemReg) == registryBytes);
        QCOMPARE(added, QStringList());
        qInfo("set up %lld ms, refused rename %lld ms", setUp, edited);
        return;
    }
    QCOMPARE(host.messages, QStringList());
    QCOMPARE(added.size(), 1);
    QMap<QByteArray, QByteArray> values;
    if (edit == u"rename") {
        // Each code page has part of the name: 437 (the C locale) the é, 932
        // (Japanese) the 名前; what a code page lacks comes as '?' or its
        // nearest letter.
        for (const auto &[locale, printed] : {std::pair{u"C"_s, QByteArray("Nouveau nom \x82 ??")},
                                              {u"ja_JP.UTF-8"_s, QByteArray("Nouveau nom e \x96\xbc\x91\x4f")}}) {
            QCOMPARE(queryValues(m_env, SketchKey, locale, values), QString());
            QCOMPARE(values.value("DisplayName"), printed);
        }
        QCOMPARE(tree->currentItem()->text(0), text);
    } else {
        QCOMPARE(queryValues(m_env, SketchKey, u"C"_s, values), QString());
        QCOMPARE(values.value("UninstallString"), text.toLatin1());
        QVERIFY(values.contains("QuietUninstallString"));
        QCOMPARE(values.value("QuietUninstallString"), QByteArray());
    }
    qInfo("set up %lld ms, %s %lld ms, reg query %lld ms", setUp, qPrintable(edit), edited, clock.elapsed());
}

QTEST_MAIN(TestEndToEndUninstall)
#include "test_endtoend_uninstall.moc"
