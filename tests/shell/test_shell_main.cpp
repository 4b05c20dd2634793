// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/kvCommonGui.h"
#include "gui/kvValueLabel.h"
#include "language/kvLanguage.h"
#include "settings/kvSettings.h"
#include "shell/kvUnitAbout.h"
#include "shell/kvUnitMain.h"
#include "shell/kvUnitMessage.h"
#include "shell/kvWindowPlacement.h"
#include "target/CommandRunner.h"
#include "target/kvOSCheck.h"
#include "target/Target.h"

#include "EmptyHive.h"
#include "RecordingRunner.h"

#include <QApplication>
#include <QFileInfo>
#include <QDir>
#include <QFile>
#include <QEnterEvent>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <limits>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

// A plain frame standing in for the program list or the preferences.
FrameFactory plainFrame(const QString &name)
{
    return [name](TkvFrameHost &, QWidget *parent) -> QWidget * {
        auto *frame = new QFrame(parent);
        frame->setObjectName(name);
        frame->setFocusPolicy(Qt::StrongFocus);
        auto *uninstall = new QPushButton(u"Uninstall"_s, frame);
        uninstall->setObjectName(u"ButtonProgramUninstall"_s);
        auto *link = new QLabel(u"https://example.org"_s, frame);
        link->setObjectName(u"LabelLink"_s);
        SetLinkStyle(link, true);
        auto *plain = new QLabel(u"Publisher:"_s, frame);
        plain->setObjectName(u"LabelPlain"_s);
        return frame;
    };
}

using kelvane::test::RecordingRunner;

void sendEnter(QWidget *widget)
{
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QCoreApplication::sendEvent(widget, &enter);
}

void sendLeave(QWidget *widget)
{
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &leave);
}

} // namespace

