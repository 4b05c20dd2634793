// SPDX-License-Identifier: GPL-3.0-or-later
// Uninstalling and modifying from the program list, with a runner that
// records what it is asked to run and answers with the codes a test chooses.

#include "ProgramFixture.h"
#include "RecordingRunner.h"

#include "registry/RegistryValue.h"
#include "registry/WineRegistryFile.h"
#include "target/CommandRunner.h"

#include "CompactHive.h"
#include "FileBytes.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using namespace kelvane::test;

namespace {

const QString Larkspur = UninstallKey + u"\\Larkspur Notes"_s;
const QString NotFound = u"Unable to find target path or file!"_s;

} // namespace

class TestProgramActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void whatRuns_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("normal");
        QTest::addColumn<QString>("quiet");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("ran"); // empty: nothing ran and nothing was rebuilt
        QTest::addColumn<bool>("asked");
        const QString app = u"Larkspur Notes 3.2"_s;
        const QString normal = u"C:\\\\x\\\\uninst.exe"_s;
        const QString quiet = u"C:\\\\x\\\\uninst.exe /S"_s;
        QTest::newRow("button, both commands") << app << normal << quiet << u"ButtonProgramUninstall"_s << false
                                               << normal << false;
        QTest::newRow("Del, both commands") << app << normal << quiet << u"PopupProgramUninstall"_s << false << normal
                                            << false;
        QTest::newRow("Shift+Del, yes") << app << normal << quiet << u"PopupProgramUninstallQuiet"_s << true << quiet
                                        << true;
        QTest::newRow("Shift+Del, no") << app << normal << quiet << u"PopupProgramUninstallQuiet"_s << false
                                       << QString() << true;
        QTest::newRow("only the quiet command") << app << QString() << quiet << u"ButtonProgramUninstall"_s << true
                                                << quiet << true;
        QTest::newRow("quiet request without one") << app << normal << QString() << u"PopupProgramUninstallQuiet"_s
                                                   << true << QString() << false;
        // The patch's own removal, never its application's uninstaller.
        QTest::newRow("removable update") << u"Tax Tables Update 2008-Q3"_s << normal << quiet
                                          << u"PopupProgramUninstall"_s << true
                                          << u"MsiExec /uninstall {B7E2F410-6C93-4A0D-95E8-1F2C3D4B5A60} /package "
                                             "{3F1B6C2E-7A94-4E0B-9C51-D2A8E6F40B17} /qb"_s
                                          << false;
        QTest::newRow("update that stays") << u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s << normal << quiet
                                           << u"PopupProgramUninstall"_s << true << QString() << false;
        QTest::newRow("group node") << u"Microsoft Windows"_s << normal << quiet << u"PopupProgramUninstall"_s << true
                                    << QString() << false;
    }
    void whatRuns()
    {
        QFETCH(QString, node);
        QFETCH(QString, normal);
        QFETCH(QString, quiet);
        QFETCH(QString, sender);
        QFETCH(bool, answer);
        QFETCH(QString, ran);
        QFETCH(bool, asked);
        Fixture f = makeFixture();
        RecordingRunner runner;
        f.host->runner = &runner;
        f.store().deleteTree(Larkspur);
        addEntry(f.store(), u"Larkspur Notes"_s, u"Larkspur Notes 3.2"_s, normal);
        if (!quiet.isEmpty())
            f.store().setValue(Larkspur, RegistryValue::fromText(u"QuietUninstallString"_s, quiet));
        f.frame->GenerateList(nullptr);
        QVERIFY2(f.select(node), qPrintable(node));
        f.host->confirmationAnswers = {answer};
        f.host->setStatusText(u"before"_s);
        QObject *source = f.frame->findChild<QObject *>(sender);
        QVERIFY(source);
        f.frame->UninstallApplication(source);
        QCOMPARE(f.host->confirmations.size(), asked ? 1 : 0);
        if (asked)
            QCOMPARE(f.host->confirmations.first(),
                     u"WARNING : This is a quiet uninstall.|Do you really want to uninstall 'Larkspur Notes 3.2'?"_s);
        if (ran.isEmpty()) {
            QCOMPARE(runner.commandLines, QStringList());
            QCOMPARE(f.host->statusText(), u"before"_s); // no rebuild
        } else {
            QCOMPARE(runner.commandLines, QStringList{ran});
            QVERIFY(f.host->statusText().startsWith(u"Items count"_s)); // rebuilt
        }
        QCOMPARE(f.host->messages, QStringList());
    }

    void failedStarts_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("question"); // empty: none
        QTest::addColumn<QString>("message");  // empty: none
        QTest::addColumn<bool>("keyKept");
        const QString app = u"Larkspur Notes 3.2"_s;
        const QString remove = NotFound + u"|Do you want to remove this key from registry?"_s;
        QTest::newRow("missing, yes") << app << StartCode::FileNotFound << true << remove << QString() << false;
        QTest::newRow("missing folder, no") << app << StartCode::PathNotFound << false << remove << QString() << true;
        QTest::newRow("access denied") << app << StartCode::AccessDenied << true << QString()
                                       << u"Access denied. Maybe you have insufficient rights!"_s << true;
        // A runner fault is said in words and never offers to delete the entry.
        QTest::newRow("no Wine") << app << StartCode::RunnerUnavailable << true << QString()
                                 << u"The command could not be started: Wine is not available. Install Wine and try "
                                    "again (code 0x20000002)."_s
                                 << true;
        QTest::newRow("cannot check") << app << StartCode::CannotCheck << true << QString()
                                      << u"Kelvane cannot tell whether the program or folder this command names "
                                         "exists: its drive is not available here (a registry named on its own has "
                                         "no drives). Nothing was run, and the entry is kept (code 0x20000005)."_s
                                      << true;
        QTest::newRow("offline registry") << app << StartCode::OfflineTarget << true << QString()
                                          << u"This registry is an offline copy: Kelvane does not run its commands "
                                             u"(code 0x20000001)."_s
                                          << true;
        QTest::newRow("missing update uninstaller") << u"Tax Tables Update 2008-Q3"_s << StartCode::FileNotFound
                                                    << true << QString() << QString() << true;
    }
    void failedStarts()
    {
        QFETCH(QString, node);
        QFETCH(quint32, code);
        QFETCH(bool, answer);
        QFETCH(QString, question);
        QFETCH(QString, message);
        QFETCH(bool, keyKept);
        Fixture f = makeFixture();
        RecordingRunner runner;
        runner.codes = {code};
        f.host->runner = &runner;
        QVERIFY2(f.select(node), qPrintable(node));
        f.host->confirmationAnswers = {answer};
        f.frame->UninstallApplication(f.child<QPushButton>(u"ButtonProgramUninstall"_s));
        QCOMPARE(f.host->confirmations, question.isEmpty() ? QStringList() : QStringList{question});
        QCOMPARE(f.host->messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(f.store().keyExists(Larkspur), keyKept);
        QCOMPARE(f.node(u"Larkspur Notes 3.2"_s) != nullptr, keyKept);
    }

    // An offline Windows with its real runner: an uninstaller that cannot be
    // checked (no drive for it here) is never taken for a missing one.
    void offlineUninstallOffersRemovalOnlyWhenProvable_data()
    {
        QTest::addColumn<bool>("partition"); // else the hive named on its own
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("asked");
        QTest::newRow("hive alone") << false << u"\"C:\\Program Files\\Larkspur Notes\\uninst.exe\""_s << false;
        QTest::newRow("hive alone, MsiExec") << false << u"MsiExec.exe /X{3F1B6C2E-7A94-4E0B-9C51-D2A8E6F40B17}"_s
                                             << false;
        QTest::newRow("partition, program on D:") << true << u"D:\\Larkspur\\uninst.exe"_s << false;
        QTest::newRow("partition, gone from C:") << true << u"C:\\Larkspur\\uninst.exe"_s << true;
    }
    void offlineUninstallOffersRemovalOnlyWhenProvable()
    {
        QFETCH(bool, partition);
        QFETCH(QString, command);
        QFETCH(bool, asked);
        Fixture f;
        f.dir = std::make_unique<QTemporaryDir>();
        const QString disk = f.dir->filePath(u"disk"_s);
        const QString hive = disk + u"/Windows/System32/config/SOFTWARE"_s;
        QVERIFY(QDir().mkpath(disk + u"/Windows/System32/config"_s));
        const auto sample = WineRegistryFile::open(QStringLiteral(KELVANE_SOURCE_DIR) + u"/data/sample/system.reg"_s);
        sample->setValue(Larkspur, RegistryValue::fromText(u"UninstallString"_s, command));
        QVERIFY(writeFileBytes(hive, compactHive(hiveKeyFrom(*sample, u"Software"_s, u"ROOT"_s))));
        f.host = std::make_unique<FakeFrameHost>(partition ? disk : hive);
        f.frame = std::make_unique<TkvFrameProgram>(*f.host);
        f.frame->GenerateList(nullptr);
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        f.host->confirmationAnswers = {false};
        f.frame->UninstallApplication(f.child<QPushButton>(u"ButtonProgramUninstall"_s));
        QCOMPARE(f.host->confirmations.size(), asked ? 1 : 0);
        QCOMPARE(f.host->messages.size(), asked ? 0 : 1);
        if (!asked)
            QVERIFY2(f.host->messages.first().startsWith(u"Kelvane cannot tell whether the program or folder"_s),
                     qPrintable(f.host->messages.first()));
        QVERIFY(f.node(u"Larkspur Notes 3.2"_s));
    }

    // The uninstaller has ended, other Windows programs of the prefix keep
    // the wait: the status bar says so, and stopping the wait reads the list.
    void waitForOtherProgramsIsSaid()
    {
        Fixture f = makeFixture();
        RecordingRunner runner;
        runner.othersKeepRunning = true;
        f.host->runner = &runner;
        QStringList said;
        f.host->keepWaitingForOthers = [&] {
            said.append(f.host->statusText());
            return said.size() < 2;
        };
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        f.frame->UninstallApplication(f.child<QPushButton>(u"ButtonProgramUninstall"_s));
        QCOMPARE(said.size(), 2);
        QCOMPARE(said.first(), u"Waiting for the Windows programs still running in the prefix "_s
                                   + QDir::toNativeSeparators(f.host->target().description())
                                   + u" to end (an uninstaller may have started one): Wine saves the registry when "
                                     "the last one ends. Close them, or stop waiting."_s);
        QVERIFY(f.host->statusText().startsWith(u"Items count"_s)); // read again
        QCOMPARE(f.host->messages, QStringList());
    }

    void refusedRemovalIsSaidInWords()
    {
        Fixture f = makeFixture();
        RecordingRunner runner;
        runner.codes = {StartCode::FileNotFound};
        f.host->runner = &runner;
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        // Another program writes the registry file meanwhile: Kelvane's copy
        // is out of date, and saving it would lose that change.
        const QString file = f.dir->path() + u"/system.reg"_s;
        QFile reg(file);
        QVERIFY(reg.open(QIODevice::Append));
        reg.write("\n");
        reg.close();
        QVERIFY(reg.open(QIODevice::ReadOnly));
        const QByteArray before = reg.readAll();
        reg.close();
        f.host->confirmationAnswers = {true};
        f.frame->UninstallApplication(f.child<QPushButton>(u"ButtonProgramUninstall"_s));
        QCOMPARE(f.host->messages.size(), 1);
        QVERIFY2(f.host->messages.first().startsWith(u"The registry "_s + QDir::toNativeSeparators(file)
                                                      + u" was changed by another program"_s),
                 qPrintable(f.host->messages.first()));
        QVERIFY(reg.open(QIODevice::ReadOnly));
        QCOMPARE(reg.readAll(), before);
        QVERIFY(f.node(u"Larkspur Notes 3.2"_s));
    }

    void removeEntry_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("removed");
        QTest::newRow("yes") << u"Larkspur Notes 3.2"_s << true << true << true;
        QTest::newRow("no") << u"Larkspur Notes 3.2"_s << false << true << false;
        QTest::newRow("an update") << u"Tax Tables Update 2008-Q3"_s << true << false << false;
        QTest::newRow("the group node") << u"Microsoft Windows"_s << true << false << false;
    }
    void removeEntry()
    {
        QFETCH(QString, node);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(bool, removed);
        Fixture f = makeFixture();
        RecordingRunner runner;
        f.host->runner = &runner;
        QVERIFY2(f.select(node), qPrintable(node));
        f.host->confirmationAnswers = {answer};
        f.action(u"PopupProgramRemove"_s)->trigger();
        QCOMPARE(f.host->confirmations,
                 asked ? QStringList{u"Removing this key will not uninstall the application.|Are you sure you want to do this?"_s}
                       : QStringList());
        QCOMPARE(f.store().keyExists(Larkspur), !removed);
        QCOMPARE(f.node(u"Larkspur Notes 3.2"_s) == nullptr, removed);
        QCOMPARE(runner.commandLines, QStringList()); // nothing is run
        QCOMPARE(f.host->messages, QStringList());
    }

    void shortcutsFollowTheEntryLastClicked()
    {
        Fixture f = makeFixture();
        f.store().deleteTree(Larkspur);
        addEntry(f.store(), u"Larkspur Notes"_s, u"Larkspur Notes 3.2"_s, QString());
        f.store().setValue(Larkspur, RegistryValue::fromText(u"QuietUninstallString"_s, u"C:\\x\\u.exe /S"_s));
        f.frame->GenerateList(nullptr);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        QAction *normal = f.action(u"PopupProgramUninstall"_s);
        QAction *quiet = f.action(u"PopupProgramUninstallQuiet"_s);
        const auto click = [&f](const QString &text) {
            QTreeWidgetItem *node = f.node(text);
            f.tree()->scrollToItem(node);
            QTest::mouseClick(f.tree()->viewport(), Qt::LeftButton, {}, f.tree()->visualItemRect(node).center());
        };
        // Only a quiet command: Del runs it.
        click(u"Larkspur Notes 3.2"_s);
        QCOMPARE(f.current(), u"Larkspur Notes 3.2"_s);
        QCOMPARE(normal->shortcut(), QKeySequence());
        QCOMPARE(quiet->shortcut(), QKeySequence(Qt::Key_Delete));
        // Moving with the keyboard changes nothing.
        QTest::keyClick(f.tree(), Qt::Key_Up);
        QVERIFY(f.current() != u"Larkspur Notes 3.2"_s);
        QCOMPARE(quiet->shortcut(), QKeySequence(Qt::Key_Delete));
        // A click on an entry with a normal command: Del and Shift+Del again.
        click(u"Lantern Viewer 2008"_s);
        QCOMPARE(normal->shortcut(), QKeySequence(Qt::Key_Delete));
        QCOMPARE(quiet->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    }

    void modifyRunsAndReports()
    {
        Fixture f = makeFixture();
        RecordingRunner runner;
        f.host->runner = &runner;
        f.store().setValue(Larkspur, RegistryValue::fromText(u"ModifyPath"_s, u"C:\\x\\setup.exe /modify"_s));
        f.frame->GenerateList(nullptr);
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        f.frame->ModifyApplication(f.child<QPushButton>(u"ButtonProgramModify"_s));
        QCOMPARE(runner.commandLines, QStringList{u"C:\\x\\setup.exe /modify"_s});
        QCOMPARE(f.host->messages, QStringList());
        runner.codes = {StartCode::FileNotFound};
        f.frame->ModifyApplication(f.child<QPushButton>(u"ButtonProgramModify"_s));
        QCOMPARE(f.host->messages, QStringList{NotFound});
        QVERIFY(f.store().keyExists(Larkspur)); // modify never offers removal
    }

    void waitKeepsTheWindowDisabledThenGivesTheTreeItsKeys()
    {
        Fixture f = makeFixture(false);
        QWidget *window = f.host->mainWindow();
        auto *layout = new QVBoxLayout(window);
        layout->addWidget(f.frame.get());
        const auto unparent = qScopeGuard([&f] { f.frame->setParent(nullptr); });
        RecordingRunner runner;
        runner.window = window;
        runner.host = f.host.get();
        f.host->runner = &runner;
        window->resize(600, 420);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_VERIFY(f.tree()->topLevelItemCount() > 0);
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        f.tree()->setFocus();
        QTRY_VERIFY(f.tree()->hasFocus());
        const QString next = f.tree()->itemBelow(f.tree()->currentItem())->text(0);

        QTest::keyClick(f.tree(), Qt::Key_Delete);
        QCOMPARE(runner.commandLines.size(), 1);
        QVERIFY(!runner.enabledWhileWaiting.isEmpty());
        QVERIFY(!runner.enabledWhileWaiting.contains(true));
        QCOMPARE(runner.statusWhileRunning, u"Waiting for "_s + runner.commandLines.first() + u" to end..."_s);
        QVERIFY(window->isEnabled());
        // The same node, and the next key works without a click.
        QCOMPARE(f.current(), u"Larkspur Notes 3.2"_s);
        QTRY_VERIFY(f.tree()->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(f.current(), next);
    }
};

QTEST_MAIN(TestProgramActions)
#include "test_program_actions.moc"
