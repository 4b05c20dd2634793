// SPDX-License-Identifier: GPL-3.0-or-later
// The main window with the real program list, driven by keys and clicks on
// whatever widget has the focus: where the keyboard is after the questions.

#include "ProgramFixture.h"

#include "gui/kvUnitSettings.h"
#include "program/kvUnitProgram.h"
#include "shell/kvUnitAbout.h"
#include "shell/kvUnitMain.h"
#include "shell/kvUnitMessage.h"
#include "target/kvOSCheck.h"
#include "target/Target.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using namespace kelvane::test;

class TestMainFocus : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        qputenv("appdata", m_dir.filePath(u"appdata"_s).toUtf8());
    }

    // Rename the first entry, confirm with Yes: the keys are the list's again,
    // and a click into it after that keeps every entry.
    void afterARenameTheListKeepsTheKeysAndItsEntries()
    {
        copyFolder(QStringLiteral(KELVANE_SOURCE_DIR) + u"/data/sample"_s, m_dir.filePath(u"prefix"_s));
        const auto target = Target::open(m_dir.filePath(u"prefix"_s));
        const TOSCheck osCheck(*target->registry());
        TkvFormMain main(
            *target, osCheck, [](TkvFrameHost &host, QWidget *parent) { return new TkvFrameProgram(host, parent); },
            [](TkvFrameHost &host, QWidget *parent) { return new TkvFrameSettings(host, parent); });
        auto *message = new TkvFormMessage(main.lang(), &main);
        main.setForms(message, new TkvFormAbout(main.lang(), TkvAboutInfo::fromConfig(), &main));
        QStringList asked;
        message->setTestHook([&asked](QDialog &dialog) {
            asked.append(dialog.findChild<QLabel *>(u"LabelMessage"_s)->text());
            dialog.findChild<QPushButton *>(u"ButtonMessageValid"_s)->click();
        });
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        auto *tree = main.findChild<QTreeWidget *>(u"TreeviewProgram"_s);
        QTRY_VERIFY(tree->hasFocus() && tree->topLevelItemCount() > 1);
        const int entries = tree->topLevelItemCount();

        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(0)).center());
        typeKey(Qt::Key_F2);
        QTRY_VERIFY(qobject_cast<QLineEdit *>(QApplication::focusWidget()));
        QApplication::focusWidget()->setProperty("text", QString());
        typeText("Beta-Tool");
        typeKey(Qt::Key_Return);
        QTRY_COMPARE(asked.size(), 1);
        // The window manager gives the window back once the question has
        // gone, and the name's editor with it.
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        QTRY_COMPARE(QApplication::focusWidget(), tree);
        QCOMPARE(tree->currentItem()->text(0), u"Beta-Tool"_s);

        typeText("bet");
        auto *filter = main.findChild<QLineEdit *>(u"EditProgramFilter"_s);
        QTRY_VERIFY(filter->isVisible());
        QCOMPARE(filter->text(), u"bet"_s);
        QCOMPARE(tree->topLevelItemCount(), 1);
        typeKey(Qt::Key_Escape);
        typeKey(Qt::Key_Escape);
        QTRY_VERIFY(!filter->isVisible());
        QCOMPARE(tree->topLevelItemCount(), entries);

        // Enter in the list sets the filtering flag; coming back into the
        // list with a click reads it anew, and shows it whole.
        typeKey(Qt::Key_Return);
        main.ButtonMenuPrograms->setFocus();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(2)).center());
        QCOMPARE(tree->topLevelItemCount(), entries);
        QCOMPARE(tree->currentItem(), tree->topLevelItem(2));
        QVERIFY(tree->hasFocus());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestMainFocus)
#include "test_shell_main_focus.moc"
