// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kvCommon.h"
#include "language/kvLanguage.h"
#include "target/CommandRunner.h"
#include "target/Target.h"
#include "target/WindowsCommandLine.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "EmptyHive.h"
#include "FileModes.h"

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

void writeFile(const QString &path, const QByteArray &bytes = "MZ")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Starts real host processes, as a stand-in for a target's runner.
class HostProcessRunner : public CommandRunner
{
public:
    class Started : public StartedCommand
    {
    public:
        Started(std::unique_ptr<QProcess> process, int &waits)
            : m_process(std::move(process))
            , m_waits(waits)
        {
        }
        bool waitFor(int milliseconds) override
        {
            ++m_waits;
            return m_process->state() == QProcess::NotRunning || m_process->waitForFinished(milliseconds);
        }

    private:
        std::unique_ptr<QProcess> m_process;
        int &m_waits;
    };

    quint32 start(const QString &commandLine, std::unique_ptr<StartedCommand> &started) override
    {
        QStringList words = commandLine.split(u' ');
        auto process = std::make_unique<QProcess>();
        process->start(words.takeFirst(), words);
        if (!process->waitForStarted())
            return StartCode::FileNotFound;
        started = std::make_unique<Started>(std::move(process), waits);
        ++starts;
        return StartCode::Success;
    }
    QString hostFolder(const QString &) const override { return {}; }

    // Counted here: RunCommand destroys what it started before it returns.
    int starts = 0;
    int waits = 0;
};

// Answers a fixed code, or throws.
class FixedRunner : public CommandRunner
{
public:
    explicit FixedRunner(quint32 code, bool throws = false)
        : m_code(code)
        , m_throws(throws)
    {
    }
    quint32 start(const QString &, std::unique_ptr<StartedCommand> &) override
    {
        if (m_throws)
            throw std::runtime_error("runner broke");
        return m_code;
    }
    QString hostFolder(const QString &) const override { return {}; }

private:
    quint32 m_code;
    bool m_throws;
};

// The built-in English catalogue.
TextLookup english()
{
    auto lang = std::make_shared<TLang>(QString());
    lang->LoadDefaults();
    return [lang](const QString &key) { return lang->Strings.value(key); };
}

} // namespace