class TestMain : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        m_target = Target::open(QStringLiteral(KELVANE_TEST_DATA "/shell/xp/system.reg"));
        m_osCheck = std::make_unique<TOSCheck>(*m_target->registry());
    }
    void init()
    {
        m_appdata = std::make_unique<QTemporaryDir>();
        qputenv("appdata", m_appdata->path().toUtf8());
    }
    void cleanup()
    {
        m_main.reset();
        qunsetenv("appdata");
    }

    void firstStartCentred()
    {
        createMain();
        showMain();
        QCOMPARE(m_main->size(), QSize(608, 429));
        const QPoint centre = m_main->screen()->availableGeometry().center();
        QVERIFY((m_main->frameGeometry().center() - centre).manhattanLength() <= 2);
        QTRY_VERIFY(frame(0)->isVisible());
        QVERIFY(frame(1)->isHidden());
        QTRY_COMPARE(QApplication::focusWidget(), frame(0));
        QCOMPARE(m_main->windowTitle(), u"Kelvane"_s);
    }

    void savedGeometryRestored_data()
    {
        QTest::addColumn<QRect>("saved"); // left, top, width, height
        QTest::addColumn<QRect>("shown");
        QTest::newRow("place and size") << QRect(200, 100, 700, 500) << QRect(200, 100, 700, 500);
        QTest::newRow("size never saved") << QRect(20, 10, -1, -1) << QRect(20, 10, 608, 429);
        QTest::newRow("below the minimum") << QRect(20, 10, 300, 200) << QRect(20, 10, 608, 429);
    }
    void savedGeometryRestored()
    {
        QFETCH(QRect, saved);
        QFETCH(QRect, shown);
        saveSettings({false, saved.top(), saved.left(), saved.width(), saved.height()});
        createMain();
        showMain();
        QCOMPARE(m_main->pos(), shown.topLeft());
        QCOMPARE(m_main->size(), shown.size());
    }

    void hostileGeometryStaysOnScreen_data()
    {
        // As settings.ini holds them: left, top, width, height.
        QTest::addColumn<QList<qint32>>("saved");
        constexpr qint32 largest = std::numeric_limits<qint32>::max();
        constexpr qint32 smallest = std::numeric_limits<qint32>::min();
        QTest::newRow("huge") << QList<qint32>{0, 0, 30000, 30000};
        QTest::newRow("off every screen") << QList<qint32>{-30000, -30000, 700, 500};
        QTest::newRow("far right and down") << QList<qint32>{50000, 40000, 700, 500};
        QTest::newRow("largest numbers") << QList<qint32>{largest, largest, largest, largest};
        QTest::newRow("smallest numbers") << QList<qint32>{smallest, smallest, 100, 100};
    }
    void hostileGeometryStaysOnScreen()
    {
        QFETCH(QList<qint32>, saved);
        saveSettings({false, saved[1], saved[0], saved[2], saved[3]});
        createMain();
        showMain();
        const QRect available = m_main->screen()->availableGeometry();
        // No larger than the screen, and the title bar where it can be grabbed.
        const QRect outer = m_main->frameGeometry();
        QVERIFY(outer.width() <= available.width() && outer.height() <= available.height());
        QVERIFY(available.contains(QRect(outer.topLeft(), QSize(qMin(outer.width(), 100), 30))));
    }

    void placementOnScreens_data()
    {
        QTest::addColumn<QRect>("wanted");
        QTest::addColumn<QRect>("placed");
        QTest::newRow("kept") << QRect(100, 100, 800, 600) << QRect(100, 100, 800, 600);
        QTest::newRow("across both screens") << QRect(1500, 100, 800, 600) << QRect(1500, 100, 800, 600);
        QTest::newRow("second screen") << QRect(2000, 100, 800, 600) << QRect(2000, 100, 800, 600);
        QTest::newRow("too large") << QRect(0, 0, 30000, 30000) << QRect(0, 0, 1920, 1040);
        QTest::newRow("taller than its screen") << QRect(2000, 0, 800, 1200) << QRect(2000, 0, 800, 1000);
        QTest::newRow("off every screen") << QRect(-30000, -30000, 800, 600) << QRect(0, 0, 800, 600);
        QTest::newRow("title bar above the top") << QRect(100, -20, 800, 600) << QRect(100, 0, 800, 600);
        QTest::newRow("title bar barely showing") << QRect(3150, 100, 800, 600) << QRect(2400, 100, 800, 600);
    }
    void placementOnScreens()
    {
        QFETCH(QRect, wanted);
        QFETCH(QRect, placed);
        const QList<QRect> screens{QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1000)};
        QCOMPARE(PlaceOnScreens(wanted, screens, 30), placed);
    }

    void geometrySavedOnClose()
    {
        createMain();
        showMain();
        m_main->move(150, 120);
        m_main->resize(640, 480);
        QVERIFY(m_main->close());
        TSettings saved;
        QVERIFY(saved.Load(settingsPath()));
        QCOMPARE(QRect(saved.Left, saved.Top, saved.Width, saved.Height), QRect(150, 120, 640, 480));
        QVERIFY(!saved.Maximized);

        createMain();
        showMain();
        QCOMPARE(m_main->pos(), QPoint(150, 120));
        QCOMPARE(m_main->size(), QSize(640, 480));
    }

    void maximisedOnceAtFirstPaint()
    {
        saveSettings({true, 10, 10, 700, 500});
        createMain();
        showMain();
        QTRY_VERIFY(m_main->isMaximized());
        m_main->showNormal();
        QTRY_VERIFY(!m_main->isMaximized());
        // Later paints leave the user's choice alone.
        m_main->repaint();
        QCoreApplication::processEvents();
        QVERIFY(!m_main->isMaximized());
        QVERIFY(m_main->close());
        TSettings saved;
        QVERIFY(saved.Load(settingsPath()));
        QVERIFY(!saved.Maximized);
    }

    void menuLayout()
    {
        createMain();
        showMain();
        const int panelHeight = m_main->ButtonMenuQuit->parentWidget()->height();
        QCOMPARE(m_main->ButtonMenuPrograms->geometry(), QRect(4, 4, 112, 40));
        QCOMPARE(m_main->ButtonMenuComponents->geometry(), QRect(4, 52, 112, 40));
        QCOMPARE(m_main->ButtonMenuSettings->geometry(), QRect(4, 100, 112, 40));
        QCOMPARE(m_main->ButtonMenuQuit->geometry(), QRect(4, panelHeight - 4 - 32, 112, 32));
        QCOMPARE(m_main->ButtonMenuAbout->geometry(), QRect(4, panelHeight - 4 - 32 - 8 - 32, 112, 32));
        QCOMPARE(m_main->ButtonMenuPrograms->text(), u"Installed &applications"_s);
        auto *hint = m_main->findChild<QLabel *>(u"StatusBarMainHint"_s);
        auto *target = m_main->findChild<QLabel *>(u"StatusBarMainTarget"_s);
        QVERIFY(hint && target);
        QCOMPARE(hint->width(), 400);
        QCOMPARE(target->text(), m_target->description());
    }

    void outOfDateHiveIsSaid()
    {
        // A hive whose base block says a write did not end: its logs are newer.
        const QString file = m_appdata->filePath(u"SOFTWARE"_s);
        kelvane::test::HiveBuilder(file).commit();
        QFile hive(file);
        QVERIFY(hive.open(QIODevice::ReadWrite));
        QByteArray bytes = hive.readAll();
        bytes[kelvane::test::HivePrimarySequence] = char(bytes[kelvane::test::HivePrimarySequence] + 1);
        kelvane::test::resealHive(bytes);
        QVERIFY(hive.seek(0) && hive.write(bytes) == bytes.size());
        hive.close();
        const std::unique_ptr<Target> target = Target::open(file);
        createMain(target.get());
        QCOMPARE(m_main->findChild<QLabel *>(u"StatusBarMainTarget"_s)->property("text").toString(),
                 target->description() + u" \u2014 The list may be out of date: the log files of this hive hold newer "
                                         "changes, so it cannot be edited."_s);
        m_main.reset();
    }

    void buttonHints_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("hint");
        QTest::newRow("quit") << u"ButtonMenuQuit"_s << u"Quit program"_s;
        QTest::newRow("programs") << u"ButtonMenuPrograms"_s << u"Manage applications installed on your computer"_s;
        QTest::newRow("hint missing from the catalogue") << u"ButtonMenuAbout"_s << u"before"_s;
    }
    void buttonHints()
    {
        QFETCH(QString, button);
        QFETCH(QString, hint);
        createMain();
        m_main->lang().Strings.setValue(u"HintButtonMenuAbout"_s, QString());
        m_main->setStatusText(u"before"_s);
        auto *widget = m_main->findChild<QPushButton *>(button);
        QVERIFY(widget);
        sendEnter(widget);
        QCOMPARE(m_main->statusText(), hint);
        sendLeave(widget);
        QCOMPARE(m_main->statusText(), QString());
    }

    void frameHints_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("hint");
        QTest::newRow("frame button") << u"ButtonProgramUninstall"_s << u"Uninstall selected application or update"_s;
        QTest::newRow("link label") << u"LabelLink"_s << u"Open this link into your Web browser"_s;
        QTest::newRow("plain label") << u"LabelPlain"_s << u"before"_s;
    }
    void frameHints()
    {
        QFETCH(QString, control);
        QFETCH(QString, hint);
        createMain();
        m_main->setStatusText(u"before"_s);
        QObject *sender = frame(0)->findChild<QObject *>(control);
        QVERIFY(sender);
        m_main->DisplayStatusHint(sender);
        QCOMPARE(m_main->statusText(), hint);
    }

    // A registry a second start names waits for the question or the wait on
    // screen: answering it must not answer another.
    void targetOfferedOnlyToAFreeWindow()
    {
        createMain();
        showMain();
        QStringList asked;
        m_message->setTestHook([&asked](QDialog &dialog) {
            asked.append(dialog.findChild<QLabel *>(u"LabelMessage"_s) ? u"message"_s : u"question"_s);
            dialog.reject();
        });
        m_main->setEnabled(false); // as while an uninstaller runs
        m_main->OfferTarget(QStringLiteral(KELVANE_TEST_DATA "/shell/win7/system.reg"));
        QTest::qWait(50);
        QVERIFY(asked.isEmpty());
        m_main->setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(asked.size(), 1, 5000);
        // The registry it already manages is not offered.
        m_main->OfferTarget(QStringLiteral(KELVANE_TEST_DATA "/shell/xp"));
        QTest::qWait(50);
        QCOMPARE(asked.size(), 1);
    }

    void frameSwitching()
    {
        createMain();
        showMain();
        QTRY_COMPARE(QApplication::focusWidget(), frame(0));

        QTest::mouseClick(m_main->ButtonMenuSettings, Qt::LeftButton);
        QVERIFY(frame(1)->isVisible());
        QVERIFY(frame(0)->isHidden());
        QCOMPARE(QApplication::focusWidget(), frame(1));

        // Already showing: nothing happens, so the focus stays on the button.
        m_main->ButtonMenuSettings->setFocus();
        QTest::mouseClick(m_main->ButtonMenuSettings, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), m_main->ButtonMenuSettings);
        QVERIFY(frame(1)->isVisible());

        // A dialog returning the focus is no new start: the preferences stay.
        m_message->setTestHook([](QDialog &dialog) { dialog.reject(); });
        m_main->DisplayMessage(u"Done."_s);
        m_about->setTestHook([](QDialog &dialog) { dialog.reject(); });
        QTest::mouseClick(m_main->ButtonMenuAbout, Qt::LeftButton);
        m_main->activateWindow();
        QTRY_VERIFY(m_main->isActiveWindow());
        QVERIFY(frame(1)->isVisible());
        QVERIFY(frame(0)->isHidden());

        QTest::mouseClick(m_main->ButtonMenuPrograms, Qt::LeftButton);
        QVERIFY(frame(0)->isVisible());
        QVERIFY(frame(1)->isHidden());
        QCOMPARE(QApplication::focusWidget(), frame(0));
    }

    void otherPageHiddenBeforeAPageShows()
    {
        createMain();
        showMain();
        QTRY_COMPARE(QApplication::focusWidget(), frame(0));
        // What a page sees when it is shown, and so while its entry runs.
        struct ShowWatch : QObject
        {
            QWidget *other = nullptr;
            QList<bool> otherVisible;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == QEvent::Show)
                    otherVisible.append(other->isVisible());
                return false;
            }
        } watch;
        watch.other = frame(0);
        frame(1)->installEventFilter(&watch);
        QTest::mouseClick(m_main->ButtonMenuSettings, Qt::LeftButton);
        QCOMPARE(watch.otherVisible, QList<bool>{false});
        QVERIFY(frame(1)->isVisible());
    }

    void longTargetPathLosesItsMiddle()
    {
        QTemporaryDir deep;
        const QString folder = deep.path() + u'/' + QString(120, u'd') + u"/prefix"_s;
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(QStringLiteral(KELVANE_TEST_DATA "/shell/xp/system.reg"), folder + u"/system.reg"_s));
        const std::unique_ptr<Target> target = Target::open(folder);
        createMain(target.get());
        showMain();
        auto *status = m_main->findChild<TkvValueLabel *>(u"StatusBarMainTarget"_s);
        QVERIFY(status);
        QCOMPARE(status->text(), target->description());
        const QString shown = status->shownText();
        QVERIFY2(shown.size() < status->text().size() && shown.endsWith(u"/prefix"_s), qPrintable(shown));
        QVERIFY(shown.startsWith(status->text().left(3)));
        QCOMPARE(status->toolTip(), PlainToolTip(status->text()));
        m_main.reset();
    }

    void unreadableSettingsAreSaidOnceTheWindowIsUp()
    {
        // A named pipe as settings.ini used to hang the start before any window.
        QVERIFY(QDir().mkpath(QFileInfo(settingsPath()).path()));
        QCOMPARE(::mkfifo(QFile::encodeName(settingsPath()).constData(), 0600), 0);
        createMain();
        QStringList shown;
        m_message->setTestHook([&shown, this](QDialog &dialog) {
            shown.append(m_message->LabelMessage->text());
            dialog.done(-1);
        });
        showMain();
        QTRY_COMPARE(shown.size(), 1);
        QVERIFY2(shown.first().startsWith(u"Your preferences could not be read"_s)
                     && shown.first().contains(u"settings.ini is a named pipe"_s),
                 qPrintable(shown.first()));
        // Nothing is written over it, and that is said too.
        m_main->close();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown.last().startsWith(u"Your preferences could not be saved"_s), qPrintable(shown.last()));
        QVERIFY(QFileInfo(settingsPath()).isFile() == false);
    }

    void confirmationThroughTheHost()
    {
        createMain();
        m_message->setTestHook([](QDialog &dialog) {
            QTest::keyClick(dialog.focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QTest::keyClick(dialog.focusWidget(), Qt::Key_Space);
            if (dialog.isVisible())
                dialog.done(-1);
        });
        QVERIFY(m_main->DisplayConfirmation(u"Sure?"_s));
    }

    void saveFileDialog()
    {
        createMain();
        const QString chosen = m_appdata->filePath(u"list.txt"_s);
        QString offered;
        m_main->setDialogHook([&](QDialog &dialog) {
            auto &files = static_cast<QFileDialog &>(dialog);
            offered = files.selectedFiles().value(0);
            files.selectFile(chosen);
            static_cast<QDialog &>(files).accept();
        });
        QCOMPARE(m_main->GetSaveFileName(u"Kelvane_20070619_2222.txt"_s, u"Text files (*.txt)"_s), chosen);
        QVERIFY(offered.endsWith(u"/Kelvane_20070619_2222.txt"_s));
        m_main->setDialogHook([](QDialog &dialog) { dialog.reject(); });
        QCOMPARE(m_main->GetSaveFileName(u"x.txt"_s, QString()), QString());
    }

    void componentsCommand_data()
    {
        QTest::addColumn<QString>("registry");
        QTest::addColumn<QString>("command");
        QTest::newRow("XP") << u"xp"_s << u"sysocmgr.exe /i:C:\\WINDOWS\\inf\\sysoc.inf"_s;
        QTest::newRow("Vista") << u"vista"_s << u"OptionalFeatures.exe"_s;
    }
    void componentsCommand()
    {
        QFETCH(QString, registry);
        QFETCH(QString, command);
        const auto target = Target::open(QStringLiteral(KELVANE_TEST_DATA "/shell/") + registry + u"/system.reg"_s);
        const TOSCheck check(*target->registry());
        QCOMPARE(TkvFormMain::WindowsComponentsCommand(check, *target->registry()), command);
    }

    void componentsWaitWithTheWindowDisabled()
    {
        createMain();
        showMain();
        RecordingRunner runner;
        runner.window = m_main.get();
        m_main->setCommandRunner(&runner);
        QTest::mouseClick(m_main->ButtonMenuComponents, Qt::LeftButton);
        QCOMPARE(runner.commandLines, QStringList{u"sysocmgr.exe /i:C:\\WINDOWS\\inf\\sysoc.inf"_s});
        QVERIFY(!runner.enabledWhileWaiting.isEmpty());
        QVERIFY(!runner.enabledWhileWaiting.contains(true));
        QVERIFY(m_main->isEnabled());
    }

    // A wait that only other Windows programs keep going says so in a window
    // of its own, which Escape (there) closes, ending the wait.
    void waitForOtherProgramsStopsWithEscape()
    {
        createMain();
        showMain();
        RecordingRunner runner;
        runner.window = m_main.get();
        runner.othersKeepRunning = true;
        m_main->setCommandRunner(&runner);
        QPointer<QWidget> notice;
        QTimer person;
        person.setInterval(20);
        connect(&person, &QTimer::timeout, this, [&] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (window->objectName() == u"kvFormWait"_s && window->isVisible() && window->isEnabled()) {
                    notice = window;
                    person.stop();
                    QTest::keyClick(window, Qt::Key_Escape);
                }
            }
        });
        person.start();
        // After the grace of a few seconds; and never hang.
        QTimer::singleShot(20000, this, [&runner] { runner.othersKeepRunning = false; });
        QTest::mouseClick(m_main->ButtonMenuComponents, Qt::LeftButton);
        QVERIFY(notice);
        QVERIFY(!notice->isVisible());
        QVERIFY(m_main->isEnabled());
        QVERIFY(notice->findChild<QLabel *>(u"LabelWait"_s)->text().startsWith(
            u"Waiting for the Windows programs still running in the prefix "_s
            + QDir::toNativeSeparators(m_target->description())));
        QCOMPARE(notice->findChild<QPushButton *>(u"ButtonWaitStop"_s)->text(), u"&Stop waiting"_s);
    }

    void bringToFrontRestoresMinimised()
    {
        createMain();
        showMain();
        m_main->showMinimized();
        QTRY_VERIFY(m_main->isMinimized());
        m_main->BringToFront();
        QTRY_VERIFY(!m_main->isMinimized());
        QVERIFY(m_main->isVisible());
    }

