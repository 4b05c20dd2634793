// SPDX-License-Identifier: GPL-3.0-or-later
// Renaming an entry in place and editing its commands, driven with real key
// events on the widget that has the focus, with injected answers.

#include "ProgramFixture.h"
#include "RecordingRunner.h"

#include "registry/RegistryBackup.h"
#include "registry/RegistryValue.h"
#include "registry/WineRegistryFile.h"
#include "settings/kvSettings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using namespace kelvane::test;

namespace {

const QString Larkspur = UninstallKey + u"\\Larkspur Notes"_s;
const QString LarkspurName = u"Larkspur Notes 3.2"_s;
const QString LarkspurCommand = u"C:\\Program Files\\Larkspur Notes\\uninst.exe"_s;

int backupCount()
{
    return int(QDir(RegistryBackup::defaultFolder()).entryList(QDir::Files).size());
}

QLineEdit *labelEditor(const Fixture &f)
{
    auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    return editor && f.tree()->isAncestorOf(editor) ? editor : nullptr;
}

// Another program writes the registry file: saving Kelvane's copy would lose that.
void touchRegistryFile(const Fixture &f)
{
    QFile reg(f.dir->path() + u"/system.reg"_s);
    QVERIFY(reg.open(QIODevice::Append));
    reg.write("\n");
}

void clickNode(const Fixture &f, const QString &text, Qt::KeyboardModifiers modifiers = {})
{
    QTreeWidgetItem *node = f.node(text);
    QVERIFY2(node, qPrintable(text));
    f.tree()->scrollToItem(node);
    QTest::mouseClick(f.tree()->viewport(), Qt::LeftButton, modifiers, f.tree()->visualItemRect(node).center());
}

} // namespace

