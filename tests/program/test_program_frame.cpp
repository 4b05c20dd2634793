// SPDX-License-Identifier: GPL-3.0-or-later
#include "UrlCatcher.h"
#include "program/kvUnitProgram.h"

#include "FakeFrameHost.h"
#include "ProgramFixture.h"
#include "gui/kvCommonGui.h"
#include "inventory/ProgramTree.h"
#include "registry/RegistryValue.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>

#include <algorithm>
#include <memory>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using kelvane::test::FakeFrameHost;
using namespace kelvane::test;

class TestProgramFrame : public QObject
{
    Q_OBJECT

private:
    kelvane::test::UrlCatcher m_catcher;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }
    void init() { m_catcher.urls.clear(); }

    void firstBuildSelectsFirstNodeInListOrder()
    {
        Fixture f = makeFixture();
        // The same order as the command-line listing.
        TApplications inventory(f.host->target().registry());
        inventory.LoadFromRegistry();
        const QStringList expected = ProgramTreeLines(BuildProgramTree(inventory, {}, true, NameOrder()));
        QCOMPARE(treeTexts(f.tree()), expected);
        QCOMPARE(f.tree()->currentItem(), f.tree()->topLevelItem(0));
        QVERIFY(f.tree()->currentItem()->isSelected());
        QCOMPARE(f.label(u"LabelProgramInfoName"_s)->text(), f.tree()->topLevelItem(0)->text(0));
        QVERIFY(!f.frame->Generating);
        QVERIFY(f.tree()->updatesEnabled());
        // Every node starts collapsed.
        for (int i = 0; i < f.tree()->topLevelItemCount(); ++i)
            QVERIFY(!f.tree()->topLevelItem(i)->isExpanded());
    }

    void selectionFollowsKeyPath()
    {
        Fixture f = makeFixture();
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        const int before = f.frame->absoluteIndex(f.tree()->currentItem());
        addEntry(f.store(), u"Aardvark"_s, u"Aardvark Tools"_s); // sorts first
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.current(), u"Larkspur Notes 3.2"_s);
        QCOMPARE(f.frame->absoluteIndex(f.tree()->currentItem()), before + 1);
        QCOMPARE(f.frame->LastSelectedIndex(), before);
        QVERIFY(f.frame->LastSelectedKey().endsWith(u"\\Larkspur Notes"_s));
    }

    void selectionFallsBackToIndex()
    {
        Fixture f = makeFixture();
        QVERIFY(f.select(u"Larkspur Notes 3.2"_s));
        const int index = f.frame->absoluteIndex(f.tree()->currentItem());
        f.store().deleteTree(UninstallKey + u"\\Larkspur Notes"_s);
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.frame->absoluteIndex(f.tree()->currentItem()), index);
        QVERIFY(f.current() != u"Larkspur Notes 3.2"_s);

        // The last node selected, the tree shortened: the last node.
        QTreeWidgetItem *last = f.tree()->topLevelItem(f.tree()->topLevelItemCount() - 1);
        f.tree()->setCurrentItem(last);
        replaceEntries(f.store(), {{u"a"_s, u"Alpha"_s}, {u"b"_s, u"Beta"_s}});
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.current(), u"Beta"_s);
    }

    void updateAndHotfixComeBackAsParents_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("expected");
        QTest::newRow("update") << u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s
                                << u"Harborline Accounting 2007"_s;
        QTest::newRow("hotfix") << u"Security Update for Windows XP (KB923191)"_s << u"Microsoft Windows"_s;
        QTest::newRow("group") << u"Microsoft Windows"_s << u"Microsoft Windows"_s;
    }
    void updateAndHotfixComeBackAsParents()
    {
        QFETCH(QString, selected);
        QFETCH(QString, expected);
        Fixture f = makeFixture();
        QVERIFY2(f.node(selected), qPrintable(treeTexts(f.tree()).join(u'\n')));
        QVERIFY(f.select(selected));
        addEntry(f.store(), u"Aardvark"_s, u"Aardvark Tools"_s);
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.current(), expected);
        QVERIFY(f.tree()->currentItem()->parent() == nullptr);
    }

    void expandedSelectionExpandedAgain()
    {
        Fixture f = makeFixture();
        f.node(u"Microsoft Windows"_s)->setExpanded(true);
        QVERIFY(f.select(u"Harborline Accounting 2007"_s));
        f.tree()->currentItem()->setExpanded(true);
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.current(), u"Harborline Accounting 2007"_s);
        QVERIFY(f.tree()->currentItem()->isExpanded());
        QVERIFY(!f.node(u"Microsoft Windows"_s)->isExpanded());
    }

    // The nodes of one build serve the next: whatever changed in between, the
    // tree shows exactly what a fresh build would, on the records just read.
    void rebuildsShowTheCurrentRecords()
    {
        Fixture f = makeFixture();
        auto *edit = f.child<QLineEdit>(u"EditProgramFilter"_s);
        const auto expectTree = [&f, edit] {
            const QStringList expected = ProgramTreeLines(
                BuildProgramTree(*f.frame->inventory(), edit->text(), f.host->settings().ShowUpdates, NameOrder()));
            QCOMPARE(treeTexts(f.tree()), expected);
            for (QTreeWidgetItemIterator it(f.tree()); *it; ++it) {
                const auto *node = static_cast<const TkvProgramNode *>(*it);
                if (node->entry())
                    QCOMPARE(node->entry()->DisplayName, node->text(0));
                else if (node->update())
                    QCOMPARE(node->update()->DisplayName, node->text(0));
            }
        };

        // A rename on disk under the same key: the name moves to its place.
        addEntry(f.store(), u"Larkspur Notes"_s, u"Aardvark Notes"_s);
        f.frame->GenerateList(nullptr);
        expectTree();
        QCOMPARE(f.tree()->topLevelItem(0)->text(0), u"Aardvark Notes"_s);
        const TAppItemPtr shown = static_cast<TkvProgramNode *>(f.tree()->topLevelItem(0))->entry();
        QVERIFY(std::find(f.frame->inventory()->Applications.cbegin(), f.frame->inventory()->Applications.cend(),
                          shown)
                != f.frame->inventory()->Applications.cend());

        // Filter mode: narrowed, the updates switched off and on, widened.
        f.frame->Filtering = true;
        edit->setText(u"SP1"_s);
        f.frame->GenerateList(nullptr);
        expectTree();
        f.host->settings().ShowUpdates = false;
        f.frame->GenerateList(nullptr);
        expectTree();
        f.host->settings().ShowUpdates = true;
        f.frame->GenerateList(nullptr);
        expectTree();
        edit->setText(u"KB923191"_s); // one hotfix under its group
        f.frame->GenerateList(nullptr);
        expectTree();
        QCOMPARE(treeTexts(f.tree()).size(), 2);
        const QStringList before = treeTexts(f.tree());
        edit->setText(u"[a"_s);
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.host->messages.size(), 1);
        QCOMPARE(treeTexts(f.tree()), before);
        edit->clear();
        f.frame->GenerateList(nullptr);
        expectTree();
    }

    void showUpdatesOff()
    {
        Fixture f = makeFixture(false);
        f.host->settings().ShowUpdates = false;
        f.frame->GenerateList(nullptr);
        QVERIFY(!f.node(u"Microsoft Windows"_s));
        for (int i = 0; i < f.tree()->topLevelItemCount(); ++i)
            QCOMPARE(f.tree()->topLevelItem(i)->childCount(), 0);
        QCOMPARE(f.host->statusText(), u"Items count: %1"_s.arg(f.tree()->topLevelItemCount()));
    }

    void countsText()
    {
        Fixture f = makeFixture(false);
        replaceEntries(f.store(), {{u"a"_s, u"Alpha"_s}, {u"b"_s, u"Beta"_s}, {u"c"_s, u"Gamma"_s}});
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.host->statusText(), u"Items count: 3, hotfixes and updates: 0"_s);

        // The sample: the group node counts once, its hotfixes and the updates separately.
        Fixture sample = makeFixture();
        int updates = 0;
        for (int i = 0; i < sample.tree()->topLevelItemCount(); ++i)
            updates += sample.tree()->topLevelItem(i)->childCount();
        QCOMPARE(sample.host->statusText(), u"Items count: %1, hotfixes and updates: %2"_s
                                                .arg(sample.tree()->topLevelItemCount())
                                                .arg(updates));
        // The mouse leaving the tree empties the panel, entering writes the counts again.
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(sample.tree(), &leave);
        QCOMPARE(sample.host->statusText(), QString());
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(sample.tree(), &enter);
        QVERIFY(sample.host->statusText().startsWith(u"Items count: "_s));
    }

    void noApplicationLeftRebuildsTheList()
    {
        Fixture f = makeFixture();
        RegistryStore &store = f.store();
        for (const QString &name : store.subkeyNames(UninstallKey)) {
            if (!QRegularExpression(u"kb[0-9]{6}"_s, QRegularExpression::CaseInsensitiveOption).match(name).hasMatch())
                store.deleteTree(UninstallKey + u'\\' + name);
        }
        store.deleteTree(u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s);
        f.frame->GenerateList(nullptr);
        // The hotfixes alone: no node is left of the applications that are gone.
        const QStringList hotfixesOnly = treeTexts(f.tree());
        QVERIFY(!hotfixesOnly.isEmpty());
        QCOMPARE(hotfixesOnly.first(), u"Microsoft Windows"_s);
        QVERIFY(std::all_of(hotfixesOnly.begin() + 1, hotfixesOnly.end(),
                            [](const QString &line) { return line.startsWith(u'\t'); }));
        QVERIFY(f.host->statusText().startsWith(u"Items count: 1, hotfixes and updates: "_s));

        // Nothing left at all: an empty list, the panel without information,
        // and no action offered.
        store.deleteTree(UninstallKey);
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.tree()->topLevelItemCount(), 0);
        QVERIFY(!f.label(u"PanelProgramNoInfo"_s)->isHidden());
        QVERIFY(!f.child<QPushButton>(u"ButtonProgramUninstall"_s)->isEnabled());
        QCOMPARE(f.host->statusText(), u"Items count: 0, hotfixes and updates: 0"_s);
    }

    void actionStates_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<bool>("allowEdition");
        QTest::addColumn<QStringList>("visible");
        QTest::addColumn<QStringList>("enabled");
        const QStringList always = {u"PopupProgramRefresh"_s, u"PopupProgramExport"_s};
        QTest::newRow("quiet only") << u"Heron Backup Agent"_s << false
                                    << always + QStringList{u"PopupProgramUninstallQuiet"_s, u"PopupProgramRemove"_s,
                                                            u"PopupProgramRename"_s}
                                    << QStringList{u"ButtonProgramUninstall"_s};
        QTest::newRow("group") << u"Microsoft Windows"_s << true << always << QStringList();
        QTest::newRow("hotfix, editing allowed")
            << u"Security Update for Windows XP (KB923191)"_s << true
            << always + QStringList{u"PopupProgramUninstall"_s, u"PopupProgramRemove"_s, u"PopupProgramEditCommands"_s}
            << QStringList{u"ButtonProgramUninstall"_s};
        QTest::newRow("modify")
            << u"Driftwood Solitaire Collection"_s << false
            << always + QStringList{u"PopupProgramUninstall"_s, u"PopupProgramModify"_s, u"PopupProgramRemove"_s,
                                    u"PopupProgramRename"_s}
            << QStringList{u"ButtonProgramUninstall"_s, u"ButtonProgramModify"_s};
        QTest::newRow("both commands and a location")
            << u"Quillfeather Editor"_s << false
            << always + QStringList{u"PopupProgramUninstall"_s, u"PopupProgramUninstallQuiet"_s,
                                    u"PopupProgramRemove"_s, u"PopupProgramRename"_s, u"PopupProgramBrowse"_s}
            << QStringList{u"ButtonProgramUninstall"_s, u"ButtonProgramBrowse"_s};
        QTest::newRow("removable update")
            << u"Tax Tables Update 2008-Q3"_s << true
            << always + QStringList{u"PopupProgramUninstall"_s} << QStringList{u"ButtonProgramUninstall"_s};
        QTest::newRow("update not removable")
            << u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s << true << always << QStringList();
    }
    void actionStates()
    {
        QFETCH(QString, node);
        QFETCH(bool, allowEdition);
        QFETCH(QStringList, visible);
        QFETCH(QStringList, enabled);
        Fixture f = makeFixture(false);
        f.host->settings().AllowEdition = allowEdition;
        f.frame->GenerateList(nullptr);
        QVERIFY2(f.node(node), qPrintable(treeTexts(f.tree()).join(u'\n')));
        QVERIFY(f.select(node));
        QStringList shown;
        for (QAction *action : f.child<QWidget>(u"PopupTreeviewProgram"_s)->actions()) {
            if (!action->isSeparator() && action->isVisible())
                shown.append(action->objectName());
        }
        visible.sort();
        shown.sort();
        QCOMPARE(shown, visible);
        QStringList on;
        for (const QString &name : {u"ButtonProgramUninstall"_s, u"ButtonProgramModify"_s, u"ButtonProgramBrowse"_s}) {
            if (f.child<QPushButton>(name)->isEnabled())
                on.append(name);
        }
        QCOMPARE(on, enabled);
    }

    void filterLeavingNoNode()
    {
        Fixture f = makeFixture();
        QVERIFY(f.select(u"Driftwood Solitaire Collection"_s));
        f.child<QLineEdit>(u"EditProgramFilter"_s)->setText(u"no such name"_s);
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.tree()->topLevelItemCount(), 0);
        QCOMPARE(f.tree()->currentItem(), nullptr);
        // The states of the last selection stay.
        QVERIFY(f.child<QPushButton>(u"ButtonProgramModify"_s)->isEnabled());
        QVERIFY(f.action(u"PopupProgramModify"_s)->isVisible());
        QCOMPARE(f.host->statusText(), u"Items count: 0, hotfixes and updates: 0"_s);
    }

    void filterShowsMatchesAndInvalidMaskEndsCleanly()
    {
        Fixture f = makeFixture();
        auto *edit = f.child<QLineEdit>(u"EditProgramFilter"_s);
        edit->setText(u"SP1"_s); // matches only an update's name
        f.frame->GenerateList(nullptr);
        QCOMPARE(treeTexts(f.tree()).first(), u"Harborline Accounting 2007"_s);
        QVERIFY(!f.node(u"Larkspur Notes 3.2"_s));

        const QStringList before = treeTexts(f.tree());
        edit->setText(u"[a"_s);
        f.frame->GenerateList(nullptr);
        QCOMPARE(f.host->messages.size(), 1);
        QVERIFY2(f.host->messages.first().contains(u"invalid mask"_s), qPrintable(f.host->messages.first()));
        QVERIFY(!f.frame->Generating);
        QVERIFY(f.tree()->updatesEnabled());
        QCOMPARE(treeTexts(f.tree()), before);
        edit->setText(u"notes"_s);
        f.frame->GenerateList(nullptr);
        QVERIFY(f.node(u"Larkspur Notes 3.2"_s));

        // A rescan stopped by an invalid mask still leaves later filter
        // builds the records it read.
        addEntry(f.store(), u"Zebra"_s, u"Zebra Notes"_s);
        edit->setText(u"[a"_s);
        f.frame->GenerateList(nullptr);
        edit->setText(u"zebra"_s);
        f.frame->Filtering = true;
        f.frame->GenerateList(nullptr);
        QVERIFY(f.node(u"Zebra Notes"_s));
    }

    void buttonHints()
    {
        Fixture f = makeFixture();
        auto *button = f.child<QPushButton>(u"ButtonProgramUninstall"_s);
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(button, &enter);
        QCOMPARE(f.host->statusText(), u"Uninstall selected application or update"_s);
    }

    void enterFormOnFocusFromOutside()
    {
        Fixture f = makeFixture(false);
        QWidget window;
        auto *outside = new QLineEdit(&window);
        f.frame->setParent(&window);
        const auto unparent = qScopeGuard([&f] { f.frame->setParent(nullptr); });
        f.frame->move(0, 30);
        window.resize(460, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        outside->setFocus();
        QTRY_VERIFY(outside->hasFocus());
        QCOMPARE(f.tree()->topLevelItemCount(), 0);
        f.frame->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(f.tree()->topLevelItemCount() > 0);
        QVERIFY(f.tree()->hasFocus());
        QCOMPARE(f.child<QPushButton>(u"ButtonProgramUninstall"_s)->text(), u"&Uninstall"_s);
        const TApplications *first = f.frame->inventory();

        // Moving inside the frame is no entry; coming back from outside is.
        f.child<QPushButton>(u"ButtonProgramModify"_s)->setFocus();
        QCOMPARE(f.frame->inventory(), first);
        outside->setFocus();
        f.tree()->setFocus();
        QTRY_VERIFY(f.frame->inventory() != first);

        // Minimising hides the frame (a spontaneous hide, which the offscreen
        // platform does not send by itself) while the focus stays in it;
        // coming back from another window then is no entry.
        const TApplications *entered = f.frame->inventory();
        QHideEvent minimised;
        QSpontaneKeyEvent::setSpontaneous(&minimised);
        qApp->notify(f.frame.get(), &minimised); // sendEvent would clear the flag
        QWidget other;
        other.show();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_VERIFY(f.tree()->hasFocus());
        QCOMPARE(f.frame->inventory(), entered);
    }

    void changeWatchWaitsForARunningRebuild()
    {
        Fixture f = makeFixture();
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        f.frame->setFocus();
        QTRY_VERIFY(f.frame->hasFocus());
        const QString file = f.dir->path() + u"/system.reg"_s;
        QFile reg(file);
        QVERIFY(reg.open(QIODevice::Append));
        reg.write("\n");
        reg.close();
        QVERIFY(f.store().changedOnDisk());
        // A rebuild letting events through reads the store: it stays as it is.
        f.frame->Generating = true;
        f.frame->CheckChanges(nullptr);
        QVERIFY(f.store().changedOnDisk());
        f.frame->Generating = false;
        f.frame->CheckChanges(nullptr);
        QVERIFY(!f.store().changedOnDisk());
    }

    void shortcutsActInTheTree()
    {
        Fixture f = makeFixture(false);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        f.frame->GenerateList(nullptr);
        QTRY_VERIFY(f.tree()->hasFocus());
        addEntry(f.store(), u"Aardvark"_s, u"Aardvark Tools"_s);
        QTest::keyClick(f.tree(), Qt::Key_F5);
        QVERIFY(f.node(u"Aardvark Tools"_s));
        // A hidden menu item's key still reaches its handler, and follows a reassignment.
        f.action(u"PopupProgramRefresh"_s)->setVisible(false);
        f.action(u"PopupProgramRefresh"_s)->setShortcut(QKeySequence(Qt::Key_F6));
        addEntry(f.store(), u"Abacus"_s, u"Abacus Pro"_s);
        QTest::keyClick(f.tree(), Qt::Key_F5);
        QVERIFY(!f.node(u"Abacus Pro"_s));
        QTest::keyClick(f.tree(), Qt::Key_F6);
        QVERIFY(f.node(u"Abacus Pro"_s));
        QTest::keyClick(f.tree(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.host->saveDialogDefaults.size(), 1);
        // Enter and Ctrl set the filter-mode flag, any other key clears it.
        QTest::keyClick(f.tree(), Qt::Key_Return);
        QVERIFY(f.frame->Filtering);
        QTest::keyClick(f.tree(), Qt::Key_Down);
        QVERIFY(!f.frame->Filtering);
        QTest::keyPress(f.tree(), Qt::Key_Control, Qt::ControlModifier);
        QVERIFY(f.frame->Filtering);
        QTest::keyRelease(f.tree(), Qt::Key_Control);
        QVERIFY(f.frame->Filtering);
    }

    void shortcutsActInTheLabelEditor()
    {
        Fixture f = makeFixture(false);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        f.frame->GenerateList(nullptr);
        QTreeWidgetItem *item = f.tree()->currentItem();
        f.tree()->openPersistentEditor(item);
        QWidget *editor = f.tree()->itemWidget(item, 0);
        QVERIFY(editor);
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        QTest::keyClick(editor, Qt::Key_Return);
        QVERIFY(f.frame->Filtering); // the editor's keys reach the tree's key-down handling
        QTest::keyClick(editor, Qt::Key_A);
        QVERIFY(!f.frame->Filtering);
        QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.host->saveDialogDefaults.size(), 1);
        f.tree()->closePersistentEditor(item);
    }

    void selectionHeldWhileCommandsAreEdited()
    {
        Fixture f = makeFixture(false);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        f.frame->GenerateList(nullptr);
        QTreeWidgetItem *first = f.tree()->currentItem();
        f.frame->CommandsEditing = true;
        QTest::keyClick(f.tree(), Qt::Key_Down);
        QTreeWidgetItem *second = f.tree()->topLevelItem(1);
        QTest::mouseClick(f.tree()->viewport(), Qt::LeftButton, {}, f.tree()->visualItemRect(second).center());
        QCOMPARE(f.tree()->currentItem(), first);
        f.frame->CommandsEditing = false;
        QTest::keyClick(f.tree(), Qt::Key_Down);
        QCOMPARE(f.tree()->currentItem(), second);
    }

    void topRowKept()
    {
        Fixture f = makeFixture(false);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
        f.frame->GenerateList(nullptr);
        // A selection a few rows below the top row.
        f.tree()->setCurrentItem(f.tree()->topLevelItem(12));
        QTreeWidgetItem *top = f.tree()->topLevelItem(10);
        f.tree()->scrollToItem(top, QAbstractItemView::PositionAtTop);
        const auto topRow = [&f] {
            QTreeWidgetItem *item = f.tree()->itemAt(QPoint(f.tree()->viewport()->width() / 2, 1));
            return item ? item->text(0) : QString();
        };
        QCOMPARE(topRow(), top->text(0));
        f.frame->GenerateList(nullptr);
        QCOMPARE(topRow(), f.tree()->topLevelItem(10)->text(0));
        QCOMPARE(f.current(), f.tree()->topLevelItem(12)->text(0));
    }

    void rightClickSelects()
    {
        Fixture f = makeFixture(false);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
        f.frame->GenerateList(nullptr);
        QTreeWidgetItem *second = f.tree()->topLevelItem(1);
        const QPoint pos = f.tree()->visualItemRect(second).center();
        f.frame->CommandsEditing = true;
        emit f.tree()->customContextMenuRequested(pos);
        QCOMPARE(f.tree()->currentItem(), f.tree()->topLevelItem(0));
        auto *menu = f.child<QMenu>(u"PopupTreeviewProgram"_s);
        QVERIFY(!menu->isVisible());
        f.frame->CommandsEditing = false;
        emit f.tree()->customContextMenuRequested(pos);
        QCOMPARE(f.tree()->currentItem(), second);
        QVERIFY(menu->isVisible());
        menu->hide();
    }

    void rebuildIgnoresReentry()
    {
        Fixture f = makeFixture(false);
        // Events the scan lets through try to rebuild and to enter the frame again.
        int reentries = 0;
        QTimer::singleShot(0, f.frame.get(), [&] {
            ++reentries;
            QVERIFY(f.frame->Generating);
            f.frame->GenerateList(nullptr);
            f.frame->EnterForm(nullptr);
            QVERIFY(f.frame->Generating);
        });
        f.frame->GenerateList(nullptr);
        QCOMPARE(reentries, 1);
        QVERIFY(!f.frame->Generating);
        QVERIFY(f.tree()->updatesEnabled());
        TApplications inventory(f.host->target().registry());
        inventory.LoadFromRegistry();
        QCOMPARE(treeTexts(f.tree()), ProgramTreeLines(BuildProgramTree(inventory, {}, true, NameOrder())));
    }

    void changeWatchOnlyWithFrameFocus()
    {
        Fixture f = makeFixture(false);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        f.frame->GenerateList(nullptr);
        QTRY_VERIFY(f.tree()->hasFocus());

        // An installer writes to the registry file.
        std::unique_ptr<Target> other = Target::open(f.dir->path());
        addEntry(*other->registry(), u"Aardvark"_s, u"Aardvark Tools"_s);
        other->registry()->save();

        f.frame->CheckChanges(nullptr);
        QVERIFY(!f.node(u"Aardvark Tools"_s));
        f.frame->setFocus();
        QTRY_VERIFY(f.frame->hasFocus());
        // The watch's own timer picks it up.
        QTRY_VERIFY_WITH_TIMEOUT(f.node(u"Aardvark Tools"_s), 5000);
    }

    void screenshots_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("file");
        QTest::newRow("english") << QString() << u"Larkspur Notes 3.2"_s << u"program-en.png"_s;
        QTest::newRow("english update") << QString() << u"Harborline Accounting 2007 Service Pack 1 (SP1)"_s
                                        << u"program-en-update.png"_s;
        QTest::newRow("hebrew") << u"hebrew"_s << u"Quillfeather Editor"_s << u"program-he.png"_s;
    }
    void screenshots()
    {
        const QString folder = qEnvironmentVariable("KELVANE_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("KELVANE_SCREENSHOT_DIR not set");
        QFETCH(QString, language);
        QFETCH(QString, node);
        QFETCH(QString, file);
        QTemporaryDir dir;
        copyFolder(QStringLiteral(KELVANE_SOURCE_DIR) + u"/data/sample"_s, dir.path());
        FakeFrameHost host(dir.path(), QStringLiteral(KELVANE_SOURCE_DIR) + u'/');
        if (!language.isEmpty())
            host.lang().LoadLanguage(language, true);
        QFont font = QApplication::font();
        font.setPointSize(8);
        QApplication::setFont(font);
        TkvFrameProgram frame(host);
        frame.setLayoutDirection(host.lang().RightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        frame.resize(460, 368);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.EnterForm(nullptr);
        QTreeWidgetItem *item = findNode(frame.tree(), node);
        QVERIFY(item);
        frame.tree()->setCurrentItem(item);
        auto *icon = frame.findChild<QLabel *>(u"ImageProgramInfoIcon"_s);
        QTRY_VERIFY(!icon->pixmap().isNull());
        QVERIFY(frame.grab().save(folder + u'/' + file));
    }
};

QTEST_MAIN(TestProgramFrame)
#include "test_program_frame.moc"