private:
    QString settingsPath() const { return m_appdata->path() + u"/Kelvane/settings.ini"_s; }

    void saveSettings(const TWindowState &state)
    {
        TSettings settings;
        QVERIFY(settings.Save(state, settingsPath()));
    }

    void createMain(Target *target = nullptr)
    {
        m_main.reset();
        m_main = std::make_unique<TkvFormMain>(target ? *target : *m_target, *m_osCheck, plainFrame(u"kvFrameProgram"_s),
                                               plainFrame(u"kvFrameSettings"_s),
                                               QStringLiteral(KELVANE_SOURCE_DIR));
        m_message = new TkvFormMessage(m_main->lang(), m_main.get());
        m_about = new TkvFormAbout(m_main->lang(), TkvAboutInfo{}, m_main.get());
        m_main->setForms(m_message, m_about);
    }

    void showMain()
    {
        m_main->show();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    }

    QWidget *frame(int index) const { return m_main->frameList().at(index); }

    std::unique_ptr<Target> m_target;
    std::unique_ptr<TOSCheck> m_osCheck;
    std::unique_ptr<QTemporaryDir> m_appdata;
    std::unique_ptr<TkvFormMain> m_main;
    TkvFormMessage *m_message = nullptr;
    TkvFormAbout *m_about = nullptr;
};

QTEST_MAIN(TestMain)
#include "test_shell_main.moc"