class TestRunner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    std::unique_ptr<Target> m_target;
    QString m_driveC;

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        const QString prefix = m_root.filePath(u"prefix"_s);
        QVERIFY(QDir().mkpath(prefix));
        QVERIFY(QFile::copy(QStringLiteral(KELVANE_TEST_DATA "/common/system.reg"), prefix + u"/system.reg"_s));
        m_driveC = prefix + u"/drive_c"_s;
        writeFile(m_driveC + u"/windows/system32/msiexec.exe"_s);
        writeFile(m_driveC + u"/windows/notepad.exe"_s);
        writeFile(m_driveC + u"/Program.exe"_s);
        writeFile(m_driveC + u"/Program Files/App/uninst.exe"_s);
        writeFile(m_driveC + u"/Program Files/App Dir/un install.exe"_s);
        writeFile(m_driveC + u"/Program Files/App/setup.dat"_s);
        QVERIFY(QDir().mkpath(m_driveC + u"/Program Files/Folder.exe"_s));
        QVERIFY(QDir().mkpath(m_driveC + u"/Tools/Folder.exe"_s));
        writeFile(m_driveC + u"/Tools/tool.exe"_s);
        writeFile(m_driveC + u"/relative/folder/hidden.exe"_s);
        m_target = Target::open(prefix);
    }

    void resolve_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("windowsProgram");
        QTest::addColumn<QString>("hostRelative"); // below drive_c
        QTest::addColumn<QString>("arguments");

        const QString uninst = u"C:\\Program Files\\App\\uninst.exe"_s;
        QTest::newRow("quoted") << u"\"C:\\Program Files\\App\\uninst.exe\" /S"_s << 0u << uninst
                                << u"Program Files/App/uninst.exe"_s << u"/S"_s;
        QTest::newRow("quoted, unclosed") << u"\"C:\\Program Files\\App\\uninst.exe"_s << 0u << uninst
                                          << u"Program Files/App/uninst.exe"_s << QString();
        QTest::newRow("unquoted: longest prefix beats C:\\Program.exe")
            << u"C:\\Program Files\\App\\uninst.exe /S /D=x"_s << 0u << uninst << u"Program Files/App/uninst.exe"_s
            << u"/S /D=x"_s;
        QTest::newRow("leading blanks") << u"  \tC:\\Program Files\\App\\uninst.exe"_s << 0u << uninst
                                        << u"Program Files/App/uninst.exe"_s << QString();
        QTest::newRow("names ignore case") << u"c:\\PROGRAM files\\app\\UNINST.EXE"_s << 0u
                                           << u"c:\\PROGRAM files\\app\\UNINST.EXE"_s
                                           << u"Program Files/App/uninst.exe"_s << QString();
        QTest::newRow(".exe appended") << u"C:\\Program Files\\App\\uninst /S"_s << 0u << uninst
                                       << u"Program Files/App/uninst.exe"_s << u"/S"_s;
        QTest::newRow("other extension kept") << u"C:\\Program Files\\App\\setup.dat x"_s << 0u
                                              << u"C:\\Program Files\\App\\setup.dat"_s
                                              << u"Program Files/App/setup.dat"_s << u"x"_s;
        QTest::newRow("blanks inside the name") << u"C:\\Program Files\\App Dir\\un install.exe  --all"_s << 0u
                                                << u"C:\\Program Files\\App Dir\\un install.exe"_s
                                                << u"Program Files/App Dir/un install.exe"_s << u"--all"_s;
        QTest::newRow("forward slashes") << u"C:/Program Files/App/uninst.exe"_s << 0u
                                         << u"C:/Program Files/App/uninst.exe"_s
                                         << u"Program Files/App/uninst.exe"_s << QString();
        QTest::newRow("rooted on C:") << u"\\Program Files\\App\\uninst.exe"_s << 0u << uninst
                                      << u"Program Files/App/uninst.exe"_s << QString();
        QTest::newRow("bare name in system32") << u"MsiExec /uninstall {A} /qb"_s << 0u
                                               << u"C:\\windows\\system32\\MsiExec.exe"_s
                                               << u"windows/system32/msiexec.exe"_s << u"/uninstall {A} /qb"_s;
        QTest::newRow("bare name in the Windows folder") << u"notepad.exe x.txt"_s << 0u
                                                         << u"C:\\windows\\notepad.exe"_s
                                                         << u"windows/notepad.exe"_s << u"x.txt"_s;
        QTest::newRow("bare name in Path") << u"tool"_s << 0u << u"C:\\Tools\\tool.exe"_s << u"Tools/tool.exe"_s
                                           << QString();
        QTest::newRow("relative Path entries are not searched") << u"hidden.exe"_s << 2u << QString() << QString()
                                                               << QString();
        QTest::newRow("missing file") << u"C:\\Tools\\gone.exe /S"_s << 2u << QString() << QString() << QString();
        QTest::newRow("missing file: a shorter prefix runs, as on Windows")
            << u"C:\\Program Files\\App\\gone.exe /S"_s << 0u << u"C:\\Program.exe"_s << u"Program.exe"_s
            << u"Files\\App\\gone.exe /S"_s;
        QTest::newRow("missing bare name") << u"nosuch.exe"_s << 2u << QString() << QString() << QString();
        QTest::newRow("missing folder") << u"C:\\Gone\\x.exe"_s << 3u << QString() << QString() << QString();
        QTest::newRow("missing folder, quoted") << u"\"C:\\Program Files\\Gone\\x.exe\""_s << 3u << QString()
                                                << QString() << QString();
        QTest::newRow("unmapped drive") << u"Q:\\x.exe"_s << StartCode::CannotCheck << QString() << QString() << QString();
        QTest::newRow("network path") << u"\\\\server\\share\\x.exe"_s << StartCode::CannotCheck << QString() << QString() << QString();
        QTest::newRow("relative folder") << u"App\\uninst.exe"_s << 3u << QString() << QString() << QString();
        QTest::newRow("a folder") << u"\"C:\\Program Files\\Folder.exe\""_s << 5u << QString() << QString()
                                  << QString();
        QTest::newRow("a folder among missing names") << u"C:\\Tools\\Folder.exe /x"_s << 5u << QString()
                                                      << QString() << QString();
        QTest::newRow("empty") << QString() << StartCode::InvalidCommandLine << QString() << QString() << QString();
        QTest::newRow("blanks") << u" \t "_s << StartCode::InvalidCommandLine << QString() << QString() << QString();
        QTest::newRow("empty quotes") << u"\"\" x"_s << StartCode::InvalidCommandLine << QString() << QString()
                                      << QString();
        QTest::newRow("too long") << u"C:\\Program Files\\App\\uninst.exe "_s + QString(40000, u'a')
                                  << StartCode::InvalidCommandLine << QString() << QString() << QString();
        QTest::newRow("first word longer than a path") << u"C:\\"_s + QString(300, u'a') << 2u << QString()
                                                       << QString() << QString();
    }

    void resolve()
    {
        QFETCH(QString, commandLine);
        QFETCH(quint32, code);
        QFETCH(QString, windowsProgram);
        QFETCH(QString, hostRelative);
        QFETCH(QString, arguments);
        const ResolvedCommand resolved = ResolveCommandLine(commandLine, *m_target);
        QCOMPARE(resolved.code, code);
        QCOMPARE(resolved.windowsProgram, windowsProgram);
        QCOMPARE(resolved.hostProgram,
                 hostRelative.isEmpty() ? QString() : QDir(m_driveC).canonicalPath() + u'/' + hostRelative);
        QCOMPARE(resolved.arguments, arguments);
    }

    void unreadableProgramIsAccessDenied()
    {
        const QString path = m_driveC + u"/Program Files/Locked/locked.exe"_s;
        writeFile(path);
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        // In a child that holds no right to read every file, also when the
        // tests run as root.
        const QByteArray code = test::answerWithoutRootOverride(
            [&]() -> QByteArray {
                // Quoted, as unquoted the fixture's C:\Program.exe is the program.
                return QByteArray::number(
                    ResolveCommandLine(u"\"C:\\Program Files\\Locked\\locked.exe\""_s, *m_target).code);
            },
            20);
        QCOMPARE(code, QByteArray::number(StartCode::AccessDenied));
    }

    void splitArguments_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("blanks") << u"  a \t b  "_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("quotes group") << u"/D=\"C:\\Program Files\\x\" /S"_s
                                      << QStringList{u"/D=C:\\Program Files\\x"_s, u"/S"_s};
        QTest::newRow("empty quotes are a word") << u"\"\" a"_s << QStringList{QString(), u"a"_s};
        QTest::newRow("backslashes alone are literal") << u"C:\\a\\\\b"_s << QStringList{u"C:\\a\\\\b"_s};
        QTest::newRow("2n backslashes before a quote") << u"a\\\\\"b c\""_s << QStringList{u"a\\b c"_s};
        QTest::newRow("2n+1 backslashes before a quote") << u"a\\\"b c"_s << QStringList{u"a\"b"_s, u"c"_s};
        QTest::newRow("doubled quote inside quotes") << u"\"a\"\"b\" c"_s << QStringList{u"a\"b"_s, u"c"_s};
        QTest::newRow("unclosed quote") << u"\"a b"_s << QStringList{u"a b"_s};
    }

    void splitArguments()
    {
        QFETCH(QString, arguments);
        QTEST(SplitArguments(arguments), "words");
    }

    void waitPollsAndDisablesTheMainWindow()
    {
        HostProcessRunner runner;
        int events = 0;
        QList<bool> enabled;
        RunContext context{&runner, [&] { ++events; }, [&](bool on) { enabled.append(on); }, {}};
        QCOMPARE(RunCommand(u"/bin/sleep 0.35"_s, true, context), 0u);
        QCOMPARE(runner.starts, 1);
        QVERIFY2(runner.waits >= 3, qPrintable(QString::number(runner.waits)));
        QCOMPARE(events, runner.waits); // events before every poll
        QCOMPARE(enabled, (QList<bool>{false, true}));
    }

    void noWaitTouchesNoHook()
    {
        HostProcessRunner runner;
        int calls = 0;
        RunContext context{&runner, [&] { ++calls; }, [&](bool) { ++calls; }, {}};
        QCOMPARE(RunCommand(u"/bin/true"_s, false, context), 0u);
        QCOMPARE(runner.starts, 1);
        QCOMPARE(runner.waits, 0);
        QCOMPARE(calls, 0);
    }

    void failedStartTouchesNoHook()
    {
        HostProcessRunner runner;
        int calls = 0;
        RunContext context{&runner, [&] { ++calls; }, [&](bool) { ++calls; }, {}};
        QCOMPARE(RunCommand(u"/nonexistent/program"_s, true, context), 2u);
        QCOMPARE(calls, 0);
    }

    // Ended, but others keep the wait going: asked at each poll until told to stop.
    void waitForOthersStopsWhenAsked()
    {
        struct Lingering : StartedCommand
        {
            int polls = 0;
            bool waitFor(int) override { return ++polls > 100; }
            bool waitingForOthers() const override { return polls >= 2; }
        };
        struct Runner : CommandRunner
        {
            quint32 start(const QString &, std::unique_ptr<StartedCommand> &started) override
            {
                started = std::make_unique<Lingering>();
                return StartCode::Success;
            }
            QString hostFolder(const QString &) const override { return {}; }
        } runner;
        int asked = 0;
        RunContext context{&runner, {}, {}, {}};
        context.keepWaitingForOthers = [&asked] { return ++asked < 3; };
        context.othersGrace = 0;
        QCOMPARE(RunCommand(u"x"_s, true, context), StartCode::Success);
        QCOMPARE(asked, 3);
    }

    void runnerFaultsAreNeverNotFound()
    {
        FixedRunner broken(0, true);
        QCOMPARE(RunCommand(u"x"_s, true, RunContext{&broken, {}, {}, {}}), StartCode::RunnerUnavailable);
        QCOMPARE(RunCommand(u"x"_s, true, RunContext{}), StartCode::RunnerUnavailable);
    }

    void executeCommand_data()
    {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("message"); // empty: none shown
        QTest::addColumn<QString>("unknownText");
        QTest::newRow("started") << 0u << QString() << QString();
        QTest::newRow("file not found") << 2u << u"Unable to find target path or file!"_s << QString();
        QTest::newRow("path not found") << 3u << u"Unable to find target path or file!"_s << QString();
        QTest::newRow("access denied") << 5u << u"Access denied. Maybe you have insufficient rights!"_s
                                       << QString();
        QTest::newRow("other, catalogue text") << 193u << u"Cannot start."_s << u"Cannot start."_s;
        QTest::newRow("other, no catalogue text") << 193u << u"The command could not be started (error code 193)."_s
                                                  << QString();
        QTest::newRow("offline") << StartCode::OfflineTarget
                                 << u"This registry is an offline copy: Kelvane does not run its commands "
                                    "(code 0x20000001)."_s
                                 << QString();
        // A language's generic text does not hide why nothing ran.
        QTest::newRow("no wine, ErrorUnknown defined")
            << StartCode::RunnerUnavailable
            << u"The command could not be started: Wine is not available. Install Wine and try again "
               "(code 0x20000002)."_s
            << u"Cannot start."_s;
        QTest::newRow("cannot check") << StartCode::CannotCheck
                                      << u"Kelvane cannot tell whether the program or folder this command names "
                                         "exists: its drive is not available here (a registry named on its own has "
                                         "no drives). Nothing was run, and the entry is kept (code 0x20000005)."_s
                                      << QString();
    }

    void executeCommand()
    {
        QFETCH(quint32, code);
        QFETCH(QString, message);
        QFETCH(QString, unknownText);
        FixedRunner runner(code);
        const TextLookup base = english();
        const TextLookup strings = [&](const QString &key) {
            return key == u"ErrorUnknown" ? unknownText : base(key);
        };
        QStringList shown;
        const bool started = ExecuteCommand(u"x"_s, strings, false, RunContext{&runner, {}, {}, {}},
                                            [&](const QString &text) { shown.append(text); });
        QCOMPARE(started, code == 0);
        QCOMPARE(shown, message.isEmpty() ? QStringList() : QStringList{message});
    }

    // Offline targets run nothing; "not found" (which offers to remove the
    // entry) only where the drive is there to prove it.
    void offlineTargetCodes_data()
    {
        QTest::addColumn<QString>("target"); // below the test's root
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<quint32>("code");
        const QString quoted = u"\"C:\\Program Files\\App\\uninst.exe\" /S"_s;
        QTest::newRow("hive alone") << u"disk/Windows/System32/config/SOFTWARE"_s << quoted << StartCode::CannotCheck;
        QTest::newRow("hive alone, bare MsiExec") << u"disk/Windows/System32/config/SOFTWARE"_s
                                                  << u"MsiExec.exe /X{A}"_s << StartCode::CannotCheck;
        QTest::newRow("registry file away from its prefix") << u"away/system.reg"_s << quoted
                                                            << StartCode::CannotCheck;
        QTest::newRow("partition, on C:") << u"disk"_s << quoted << StartCode::OfflineTarget;
        QTest::newRow("partition, on D:") << u"disk"_s << u"D:\\Games\\uninst.exe"_s << StartCode::CannotCheck;
        QTest::newRow("partition, missing file") << u"disk"_s << u"C:\\Program Files\\App\\gone.exe"_s
                                                 << StartCode::FileNotFound;
        QTest::newRow("partition, missing folder") << u"disk"_s << u"C:\\Gone\\x.exe"_s << StartCode::PathNotFound;
    }
    void offlineTargetCodes()
    {
        QFETCH(QString, target);
        QFETCH(QString, commandLine);
        QFETCH(quint32, code);
        const QString disk = m_root.filePath(u"disk"_s);
        if (!QFileInfo::exists(disk + u"/Windows/System32/config/SOFTWARE"_s)) {
            QVERIFY(QDir().mkpath(disk + u"/Windows/System32/config"_s));
            kelvane::test::HiveBuilder(disk + u"/Windows/System32/config/SOFTWARE"_s).commit();
            writeFile(disk + u"/Program Files/App/uninst.exe"_s);
            QVERIFY(QDir().mkpath(m_root.filePath(u"away"_s)));
            QVERIFY(QFile::copy(QStringLiteral(KELVANE_TEST_DATA "/common/system.reg"),
                                m_root.filePath(u"away/system.reg"_s)));
        }
        const auto offline = Target::open(m_root.filePath(target));
        QCOMPARE(RunCommand(commandLine, true, RunContext{&offline->runner(), {}, {}, {}}), code);
    }

    void offlineRunnerNeverRuns()
    {
        // An executable script that would leave a mark if anything ran it.
        const QString marker = m_root.filePath(u"ran"_s);
        const QString script = m_driveC + u"/Program Files/App/mark.exe"_s;
        writeFile(script, "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
        QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
        // A registry file named on its own is offline, though its folder has a drive_c.
        const auto offline = Target::open(m_root.filePath(u"prefix/system.reg"_s));
        QCOMPARE(offline->kind(), Target::Kind::RegistryFile);
        const RunContext context{&offline->runner(), {}, {}, {}};
        QCOMPARE(RunCommand(u"C:\\Program Files\\App\\mark.exe"_s, true, context), StartCode::OfflineTarget);
        QCOMPARE(RunCommand(u"C:\\Tools\\gone.exe"_s, true, context), StartCode::FileNotFound);
        QCOMPARE(RunCommand(u"C:\\Gone\\gone.exe"_s, true, context), StartCode::PathNotFound);
        QVERIFY(!QFileInfo::exists(marker));
    }

    void missingWineIsNeverNotFound()
    {
        QCOMPARE(m_target->kind(), Target::Kind::WinePrefix);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", m_root.filePath(u"empty"_s).toUtf8());
        const RunContext context{&m_target->runner(), {}, {}, {}};
        const quint32 existing = RunCommand(u"C:\\Tools\\tool.exe"_s, true, context);
        const quint32 missing = RunCommand(u"C:\\Tools\\gone.exe"_s, true, context);
        qputenv("PATH", path);
        QCOMPARE(existing, StartCode::RunnerUnavailable);
        QCOMPARE(missing, StartCode::FileNotFound); // resolved before wine is looked for
    }

    void explorerOpensTheHostFolder_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("opened"); // below drive_c
        QTest::newRow("folder") << u"explorer.exe C:\\Program Files\\App"_s << 0u << u"Program Files/App"_s;
        QTest::newRow("quoted, other case") << u"EXPLORER \"c:\\program files\\app dir\\\""_s << 0u
                                            << u"Program Files/App Dir"_s;
        QTest::newRow("missing folder") << u"explorer.exe C:\\Program Files\\Gone"_s << 3u << QString();
        QTest::newRow("a file, not a folder") << u"explorer.exe C:\\Tools\\tool.exe"_s << 3u << QString();
        QTest::newRow("no folder") << u"explorer.exe"_s << 3u << QString();
        QTest::newRow("a drive not mapped") << u"explorer.exe Q:\\Games"_s << StartCode::CannotCheck << QString();
        QTest::newRow("other program") << u"explorer2.exe C:\\Program Files\\App"_s << StartCode::FileNotFound
                                       << QString();
    }

    void explorerOpensTheHostFolder()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, opened);
        QStringList folders;
        const RunContext context{&m_target->runner(), {}, {}, [&](const QString &folder) {
                                     folders.append(folder);
                                     return true;
                                 }};
        QTEST(RunCommand(commandLine, false, context), "code");
        QCOMPARE(folders, opened.isEmpty() ? QStringList()
                                           : QStringList{QDir(m_driveC).canonicalPath() + u'/' + opened});
    }

    void explorerFailingToOpen()
    {
        const RunContext context{&m_target->runner(), {}, {}, [](const QString &) { return false; }};
        QCOMPARE(RunCommand(u"explorer.exe C:\\Tools"_s, false, context), StartCode::FolderNotOpened);
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "test_runner.moc"
