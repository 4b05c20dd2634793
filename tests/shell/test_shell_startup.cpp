// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/RegistryValue.h"
#include "shell/kvInstance.h"
#include "shell/kvStartup.h"
#include "shell/kvTargetChooser.h"
#include "shell/kvUnitMain.h"
#include "shell/kvUnitMessage.h"
#include "target/Target.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLocalSocket>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "EmptyHive.h"

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

// Every file below a folder, relative to it.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    return files;
}

// What the box before the main window showed.
struct Box
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::Question;
    int buttons = 0;
    bool mainWindowExisted = false;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_realHome = qgetenv("HOME");
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        QVERIFY(QDir(m_home->path()).mkpath(u"run"_s));
        QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // The start-up's own per-user folders all point into the temporary home.
        qputenv("XDG_RUNTIME_DIR", runtimeDir().toUtf8());
        qputenv("appdata", (m_home->path() + u"/appdata"_s).toUtf8());
    }
    void cleanup()
    {
        for (QProcess *process : std::as_const(m_processes)) {
            process->kill();
            process->waitForFinished(10000);
        }
        qDeleteAll(m_processes);
        m_processes.clear();
        qunsetenv("XDG_RUNTIME_DIR");
        qunsetenv("appdata");
        qputenv("HOME", m_realHome);
    }

    void unsupportedSystemRefused_data()
    {
        QTest::addColumn<QString>("registry");
        QTest::addColumn<QString>("name");
        QTest::newRow("Windows 98") << u"win98"_s << u"Microsoft Windows 98"_s;
        QTest::newRow("no version at all") << u"noversion"_s << u"Unknwon Win32 OS"_s;
    }
    void unsupportedSystemRefused()
    {
        QFETCH(QString, registry);
        QFETCH(QString, name);
        Box box;
        const int status = RunKelvane(options(QStringLiteral(KELVANE_TEST_DATA "/shell/") + registry
                                                  + u"/system.reg"_s,
                                              &box));
        QCOMPARE(status, 0);
        QCOMPARE(box.title, u"Kelvane"_s);
        QCOMPARE(box.text, u"Kelvane has detected that your operating system is not supported.\n\r"
                           "Operating system: "_s + name);
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.buttons, 1);
        QVERIFY(!box.mainWindowExisted);
        // No settings, and the instance check never ran: nothing was written.
        QCOMPARE(filesBelow(m_home->path()), QStringList());
    }

    void badRegistryNamed()
    {
        Box box;
        const QString missing = m_home->path() + u"/nowhere/system.reg"_s;
        QCOMPARE(RunKelvane(options(missing, &box)), ExitCannotStart);
        QVERIFY2(box.text.contains(missing), qPrintable(box.text));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY(!box.mainWindowExisted);
        QCOMPARE(filesBelow(m_home->path()), QStringList());
    }