class TestProgramEditing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void f2EditsApplicationNamesOnly_data()
    {
        QTest::addColumn<QString>("node"); // empty: the group's first hotfix
        QTest::addColumn<bool>("edits");
        QTest::newRow("application") << LarkspurName << true;
        QTest::newRow("update") << u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s << false;
        QTest::newRow("group") << u"Microsoft Windows"_s << false;
        QTest::newRow("hotfix") << QString() << false;
    }
    void f2EditsApplicationNamesOnly()
    {
        QFETCH(QString, node);
        QFETCH(bool, edits);
        Fixture f = makeShownFixture();
        RecordingRunner runner;
        f.host->runner = &runner;
        QTreeWidgetItem *item = node.isEmpty() ? f.node(u"Microsoft Windows"_s)->child(0) : f.node(node);
        QVERIFY(item);
        f.tree()->setCurrentItem(item);
        typeKey(Qt::Key_F2);
        QCOMPARE(labelEditor(f) != nullptr, edits);
        if (!edits)
            return;
        // Del and F2 belong to the editor: a character goes, nothing runs.
        typeKey(Qt::Key_Home);
        typeKey(Qt::Key_Delete);
        typeKey(Qt::Key_F2);
        QCOMPARE(labelEditor(f)->text(), LarkspurName.mid(1));
        typeKey(Qt::Key_Escape);
        QTRY_VERIFY(!labelEditor(f));
        QCOMPARE(f.current(), LarkspurName);
        QCOMPARE(f.host->confirmations, QStringList());
        // After Escape, Del stays the editor's until the entry is clicked
        // again; its control character opens no filter either.
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, u"\x7f"_s);
        QApplication::sendEvent(f.tree(), &del);
        QVERIFY(!f.child<QWidget>(u"PanelProgramFilter"_s)->isVisible());
        QCOMPARE(runner.commandLines, QStringList());
        clickNode(f, LarkspurName);
        typeKey(Qt::Key_Delete);
        QCOMPARE(runner.commandLines, QStringList{LarkspurCommand});
        // F5 in the editor refreshes, ending the edit unstored; F2 opens it again.
        typeKey(Qt::Key_F2);
        QVERIFY(labelEditor(f));
        typeText("x");
        typeKey(Qt::Key_F5);
        QTRY_VERIFY(!labelEditor(f));
        QVERIFY(f.node(LarkspurName));
        f.tree()->setFocus();
        typeKey(Qt::Key_F2);
        QVERIFY(labelEditor(f));
        QCOMPARE(f.host->confirmations, QStringList());
    }

    void renameMovesTheNode_data()
    {
        QTest::addColumn<bool>("withEnter"); // else by moving the focus elsewhere
        QTest::newRow("Enter") << true;
        QTest::newRow("focus elsewhere") << false;
    }
    void renameMovesTheNode()
    {
        QFETCH(bool, withEnter);
        Fixture f = makeShownFixture();
        QVERIFY(f.select(LarkspurName));
        const auto *panelName = f.label(u"LabelProgramInfoName"_s);
        QCOMPARE(panelName->text(), LarkspurName);
        const int backups = backupCount();
        typeKey(Qt::Key_F2);
        QVERIFY(labelEditor(f));
        typeText("Aardvark Notes");
        f.host->confirmationAnswers = {true};
        if (withEnter)
            typeKey(Qt::Key_Return);
        else
            f.child<QPushButton>(u"ButtonProgramUninstall"_s)->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(!labelEditor(f));
        QCOMPARE(f.host->confirmations,
                 QStringList{u"Do you really want to rename 'Larkspur Notes 3.2' into 'Aardvark Notes'?"_s});
        QCOMPARE(f.store().value(Larkspur, u"DisplayName"_s)->text(), u"Aardvark Notes"_s);
        QCOMPARE(backupCount(), backups + 1);
        // At its sorted place, still the current node, without a rebuild.
        QCOMPARE(f.tree()->topLevelItem(0)->text(0), u"Aardvark Notes"_s);
        QCOMPARE(f.current(), u"Aardvark Notes"_s);
        QVERIFY(f.tree()->currentItem()->isSelected());
        // However the edit ended (Enter sets the filtering flag), the panel names it anew.
        QCOMPARE(panelName->text(), u"Aardvark Notes"_s);
        // A refresh shows the new name at its new place.
        f.action(u"PopupProgramRefresh"_s)->trigger();
        QCOMPARE(f.tree()->topLevelItem(0)->text(0), u"Aardvark Notes"_s);
        QVERIFY(!f.node(LarkspurName));
        QCOMPARE(f.current(), u"Aardvark Notes"_s);
        f.tree()->setFocus();
        typeKey(Qt::Key_Down);
        typeKey(Qt::Key_Up);
        QCOMPARE(panelName->text(), u"Aardvark Notes"_s);
    }

    void renameAnswers_data()
    {
        QTest::addColumn<QByteArray>("typed"); // empty: the text erased
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("written");
        QTest::newRow("same text") << LarkspurName.toUtf8() << true << false << true;
        QTest::newRow("empty text") << QByteArray() << true << false << false;
        QTest::newRow("answer no") << QByteArray("Other") << false << false << false;
        QTest::newRow("refused write") << QByteArray("Other") << true << true << false;
    }
    void renameAnswers()
    {
        QFETCH(QByteArray, typed);
        QFETCH(bool, answer);
        QFETCH(bool, refused);
        QFETCH(bool, written);
        Fixture f = makeShownFixture();
        QVERIFY(f.select(LarkspurName));
        const int backups = backupCount();
        typeKey(Qt::Key_F2);
        typeKey(Qt::Key_Backspace);
        typeText(typed.constData());
        if (refused)
            touchRegistryFile(f);
        f.host->confirmationAnswers = {answer};
        typeKey(Qt::Key_Return);
        QTRY_VERIFY(!labelEditor(f));
        QCOMPARE(f.host->confirmations.size(), typed.isEmpty() ? 0 : 1);
        QCOMPARE(f.current(), LarkspurName);
        QCOMPARE(backupCount(), backups + (written ? 1 : 0));
        QCOMPARE(f.host->messages.size(), refused ? 1 : 0);
        if (refused)
            QVERIFY2(f.host->messages.first().contains(u" was changed by another program"_s),
                     qPrintable(f.host->messages.first()));
        QCOMPARE(f.host->target().registry()->value(Larkspur, u"DisplayName"_s)->text(), LarkspurName);
        QCOMPARE(f.frame->inventory()->Applications.isEmpty(), false);
    }

    void commandsEditor()
    {
        Fixture f = makeShownFixture();
        f.host->settings().AllowEdition = true;
        RecordingRunner runner;
        f.host->runner = &runner;
        f.store().setValue(Larkspur, RegistryValue::fromText(u"QuietUninstallString"_s, u"q.exe /S"_s));
        f.frame->GenerateList(nullptr);
        clickNode(f, LarkspurName);
        auto *main = f.child<QWidget>(u"PanelProgramMain"_s);
        auto *editor = f.child<QWidget>(u"PanelProgramCommands"_s);
        auto *normal = f.child<QLineEdit>(u"EditProgramCommandsUninstall"_s);
        auto *quiet = f.child<QLineEdit>(u"EditProgramCommandsUninstallQuiet"_s);
        auto *ok = f.child<QPushButton>(u"ButtonProgramCommandsOk"_s);
        f.action(u"PopupProgramEditCommands"_s)->trigger();
        QVERIFY(f.frame->CommandsEditing);
        QVERIFY(editor->isVisible() && !main->isVisible());
        QCOMPARE(f.child<QGroupBox>(u"GroupboxProgramCommands"_s)->title(),
                 u"Commands edition - Larkspur Notes 3.2"_s);
        QCOMPARE(normal->text(), LarkspurCommand);
        QCOMPARE(quiet->text(), u"q.exe /S"_s);

        // The list stands still: no key moves, filters, rebuilds or runs anything.
        f.tree()->setFocus();
        const QString status = f.host->statusText();
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_End, Qt::Key_L, Qt::Key_F5, Qt::Key_Delete, Qt::Key_F2})
            typeKey(key);
        clickNode(f, u"Lantern Viewer 2008"_s, Qt::ControlModifier);
        // A drag over the rows with the button held.
        const QPoint over = f.tree()->visualItemRect(f.node(u"Lantern Viewer 2008"_s)).center();
        QMouseEvent drag(QEvent::MouseMove, over, f.tree()->viewport()->mapToGlobal(over), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.tree()->viewport(), &drag);
        QCOMPARE(f.current(), LarkspurName);
        QVERIFY(!f.child<QWidget>(u"PanelProgramFilter"_s)->isVisible());
        QVERIFY(!labelEditor(f));
        QCOMPARE(f.host->statusText(), status);
        QCOMPARE(runner.commandLines, QStringList());
        QCOMPARE(f.tree()->contextMenuPolicy(), Qt::NoContextMenu);

        // Escape restores only its own edit; OK needs one command at least.
        normal->setFocus();
        typeText("xyz");
        quiet->setFocus();
        quiet->selectAll();
        typeKey(Qt::Key_Backspace);
        QVERIFY(ok->isEnabled());
        normal->setFocus();
        typeKey(Qt::Key_Escape);
        QCOMPARE(normal->text(), LarkspurCommand);
        QCOMPARE(quiet->text(), QString());
        normal->selectAll();
        typeKey(Qt::Key_Backspace);
        QVERIFY(!ok->isEnabled());
        typeText("new.exe");

        // A refused write keeps the editor open with what was typed.
        touchRegistryFile(f);
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(f.host->messages.size(), 1);
        QVERIFY(f.frame->CommandsEditing && editor->isVisible());
        QCOMPARE(normal->text(), u"new.exe"_s);
        f.frame->EnterForm(nullptr); // only recaptions
        QTest::mouseClick(ok, Qt::LeftButton); // meets the file as it is now
        QVERIFY(!f.frame->CommandsEditing);
        QVERIFY(main->isVisible() && !editor->isVisible());
        QCOMPARE(f.tree()->contextMenuPolicy(), Qt::CustomContextMenu);
        QCOMPARE(f.store().value(Larkspur, u"UninstallString"_s)->text(), u"new.exe"_s);
        QCOMPARE(f.store().value(Larkspur, u"QuietUninstallString"_s)->text(), QString());

        // The registry had changed under the editor: the list was read again.
        QTRY_VERIFY(f.tree()->hasFocus());
        QCOMPARE(f.current(), LarkspurName);
        typeKey(Qt::Key_Delete);
        QCOMPARE(runner.commandLines, QStringList{u"new.exe"_s});

        // Otherwise, until a rebuild, uninstalling runs the commands the list was built with.
        f.action(u"PopupProgramEditCommands"_s)->trigger();
        normal->setFocus();
        normal->selectAll();
        typeText("newer.exe");
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(f.store().value(Larkspur, u"UninstallString"_s)->text(), u"newer.exe"_s);
        QTRY_VERIFY(f.tree()->hasFocus());
        typeKey(Qt::Key_Delete);
        QCOMPARE(runner.commandLines.last(), u"new.exe"_s);
        typeKey(Qt::Key_Delete);
        QCOMPARE(runner.commandLines.last(), u"newer.exe"_s);
    }

    // An uninstaller removed the entry while its name or commands were
    // edited: the edit is refused in those words, the list is read again,
    // and nothing makes the key anew.
    void anEntryAnotherProgramRemovedIsNotMadeAnew_data()
    {
        QTest::addColumn<bool>("commands"); // else a rename
        QTest::newRow("rename") << false;
        QTest::newRow("commands") << true;
    }
    void anEntryAnotherProgramRemovedIsNotMadeAnew()
    {
        QFETCH(bool, commands);
        Fixture f = makeShownFixture();
        f.host->settings().AllowEdition = true;
        QVERIFY(f.select(LarkspurName));
        if (commands) {
            f.action(u"PopupProgramEditCommands"_s)->trigger();
            auto *normal = f.child<QLineEdit>(u"EditProgramCommandsUninstall"_s);
            normal->setFocus();
            normal->selectAll();
            typeText("new.exe");
        } else {
            typeKey(Qt::Key_F2);
            typeKey(Qt::Key_Backspace);
            typeText("Other");
            f.host->confirmationAnswers = {true};
        }
        const QString file = f.dir->path() + u"/system.reg"_s;
        {
            const auto uninstaller = WineRegistryFile::open(file);
            uninstaller->deleteTree(Larkspur);
            uninstaller->save();
        }
        if (commands) {
            QTest::mouseClick(f.child<QPushButton>(u"ButtonProgramCommandsOk"_s), Qt::LeftButton);
        } else {
            typeKey(Qt::Key_Return);
            QTRY_VERIFY(!labelEditor(f));
        }
        QCOMPARE(f.host->messages,
                 QStringList{u"The entry 'Larkspur Notes 3.2' is no longer in the registry: another program removed "
                             "it, so nothing was changed. The list is read again."_s});
        QVERIFY(!f.frame->CommandsEditing);
        QVERIFY(f.child<QWidget>(u"PanelProgramMain"_s)->isVisible());
        QVERIFY(!f.node(LarkspurName));
        QVERIFY(!WineRegistryFile::open(file)->keyExists(Larkspur));
        QTRY_VERIFY(f.tree()->hasFocus());
    }

    void commandsEditorNeedsTheSettingToOpen()
    {
        Fixture f = makeShownFixture();
        f.host->settings().AllowEdition = false;
        QVERIFY(f.select(LarkspurName));
        f.frame->EditCommands(f.action(u"PopupProgramEditCommands"_s));
        QVERIFY(!f.frame->CommandsEditing);
        QVERIFY(!f.child<QWidget>(u"PanelProgramCommands"_s)->isVisible());
        // Turned off while the editor is open, it still lets the editor close.
        f.host->settings().AllowEdition = true;
        f.frame->EditCommands(f.action(u"PopupProgramEditCommands"_s));
        QVERIFY(f.frame->CommandsEditing);
        f.host->settings().AllowEdition = false;
        QTest::mouseClick(f.child<QPushButton>(u"ButtonProgramCommandsCancel"_s), Qt::LeftButton);
        QVERIFY(!f.frame->CommandsEditing);
    }

    void aTimerTickLeavesTheNameEditorOpen()
    {
        Fixture f = makeShownFixture();
        typeText("l"); // the filter's timer runs from now on
        typeKey(Qt::Key_Escape);
        typeKey(Qt::Key_Escape);
        QTRY_VERIFY(f.tree()->hasFocus());
        QVERIFY(f.select(LarkspurName));
        typeKey(Qt::Key_F2);
        QVERIFY(labelEditor(f));
        typeKey(Qt::Key_A, Qt::ControlModifier); // a Ctrl key sets the filtering flag
        QTest::qWait(1500);
        QVERIFY(labelEditor(f));
        QCOMPARE(f.host->confirmations, QStringList());
    }

    void removalAfterEnterRescans()
    {
        Fixture f = makeShownFixture();
        QVERIFY(f.select(LarkspurName));
        typeKey(Qt::Key_Return); // sets the filtering flag: rebuilds come from memory
        QVERIFY(f.frame->Filtering);
        f.host->confirmationAnswers = {true};
        f.action(u"PopupProgramRemove"_s)->trigger();
        QVERIFY(!f.store().keyExists(Larkspur));
        QVERIFY(!f.node(LarkspurName));
    }

    void ctrlClickKeepsTheCurrentRowSelected()
    {
        Fixture f = makeShownFixture();
        clickNode(f, LarkspurName);
        clickNode(f, LarkspurName, Qt::ControlModifier);
        typeKey(Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(f.current(), LarkspurName);
        QCOMPARE(f.tree()->selectedItems(), QList<QTreeWidgetItem *>{f.tree()->currentItem()});
    }
};

QTEST_MAIN(TestProgramEditing)
#include "test_program_editing.moc"
