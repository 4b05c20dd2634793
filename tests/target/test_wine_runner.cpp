// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kvCommon.h"
#include "target/CommandRunner.h"
#include "target/Target.h"

#include "RequiredTool.h"
#include "WineTools.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

// Runs real commands in a fresh Wine prefix.
class TestWineRunner : public QObject
{
    Q_OBJECT

    QTemporaryDir m_prefix;
    std::unique_ptr<Target> m_target;

    bool run(const QString &program, const QStringList &arguments)
    {
        QProcess p;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"WINEPREFIX"_s, m_prefix.path());
        p.setProcessEnvironment(environment);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program, arguments);
        return p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit;
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(u"wine"_s).isEmpty())
            KELVANE_SKIP_WITHOUT_TOOL("wine is not installed");
        QVERIFY(m_prefix.isValid());
        qputenv("WINEDEBUG", "-all");
        qputenv("WINEDLLOVERRIDES", "mscoree,mshtml=");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"WINEPREFIX"_s, m_prefix.path());
        QCOMPARE(kelvane::test::makeTestPrefix(environment), QString());
        m_target = Target::open(m_prefix.path());
        QCOMPARE(m_target->kind(), Target::Kind::WinePrefix);
    }

    void runsAndWaitsForTheProgram()
    {
        int events = 0;
        QList<bool> enabled;
        const RunContext context{&m_target->runner(), [&] { ++events; }, [&](bool on) { enabled.append(on); }, {}};
        // A bare name from system32, and an argument with a blank that must arrive as one word.
        QCOMPARE(RunCommand(u"cmd /c echo done> \"C:\\a marker.txt\""_s, true, context), 0u);
        QCOMPARE(enabled, (QList<bool>{false, true}));
        QVERIFY(events >= 2);
        // The wait outlasted the wineserver, so the file is there now.
        QFile marker(m_prefix.filePath(u"drive_c/a marker.txt"_s));
        QVERIFY(marker.open(QIODevice::ReadOnly));
        QCOMPARE(marker.readAll().trimmed(), QByteArray("done"));
    }

    // Another Windows program keeps the prefix's wineserver up: once the
    // command has ended, the wait says so at each poll and stops when told.
    void otherProgramsKeepTheWaitUntilItIsStopped()
    {
        QVERIFY(run(u"wineserver"_s, {u"-p"_s, u"60"_s}));
        int asked = 0;
        RunContext context{&m_target->runner(), {}, {}, {}};
        context.keepWaitingForOthers = [&asked] { return ++asked < 3; };
        context.othersGrace = 0;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(RunCommand(u"cmd /c exit 0"_s, true, context), 0u);
        const qint64 waited = clock.elapsed();
        QVERIFY(run(u"wineserver"_s, {u"-k"_s}));
        QCOMPARE(asked, 3);
        QVERIFY2(waited < 30000, qPrintable(QString::number(waited)));
    }

    void missingProgramsAreReportedWithoutWine()
    {
        QStringList shown;
        const RunContext context{&m_target->runner(), {}, {}, {}};
        QVERIFY(!ExecuteCommand(u"C:\\Program Files\\Gone\\uninst.exe /S"_s,
                                [](const QString &key) { return key; }, true, context,
                                [&](const QString &text) { shown.append(text); }));
        QCOMPARE(shown, QStringList{u"ErrorFileNotFound"_s});
    }
};

QTEST_GUILESS_MAIN(TestWineRunner)
#include "test_wine_runner.moc"