#ifdef KELVANE_EXE
    void secondStartHandsOver()
    {
        QProcess *first = start();
        QTRY_VERIFY_WITH_TIMEOUT(listening(), 20000);

        QProcess *second = start();
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);

        // The first ends without cleaning up: the next start takes its place.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QProcess *third = start();
        QTRY_VERIFY_WITH_TIMEOUT(third->state() == QProcess::Running && listening(), 20000);
        QCOMPARE(third->state(), QProcess::Running);
    }

    // The start-up benchmark's hook: the time of the first painted list, then
    // the end. Windows 7 and later start as XP does, partly supported.
    void firstListTimeReported_data()
    {
        QTest::addColumn<QString>("registry"); // a fixture, or "hive" for a Windows 10 disk's
        QTest::newRow("XP") << u"xp"_s;
        QTest::newRow("Windows 7") << u"win7"_s;
        QTest::newRow("Windows 10 hive") << u"hive"_s;
    }
    void firstListTimeReported()
    {
        QFETCH(QString, registry);
        QProcessEnvironment timing;
        timing.insert(u"KELVANE_EXIT_AT_FIRST_LIST"_s, u"1"_s);
        if (registry == u"hive"_s) {
            const QString hive = m_home->filePath(u"SOFTWARE"_s);
            kelvane::test::HiveBuilder builder(hive);
            builder.add(u"Microsoft\\Windows NT\\CurrentVersion"_s,
                        {RegistryValue::fromText(u"CurrentVersion"_s, u"6.3"_s),
                         RegistryValue::fromDword(u"CurrentMajorVersionNumber"_s, 10),
                         RegistryValue::fromDword(u"CurrentMinorVersionNumber"_s, 0),
                         RegistryValue::fromText(u"ProductName"_s, u"Windows 10 Pro"_s),
                         RegistryValue::fromText(u"CurrentBuildNumber"_s, u"19045"_s)});
            builder.add(u"Microsoft\\Windows\\CurrentVersion\\Uninstall\\alpha"_s,
                        {RegistryValue::fromText(u"DisplayName"_s, u"Alpha Viewer"_s),
                         RegistryValue::fromText(u"UninstallString"_s, u"C:\\Alpha\\uninst.exe"_s)});
            builder.commit();
            timing.insert(u"KELVANE_REGISTRY"_s, hive);
        } else {
            timing.insert(u"KELVANE_REGISTRY"_s,
                          QStringLiteral(KELVANE_TEST_DATA "/shell/") + registry + u"/system.reg"_s);
        }
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        QProcess *process = start(timing);
        QVERIFY(process->waitForFinished(20000));
        QCOMPARE(process->exitCode(), 0);
        const QStringList out = QString::fromUtf8(process->readAllStandardOutput()).trimmed().split(u'\n');
        QCOMPARE(out.size(), 3);
        QVERIFY2(out[0].startsWith(u"first_list_paint_ns="_s), qPrintable(out[0]));
        const qint64 paintedMs = out[0].mid(int(qstrlen("first_list_paint_ns="))).toLongLong() / 1000000;
        QVERIFY2(paintedMs >= before && paintedMs <= QDateTime::currentMSecsSinceEpoch(), qPrintable(out[0]));
        QCOMPARE(out[1], u"first_list_caption=Installed applications"_s);
        // The application icon, at every size drawn.
        QCOMPARE(out[2], u"window_icon_sizes=16,32,48,64,128,256"_s);
    }

    void secondStartAsksToShow()
    {
        // This test process plays the running instance.
        TkvInstance running(u"Kelvane"_s);
        QVERIFY(!running.handOverToRunning());
        QSignalSpy shown(&running, &TkvInstance::showRequested);
        QProcess *second = start();
        QVERIFY(shown.wait(20000));
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(shown.count(), 1);
        // With the registry it was named, for the running window to offer.
        QCOMPARE(shown.at(0).at(0).toString(), QStringLiteral(KELVANE_TEST_DATA "/shell/xp/system.reg"));
        QCOMPARE(QFile::permissions(TkvInstance::serverName(u"Kelvane"_s))
                     & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
                 QFile::Permissions());
    }
