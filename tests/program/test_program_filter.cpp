// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's type-ahead filter, driven with real key events: a key
// press goes to the widget with the focus, and so does its release (which,
// for the key that opens the box, is the box).

#include "ProgramFixture.h"

#include "registry/WineRegistryFile.h"
#include "settings/kvSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using namespace kelvane::test;

namespace {

QStringList topLevel(const QTreeWidget *tree)
{
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        texts.append(tree->topLevelItem(i)->text(0));
    return texts;
}

} // namespace

class TestProgramFilter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void typingNarrowsAndTheBoxClosesBySelf()
    {
        Fixture f = makeShownFixture();
        auto *box = f.child<QFrame>(u"PanelProgramFilter"_s);
        typeText("ab");
        QVERIFY(box->isVisible());
        QCOMPARE(f.child<QLineEdit>(u"EditProgramFilter"_s)->text(), u"ab"_s);
        QCOMPARE(QApplication::focusWidget(), f.child<QLineEdit>(u"EditProgramFilter"_s));
        // Harborline by its "Tax Tables" updates, in any letter case.
        QCOMPARE(topLevel(f.tree()), (QStringList{u"Harborline Accounting 2007"_s, u"Ibis Label Designer"_s}));
        // Centred over the tree, divisions truncated.
        const QRect tree = f.tree()->geometry();
        QCOMPARE(box->pos(), QPoint(tree.left() + (tree.width() - box->width()) / 2,
                                    tree.top() + (tree.height() - box->height()) / 2));
        QElapsedTimer sinceLastKey;
        sinceLastKey.start();
        QTRY_VERIFY_WITH_TIMEOUT(!box->isVisible(), 3000);
        QVERIFY(sinceLastKey.elapsed() >= 900);
        QVERIFY(f.tree()->hasFocus());
        QCOMPARE(topLevel(f.tree()), (QStringList{u"Harborline Accounting 2007"_s, u"Ibis Label Designer"_s}));
    }

    void updatesCountWithShowUpdatesOff()
    {
        Fixture f = makeShownFixture();
        f.host->settings().ShowUpdates = false;
        typeText("tax");
        QCOMPARE(topLevel(f.tree()), QStringList{u"Harborline Accounting 2007"_s});
        QCOMPARE(f.tree()->topLevelItem(0)->childCount(), 0);
    }

    void bracketIsASet()
    {
        Fixture f = makeShownFixture();
        typeText("[hl]a");
        const QStringList shown = topLevel(f.tree());
        QVERIFY2(shown.contains(u"Harborline Accounting 2007"_s) && shown.contains(u"Larkspur Notes 3.2"_s),
                 qPrintable(shown.join(u", "_s)));
        QVERIFY2(!shown.contains(u"Pinecone Archiver"_s), qPrintable(shown.join(u", "_s)));
        // "[", "[h" and "[hl" are no masks yet: each says so, and the next key rebuilds.
        QCOMPARE(f.host->messages.size(), 3);
    }

    void questionMarkIsAWildcard()
    {
        Fixture f = makeShownFixture();
        typeText("o?e");
        QCOMPARE(topLevel(f.tree()),
                 (QStringList{u"Cobalt Data Access Components 2.8"_s, u"Fennel Scope Analyzer 3"_s,
                              u"Larkspur Notes 3.2"_s, u"Pinecone Archiver"_s, u"Pinecone Archiver"_s,
                              u"Thistle Remote Assistant"_s}));
    }

    void escapeEmptiesThenCloses()
    {
        Fixture f = makeShownFixture();
        const int all = f.tree()->topLevelItemCount();
        auto *box = f.child<QFrame>(u"PanelProgramFilter"_s);
        typeText("ab");
        typeKey(Qt::Key_Escape);
        QVERIFY(box->isVisible());
        QCOMPARE(f.child<QLineEdit>(u"EditProgramFilter"_s)->text(), QString());
        QCOMPARE(f.tree()->topLevelItemCount(), all);
        typeKey(Qt::Key_Escape);
        QVERIFY(!box->isVisible());
        QVERIFY(f.tree()->hasFocus());
    }

    void refreshKeepsTheFilterAndBackspaceReopensIt()
    {
        Fixture f = makeShownFixture();
        auto *box = f.child<QFrame>(u"PanelProgramFilter"_s);
        typeText("ab");
        typeKey(Qt::Key_Return);
        QVERIFY(!box->isVisible());
        // An installer adds a matching entry: only a rescan, not a rebuild
        // from memory, shows it.
        {
            const auto installer = WineRegistryFile::open(f.dir->path() + u"/system.reg"_s);
            addEntry(*installer, u"Abacus"_s, u"Abacus Tool"_s);
            installer->save();
        }
        typeKey(Qt::Key_F5);
        QVERIFY(f.host->statusText().startsWith(u"Items count: 3"_s));
        QCOMPARE(topLevel(f.tree()), (QStringList{u"Abacus Tool"_s, u"Harborline Accounting 2007"_s,
                                                  u"Ibis Label Designer"_s}));
        typeKey(Qt::Key_Backspace);
        QVERIFY(box->isVisible());
        QCOMPARE(f.child<QLineEdit>(u"EditProgramFilter"_s)->text(), u"a"_s);
    }

    // With no node left the box stays open for more typing: no timer closes
    // it, and Enter does nothing.
    void noNodeLeftKeepsTheBoxOpen()
    {
        Fixture f = makeShownFixture();
        auto *box = f.child<QFrame>(u"PanelProgramFilter"_s);
        auto *timer = f.frame->findChild<QTimer *>(u"TimerProgram"_s);
        typeText("zq");
        QCOMPARE(f.tree()->topLevelItemCount(), 0);
        QVERIFY(!timer->isActive());
        typeKey(Qt::Key_Return);
        QVERIFY(box->isVisible());
        QVERIFY(f.frame->Filtering);
        QCOMPARE(QApplication::focusWidget(), f.child<QLineEdit>(u"EditProgramFilter"_s));
        typeKey(Qt::Key_Backspace);
        QVERIFY(f.tree()->topLevelItemCount() > 0);
        QVERIFY(timer->isActive());
    }

    // The commands editor, opened from the menu while the box is open, closes
    // the box: the list it leaves behind matches the text the box holds.
    void commandsEditorClosesTheBox()
    {
        Fixture f = makeShownFixture();
        f.host->settings().AllowEdition = true;
        auto *box = f.child<QFrame>(u"PanelProgramFilter"_s);
        auto *text = f.child<QLineEdit>(u"EditProgramFilter"_s);
        typeText("ab");
        QVERIFY(f.tree()->currentItem());
        f.action(u"PopupProgramEditCommands"_s)->trigger();
        QVERIFY(f.frame->CommandsEditing);
        QVERIFY(!box->isVisible());
        typeText("x");
        QTest::mouseClick(f.child<QPushButton>(u"ButtonProgramCommandsCancel"_s), Qt::LeftButton);
        QCOMPARE(text->text(), u"ab"_s);
        QCOMPARE(topLevel(f.tree()), (QStringList{u"Harborline Accounting 2007"_s, u"Ibis Label Designer"_s}));
    }

    void enterAndCtrlSNeverOpenTheBox()
    {
        Fixture f = makeShownFixture();
        auto *box = f.child<QFrame>(u"PanelProgramFilter"_s);
        typeKey(Qt::Key_Return);
        QVERIFY(!box->isVisible());
        typeKey(Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.host->saveDialogDefaults.size(), 1); // the export's dialog, cancelled
        QVERIFY(!box->isVisible());
        QVERIFY(f.child<QLineEdit>(u"EditProgramFilter"_s)->text().isEmpty());
    }
};

QTEST_MAIN(TestProgramFilter)
#include "test_program_filter.moc"