#endif

    // The status bar's list of the prefixes found in the home: a choice
    // opens a new window on it and is kept for the next start; a prefix
    // that cannot be read is refused in words, and the window stays.
    void targetChosenInTheWindow()
    {
        const QString home = m_home->path();
        qputenv("HOME", QFile::encodeName(home));
        const QString prefixes = home + u"/.PlayOnLinux/wineprefix/"_s;
        for (const QString &name : {u"xp"_s, u"win7"_s, u"broken"_s}) {
            QVERIFY(QDir().mkpath(prefixes + name));
            if (name != u"broken"_s)
                QVERIFY(QFile::copy(QStringLiteral(KELVANE_TEST_DATA "/shell/") + name + u"/system.reg"_s,
                                    prefixes + name + u"/system.reg"_s));
        }
        QFile broken(prefixes + u"broken/system.reg"_s);
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a registry\n") > 0);
        broken.close();
        const QString chosen = QFileInfo(prefixes + u"xp"_s).canonicalFilePath();

        QStringList targets; // of each window, in turn
        QStringList said;
        TkvStartupOptions start = options(QString(), nullptr);
        start.sampleSource = QStringLiteral(KELVANE_TEST_DATA "/../../data/sample"); // the first window's
        start.windowHook = [&](TkvFormMain &window) {
            targets.append(window.target().description());
            window.findChild<TkvFormMessage *>()->setTestHook([&said](QDialog &dialog) {
                QStringList texts;
                for (const QLabel *label : dialog.findChildren<QLabel *>())
                    texts.append(label->text());
                said.append(texts.join(u' ').remove(QChar(0x200B))); // the path's break chances out
                dialog.accept();
            });
            const QString pick = targets.size() == 1 ? chosen : QFileInfo(prefixes + u"broken"_s).canonicalFilePath();
            window.setDialogHook([pick](QDialog &dialog) {
                auto *list = qobject_cast<TkvFormTargets *>(&dialog);
                QVERIFY(list);
                QCOMPARE(list->TreeTargets->topLevelItemCount(), 3);
                for (int i = 0; i < list->TreeTargets->topLevelItemCount(); ++i)
                    if (list->TreeTargets->topLevelItem(i)->text(2) == pick)
                        list->TreeTargets->setCurrentItem(list->TreeTargets->topLevelItem(i));
                QTest::keyClick(list->ButtonTargetsOpen, Qt::Key_Space);
            });
            const bool last = targets.size() == 2;
            QTimer::singleShot(0, &window, [&window, last] {
                QTest::mouseClick(window.findChild<QPushButton *>(u"ButtonStatusTarget"_s), Qt::LeftButton);
                if (last)
                    window.close();
            });
        };
        QCOMPARE(RunKelvane(start), ExitDone);
        QCOMPARE(targets.size(), 2);
        QCOMPARE(targets[1], chosen);
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].contains(prefixes + u"broken"_s) && said[0].contains(u"not a Wine registry file"_s),
                 qPrintable(said[0]));

        // The next start opens the chosen one.
        targets.clear();
        start.windowHook = [&targets](TkvFormMain &window) {
            targets.append(window.target().description());
            QTimer::singleShot(0, &window, &QWidget::close);
        };
        QCOMPARE(RunKelvane(start), ExitDone);
        QCOMPARE(targets, QStringList{chosen});
    }

private:
    QString runtimeDir() const { return m_home->path() + u"/run"_s; }

    TkvStartupOptions options(const QString &registry, Box *box)
    {
        TkvStartupOptions result;
        QProcessEnvironment environment;
        if (!registry.isEmpty())
            environment.insert(u"KELVANE_REGISTRY"_s, registry);
        environment.insert(u"HOME"_s, m_home->path());
        result.environment = environment;
        result.programFrame = result.settingsFrame = [](TkvFrameHost &, QWidget *parent) -> QWidget * {
            return new QFrame(parent);
        };
        result.messageBoxHook = [box](QDialog &dialog) {
            auto &message = static_cast<QMessageBox &>(dialog);
            if (!box)
                QFAIL(qPrintable(u"unexpected box: "_s + message.text()));
            box->title = message.windowTitle();
            box->text = message.text();
            box->icon = message.icon();
            box->buttons = int(message.buttons().size());
            for (QWidget *window : QApplication::topLevelWidgets())
                box->mainWindowExisted |= qobject_cast<TkvFormMain *>(window) != nullptr;
            message.button(QMessageBox::Ok)->click();
        };
        return result;
    }

    // A real kelvane on the XP fixture, with every per-user folder in the temporary home.
    QProcess *start(const QProcessEnvironment &extra = {})
    {
        auto *process = new QProcess;
        m_processes.append(process);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, m_home->path());
        environment.insert(u"XDG_RUNTIME_DIR"_s, runtimeDir());
        environment.insert(u"XDG_CONFIG_HOME"_s, m_home->path() + u"/config"_s);
        environment.insert(u"XDG_DATA_HOME"_s, m_home->path() + u"/data"_s);
        environment.insert(u"KELVANE_REGISTRY"_s, QStringLiteral(KELVANE_TEST_DATA "/shell/xp/system.reg"));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        environment.remove(u"appdata"_s);
        environment.remove(u"WINEPREFIX"_s);
        environment.insert(extra);
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(KELVANE_EXE), {});
        return process;
    }

    // Something answers on the instance socket (a probe that asks nothing).
    bool listening() const
    {
        QLocalSocket probe;
        probe.connectToServer(TkvInstance::serverName(u"Kelvane"_s));
        return probe.waitForConnected(1000);
    }

    std::unique_ptr<QTemporaryDir> m_home;
    QByteArray m_realHome;
    QList<QProcess *> m_processes;
};

QTEST_MAIN(TestStartup)
#include "test_shell_startup.moc"
